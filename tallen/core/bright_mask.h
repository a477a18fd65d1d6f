#pragma once

#include <opencv2/core.hpp>

namespace tallen {

// The bright-area mask every step uses: gray, 5x5 Gaussian with the border replicated, Otsu
// threshold (255 above it, 0 elsewhere). `colour` is 8-bit BGR; the result is CV_8UC1.
cv::Mat brightMask(const cv::Mat& colour);

// As above into caller-kept images, which are reused when they already have the right size:
// `gray` receives the gray image, `mask` the result.
void brightMask(const cv::Mat& colour, cv::Mat& gray, cv::Mat& mask);

}  // namespace tallen
