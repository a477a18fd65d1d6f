#pragma once

#include <opencv2/core.hpp>

namespace tallen {

// Share of non-zero bytes in the width x height window at the top-left corner of the 8-bit
// one-channel `image` (which must be at least that large). 0 for a width or height below 1.
float defectRatio(const cv::Mat& image, int width, int height);

}  // namespace tallen
