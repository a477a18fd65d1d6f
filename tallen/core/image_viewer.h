#pragma once

#include <opencv2/core.hpp>

#include <string>

namespace tallen {

// Where the procedure shows its pictures: one window per name, a later show under the same name
// replaces the picture. The real viewer wraps highgui; tests and the command line use others.
class ImageViewer {
 public:
  virtual ~ImageViewer() = default;
  // Opens the window `name` if it is not open yet and shows `image` in it.
  virtual void show(const std::string& name, const cv::Mat& image) = 0;
  // Closes every window of the process.
  virtual void closeAll() = 0;
  // False when a picture shown under `name` would be dropped, so that nobody copies it for this
  // viewer.
  virtual bool wants(const std::string& /*name*/) const { return true; }
};

// Shows nothing: the headless command line.
class NullViewer : public ImageViewer {
 public:
  void show(const std::string&, const cv::Mat&) override {}
  void closeAll() override {}
  bool wants(const std::string&) const override { return false; }
};

}  // namespace tallen
