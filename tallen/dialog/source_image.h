#pragma once

#include <memory>
#include <opencv2/core.hpp>
#include <string>

#include "core/image_viewer.h"
#include "core/procedure.h"

namespace tallen {

// Window of the chosen picture, shown at every confirmed file choice.
constexpr const char kOriginalWindow[] = "Original Image";
// Window that the register button fills with the chosen picture after each registration.
constexpr const char kResultingWindow[] = "Resulting Image";

// The picture the operator chose, decoded once, and the viewer its windows go to.
class SourceImage {
 public:
  // Decodes `path` as 8-bit BGR; the image stays empty when the file does not decode. With `show`
  // a decoded picture is shown under "Original Image" (an empty one leaves that window as it was).
  SourceImage(const std::string& path, bool show, ImageViewer& viewer);

  // One call of the inspection procedure with the held picture and `mode`. Throws InspectionError
  // naming the file when a mode that needs the picture (0 and up) meets an empty image.
  ProcedureResult process(int mode);

  // The decoded picture, 8-bit BGR, or empty.
  const cv::Mat& image() const { return image_; }
  // The path it was decoded from, as given.
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  cv::Mat image_;
  ImageViewer& viewer_;
};

// The holder of the latest confirmed file choice; null until the first.
extern std::unique_ptr<SourceImage> g_sourceImage;
// Register presses that reached the procedure without an error; the next register mode.
extern int g_sampleCount;

}  // namespace tallen
