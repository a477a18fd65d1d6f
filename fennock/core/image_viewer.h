#pragma once

#include <opencv2/core.hpp>

#include <string>

namespace fennock {

// The run's image windows, by name: highgui in the program, recorders in tests.
class ImageViewer {
 public:
  virtual ~ImageViewer() = default;
  // Opens the window `name`, sized to the picture it will show.
  virtual void createWindow(const std::string& name) = 0;
  // Shows `image` in the window `name`, replacing its picture.
  virtual void show(const std::string& name, const cv::Mat& image) = 0;
  // Closes the window `name`.
  virtual void destroyWindow(const std::string& name) = 0;
};

}  // namespace fennock
