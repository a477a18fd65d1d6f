#include "cli/window_grabber.h"

namespace tallen {

void WindowGrabber::show(const std::string& name, const cv::Mat& image) {
  if (wants(name)) grabbed_ = image.clone();
}

}  // namespace tallen
