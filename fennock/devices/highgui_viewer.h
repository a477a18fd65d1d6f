#pragma once

#include "core/image_viewer.h"

#include <opencv2/core.hpp>

#include <string>

namespace fennock {

// The real windows: highgui, autosized, without toolbar and status bar.
class HighguiViewer : public ImageViewer {
 public:
  void createWindow(const std::string& name) override;
  void show(const std::string& name, const cv::Mat& image) override;
  void destroyWindow(const std::string& name) override;
};

}  // namespace fennock
