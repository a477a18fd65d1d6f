#include "core/bright_mask.h"

#include <opencv2/imgproc.hpp>

namespace tallen {
namespace {

const cv::Size kBlurAperture(5, 5);

}  // namespace

cv::Mat brightMask(const cv::Mat& colour) {
  cv::Mat gray;
  cv::Mat mask;
  brightMask(colour, gray, mask);
  return mask;
}

void brightMask(const cv::Mat& colour, cv::Mat& gray, cv::Mat& mask) {
  cv::cvtColor(colour, gray, cv::COLOR_BGR2GRAY);
  // Replicated border: OpenCV's default reflection moves the Otsu threshold near the edges.
  // Blurred into the mask, as a blur in place would copy its input first.
  cv::GaussianBlur(gray, mask, kBlurAperture, 0, 0, cv::BORDER_REPLICATE);
  cv::threshold(mask, mask, 0, 255, cv::THRESH_BINARY | cv::THRESH_OTSU);
}

}  // namespace tallen
