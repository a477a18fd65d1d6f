#include "cli/picture_input.h"

#include "core/picture_file.h"

#include <opencv2/imgcodecs.hpp>

namespace tallen {
namespace {

InspectionError cannotRead(const std::string& path, const PictureError& error) {
  return InspectionError("cannot read the image " + path + ": " + error.reason());
}

}  // namespace

void checkPicture(const std::string& path) {
  try {
    requirePixelLimit(path, readPictureHeader(path).size);
  } catch (const PictureError& e) {
    throw cannotRead(path, e);
  }
}

cv::Mat loadPicture(const std::string& path) {
  try {
    return readPicture(path, cv::IMREAD_COLOR);
  } catch (const PictureError& e) {
    throw cannotRead(path, e);
  }
}

ProcedureResult processPicture(const std::string& path, int mode, ImageViewer& viewer,
                               const Console& console) {
  const cv::Mat picture = loadPicture(path);
  try {
    return processImage(picture, mode, viewer, console);
  } catch (const PictureRefusal& e) {
    throw PictureRefusal(path + ": " + e.what());
  }
}

}  // namespace tallen
