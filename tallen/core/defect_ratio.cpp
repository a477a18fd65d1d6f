#include "core/defect_ratio.h"

#include "core/procedure_error.h"

namespace tallen {

float defectRatio(const cv::Mat& image, int width, int height) {
  if (width < 1 || height < 1) return 0.0f;
  if (image.type() != CV_8UC1 || image.cols < width || image.rows < height) {
    throw InspectionError("defect map must be an 8-bit one-channel image of at least " +
                          std::to_string(width) + "x" + std::to_string(height));
  }
  // Counting bytes by hand: only the window is read, never the rest of a row or later rows.
  int count = 0;
  for (int y = 0; y < height; ++y) {
    const uchar* row = image.ptr<uchar>(y);
    for (int x = 0; x < width; ++x) {
      if (row[x] != 0) ++count;
    }
  }
  const int pixels = width * height;
  return static_cast<float>(static_cast<double>(count) / pixels);
}

}  // namespace tallen
