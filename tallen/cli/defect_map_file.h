#pragma once

#include <opencv2/core.hpp>

#include <string>

namespace tallen {

// "<stem>_defects.png" for the picture at `imagePath` (directories and extension dropped).
std::string defectMapFileName(const std::string& imagePath);

// Writes `map` (the 8-bit defect map as shown) as PNG to `path`: first to a temporary file in the
// same directory, then renamed over `path`, so that a failure leaves no file and any previous one
// as it was. Creates the directory when it is missing. Throws InspectionError naming the file.
void writeDefectMap(const cv::Mat& map, const std::string& path);

}  // namespace tallen
