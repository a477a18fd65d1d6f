#include "core/sample_file.h"

#include <opencv2/imgcodecs.hpp>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

namespace fennock {

namespace {

constexpr char kTemporarySuffix[] = ".part";

std::string failure(const std::string& path, const std::string& problem) {
  return "cannot write sample " + path + ": " + problem;
}

}  // namespace

std::string samplePath(const std::string& directory, int number) {
  const std::string name = "good_" + std::to_string(number) + ".jpg";
  return directory.empty() ? name : directory + "/" + name;
}

bool writeSampleFile(const std::string& path, const cv::Mat& image, std::string& error) {
  std::vector<uchar> bytes;
  bool encoded = false;
  try {
    encoded = !image.empty() && cv::imencode(".jpg", image, bytes);
  } catch (const cv::Exception& e) {
    error = failure(path, e.what());
    return false;
  }
  if (!encoded) {
    error = failure(path, "the image cannot be encoded as JPEG");
    return false;
  }

  const std::string temporary = path + kTemporarySuffix;
  std::FILE* file = std::fopen(temporary.c_str(), "wb");
  if (file == nullptr) {
    error = failure(path, std::strerror(errno));
    return false;
  }
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  const int writeErrno = errno;
  const bool closed = std::fclose(file) == 0;
  if (!written || !closed) {
    error = failure(path, std::strerror(written ? errno : writeErrno));
    std::remove(temporary.c_str());
    return false;
  }
  if (std::rename(temporary.c_str(), path.c_str()) != 0) {
    error = failure(path, std::strerror(errno));
    std::remove(temporary.c_str());
    return false;
  }
  return true;
}

}  // namespace fennock
