#include "dialog/source_image.h"

#include <opencv2/imgcodecs.hpp>

#include "core/procedure_error.h"

namespace tallen {

std::unique_ptr<SourceImage> g_sourceImage;
int g_sampleCount = 0;

namespace {

// A file the decoder rejects (too large, corrupt header) is an ordinary outcome of a choice.
cv::Mat decodeColour(const std::string& path) {
  try {
    return cv::imread(path, cv::IMREAD_COLOR);
  } catch (const cv::Exception&) {
    return cv::Mat();
  }
}

}  // namespace

SourceImage::SourceImage(const std::string& path, bool show, ImageViewer& viewer)
    : path_(path), image_(decodeColour(path)), viewer_(viewer) {
  if (show && !image_.empty()) viewer_.show(kOriginalWindow, image_);
}

ProcedureResult SourceImage::process(int mode) {
  if (image_.empty() && mode >= kTemplateMode) {
    throw InspectionError(path_ + ": could not read the chosen file as an image");
  }
  return processImage(image_, mode, viewer_);
}

}  // namespace tallen
