#include "cli/overlay_file.h"

#include "cli/defect_map_file.h"
#include "core/procedure_error.h"

#include <filesystem>

namespace tallen {
namespace {

constexpr char kOverlaySuffix[] = "_overlay.png";
constexpr char kMapWording[] = "cannot write the defect map ";
const cv::Vec3b kRed(0, 0, 255);
constexpr int kDefective = 255;

}  // namespace

std::string overlayFileName(const std::string& imagePath) {
  return std::filesystem::path(imagePath).stem().string() + kOverlaySuffix;
}

cv::Mat paintDefects(const cv::Mat& patch, const cv::Mat& defectMask) {
  CV_Assert(patch.type() == CV_8UC3 && defectMask.type() == CV_8UC1);
  CV_Assert(patch.size() == defectMask.size());
  cv::Mat overlay = patch.clone();
  overlay.setTo(cv::Scalar(kRed), defectMask == kDefective);
  return overlay;
}

void writeOverlay(const cv::Mat& overlay, const std::string& path) {
  try {
    writeDefectMap(overlay, path);
  } catch (const InspectionError& error) {
    // The map writer's message would call the overlay a defect map.
    std::string message = error.what();
    if (message.rfind(kMapWording, 0) == 0) {
      message = "cannot write the overlay " + message.substr(sizeof kMapWording - 1);
    }
    throw InspectionError(message);
  }
}

}  // namespace tallen
