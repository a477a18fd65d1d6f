#include "dialog/source_image.h"

#include <opencv2/imgcodecs.hpp>

#include "core/picture_file.h"
#include "core/procedure_error.h"

namespace tallen {

std::unique_ptr<SourceImage> g_sourceImage;
int g_sampleCount = 0;

namespace {

// A file that does not decode whole (cut short, too large, corrupt) is an ordinary outcome of a
// choice: the holder stays empty and the dialog says the file could not be read as an image.
cv::Mat decodeColour(const std::string& path) {
  try {
    return readPicture(path, cv::IMREAD_COLOR);
  } catch (const InspectionError&) {
    return cv::Mat();
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
