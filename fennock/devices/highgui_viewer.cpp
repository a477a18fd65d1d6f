#include "devices/highgui_viewer.h"

#include <opencv2/highgui.hpp>

namespace fennock {

void HighguiViewer::createWindow(const std::string& name) {
  cv::namedWindow(name, cv::WINDOW_AUTOSIZE | cv::WINDOW_GUI_NORMAL);
}

void HighguiViewer::show(const std::string& name, const cv::Mat& image) { cv::imshow(name, image); }

void HighguiViewer::destroyWindow(const std::string& name) { cv::destroyWindow(name); }

}  // namespace fennock
