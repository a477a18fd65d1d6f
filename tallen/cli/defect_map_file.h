#pragma once

#include <opencv2/core.hpp>

#include <string>

namespace tallen {

// "<stem>_defects.png" for the picture at `imagePath` (directories and extension dropped).
std::string defectMapFileName(const std::string& imagePath);

// Writes `map` (the 8-bit defect map as shown) as PNG to `path` atomically (a synced temporary
// file renamed over it), so that a failure or a crash leaves any previous map as it was.
// Creates the directory when it is missing. Throws InspectionError naming the file and the
// system's reason.
void writeDefectMap(const cv::Mat& map, const std::string& path);

}  // namespace tallen
