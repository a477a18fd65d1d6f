#pragma once

#include <opencv2/core.hpp>

#include <string>

namespace fennock {

// "good_<n>.jpg" in `directory` (the working directory when empty).
std::string samplePath(const std::string& directory, int number);

// Writes `image` as JPEG (library defaults) to `path`, replacing the file only once the whole
// picture is on disk. Returns false and sets `error` to a message naming the file and the
// problem when it cannot; `path` is then left as it was.
bool writeSampleFile(const std::string& path, const cv::Mat& image, std::string& error);

}  // namespace fennock
