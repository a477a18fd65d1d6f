#pragma once

#include <opencv2/core.hpp>

#include <string>
#include <utility>
#include <vector>

namespace tallen {

// Loads a working image as stored (file's own depth and colour kind) and checks that it is
// 8-bit, 3 channels, `size`. Throws InspectionError naming the file and saying whether it is
// missing, unreadable or of the wrong size or kind.
cv::Mat loadWorkingImage(const std::string& path, cv::Size size);

// One file of a set that is replaced together: its path and its whole contents.
struct WorkingFile {
  std::string path;
  std::vector<uchar> bytes;
};

// The JPEG bytes of `image` as cv::imwrite would store them under `path`.
// Throws InspectionError naming `path` when the image cannot be encoded.
std::vector<uchar> encodeWorkingImage(const std::string& path, const cv::Mat& image);

// Writes every file to a temporary file beside its target and renames them into place only
// after all were written, so that a failure leaves every previous file as it was.
// Throws InspectionError naming the file that could not be written.
void saveWorkingFiles(const std::vector<WorkingFile>& files);

// Encodes every image as JPEG and saves them together as saveWorkingFiles does.
void saveWorkingImages(const std::vector<std::pair<std::string, cv::Mat>>& images);

}  // namespace tallen
