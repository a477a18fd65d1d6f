#pragma once

#include <opencv2/core.hpp>

namespace tallen {

// Marks the pixels of `patch` whose colour lies outside the model's tolerance: per channel
// max(0, |patch - mean| - threshold), then gray, 255 where the gray excess is at least 1, then a
// 3x3 median. All inputs are CV_8UC3 of one size; `defects` becomes CV_8UC1 of that size.
void computeDefectMap(const cv::Mat& patch, const cv::Mat& mean, const cv::Mat& threshold,
                      cv::Mat& defects);

}  // namespace tallen
