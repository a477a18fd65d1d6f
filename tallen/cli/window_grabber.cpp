#include "cli/window_grabber.h"

namespace tallen {

void WindowGrabber::show(const std::string& name, const cv::Mat& image) {
  if (name == windowName_) grabbed_ = image.clone();
}

}  // namespace tallen
