#pragma once

#include <opencv2/core.hpp>

namespace tallen {

// Float work images of one accumulation, kept by the caller so that repeated calls reuse them.
struct SampleStatsBuffers {
  cv::Mat sum;
  cv::Mat squareSum;
  cv::Mat mean;
  cv::Mat spread;
  cv::Mat square;
};

// Folds sample number `n` (1-based) into the per-pixel model of good samples. `sample` is CV_32FC3
// holding 0..255; `mean` and `threshold` are CV_8UC3 of the sample's size, read for n >= 2 as the
// model of the previous n - 1 samples and overwritten with the new mean and five-sigma tolerance
// (allocated by the callee when empty or of another size, as for n = 1). `buffers` (may be null)
// holds the float work images between calls.
void accumulateSampleStats(int n, const cv::Mat& sample, cv::Mat& mean, cv::Mat& threshold,
                           SampleStatsBuffers* buffers = nullptr);

}  // namespace tallen
