#pragma once

#include <opencv2/core.hpp>

#include <string>

namespace tallen {

// "<stem>_overlay.png" for the picture at `imagePath` (directories and extension dropped).
std::string overlayFileName(const std::string& imagePath);

// The aligned 8-bit BGR `patch` with every pixel where `defectMask` (the unmarked 8-bit one-channel
// defect map of the same size) is 255 painted pure red (0, 0, 255); the others as in the patch.
cv::Mat paintDefects(const cv::Mat& patch, const cv::Mat& defectMask);

// Writes `overlay` as PNG to `path` as writeDefectMap writes a map (temporary file, rename, the
// directory made when missing). Throws InspectionError naming the file.
void writeOverlay(const cv::Mat& overlay, const std::string& path);

}  // namespace tallen
