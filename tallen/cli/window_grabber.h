#pragma once

#include "core/image_viewer.h"

#include <opencv2/core.hpp>

#include <string>
#include <utility>

namespace tallen {

// Opens no window; keeps a copy of the latest picture shown under one window name (the command
// line's way to get the defect map exactly as the dialog would show it).
class WindowGrabber : public ImageViewer {
 public:
  explicit WindowGrabber(std::string windowName) : windowName_(std::move(windowName)) {}

  void show(const std::string& name, const cv::Mat& image) override;
  void closeAll() override {}
  bool wants(const std::string& name) const override { return name == windowName_; }

  // The latest picture shown under the window name, or an empty Mat.
  const cv::Mat& grabbed() const { return grabbed_; }
  void clear() { grabbed_.release(); }

 private:
  std::string windowName_;
  cv::Mat grabbed_;
};

}  // namespace tallen
