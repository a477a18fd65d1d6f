#include "core/sample_file.h"

#include "storage/atomic_file.h"
#include "storage/storage_error.h"

#include <opencv2/imgcodecs.hpp>

#include <vector>

namespace fennock {

namespace {

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

  try {
    storage::writeFileAtomically(path, bytes);
  } catch (const storage::StorageError& e) {
    error = failure(path, e.reason());
    return false;
  }
  return true;
}

}  // namespace fennock
