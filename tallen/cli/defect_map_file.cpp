#include "cli/defect_map_file.h"

#include "core/procedure_error.h"

#include <opencv2/imgcodecs.hpp>

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

namespace tallen {
namespace {

namespace fs = std::filesystem;

constexpr char kMapSuffix[] = "_defects.png";

std::string failure(const std::string& path, const std::string& reason) {
  return "cannot write the defect map " + path + ": " + reason;
}

bool writeBytes(const fs::path& path, const std::vector<uchar>& bytes) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  const bool closed = std::fclose(file) == 0;
  return written && closed;
}

}  // namespace

std::string defectMapFileName(const std::string& imagePath) {
  return fs::path(imagePath).stem().string() + kMapSuffix;
}

void writeDefectMap(const cv::Mat& map, const std::string& path) {
  std::vector<uchar> bytes;
  if (map.empty() || !cv::imencode(".png", map, bytes)) {
    throw InspectionError(failure(path, "the map could not be encoded as PNG"));
  }
  const fs::path target(path);
  const fs::path directory = target.parent_path();
  std::error_code error;
  if (!directory.empty() && !fs::is_directory(directory, error)) {
    fs::create_directories(directory, error);
    if (error) throw InspectionError(failure(path, error.message()));
  }
  // Hidden and unique beside the target, so that the rename stays within one file system.
  const fs::path temporary =
      directory / ("." + target.filename().string() + ".tmp" + std::to_string(::getpid()));
  if (!writeBytes(temporary, bytes)) {
    const std::string reason = std::strerror(errno);
    fs::remove(temporary, error);
    throw InspectionError(failure(path, reason));
  }
  fs::rename(temporary, target, error);
  if (error) {
    std::error_code ignored;
    fs::remove(temporary, ignored);
    throw InspectionError(failure(path, error.message()));
  }
}

}  // namespace tallen
