#include "cli/defect_map_file.h"

#include "core/procedure_error.h"
#include "storage/atomic_file.h"
#include "storage/storage_error.h"

#include <opencv2/imgcodecs.hpp>

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
  try {
    storage::writeFileAtomically(path, bytes);
  } catch (const storage::StorageError& e) {
    throw InspectionError(failure(path, e.reason()));
  }
}

}  // namespace tallen
