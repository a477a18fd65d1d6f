#pragma once

#include <opencv2/core.hpp>

#include <optional>
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

// The whole contents of the file at `path`, or nullopt when it cannot be read.
std::optional<std::vector<uchar>> readWorkingFileBytes(const std::string& path);

// The JPEG bytes of `image` as cv::imwrite would store them under `path`.
// Throws InspectionError naming `path` when the image cannot be encoded.
std::vector<uchar> encodeWorkingImage(const std::string& path, const cv::Mat& image);

// Replaces the files (all in one folder) together: after a failure or a crash at any point the
// folder holds, once the next call has recovered it, either every previous file or every new
// one. Holds the folder's exclusive lock while it works (sharing one the thread holds).
// Throws InspectionError naming the file that could not be written, with the system's reason.
void saveWorkingFiles(const std::vector<WorkingFile>& files);

// Encodes every image as JPEG and saves them together as saveWorkingFiles does.
void saveWorkingImages(const std::vector<std::pair<std::string, cv::Mat>>& images);

}  // namespace tallen
