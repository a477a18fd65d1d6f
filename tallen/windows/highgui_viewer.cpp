#include "windows/highgui_viewer.h"

#include <opencv2/highgui.hpp>

#include <cstdio>

namespace tallen {

std::string HighguiViewer::windowId(const std::string& name) {
  std::string id = "tallen-";
  char hex[3];
  for (unsigned char c : name) {
    std::snprintf(hex, sizeof hex, "%02x", c);
    id += hex;
  }
  return id;
}

void HighguiViewer::show(const std::string& name, const cv::Mat& image) {
  const std::string id = windowId(name);
  // Opened right before every show: a window the operator closed comes back.
  cv::namedWindow(id, cv::WINDOW_AUTOSIZE | cv::WINDOW_GUI_NORMAL);
  cv::setWindowTitle(id, name);
  cv::imshow(id, image);
}

void HighguiViewer::closeAll() { cv::destroyAllWindows(); }

}  // namespace tallen
