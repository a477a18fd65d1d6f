#include "core/defect_map.h"

#include <opencv2/imgproc.hpp>

namespace tallen {
namespace {

constexpr int kMedianAperture = 3;

}  // namespace

void computeDefectMap(const cv::Mat& patch, const cv::Mat& mean, const cv::Mat& threshold,
                      cv::Mat& defects) {
  cv::Mat excess;
  cv::absdiff(patch, mean, excess);
  cv::subtract(excess, threshold, excess);
  cv::cvtColor(excess, defects, cv::COLOR_BGR2GRAY);
  cv::threshold(defects, defects, 0, 255, cv::THRESH_BINARY);
  cv::medianBlur(defects, defects, kMedianAperture);
}

}  // namespace tallen
