#pragma once

#include "core/image_viewer.h"

#include <opencv2/core.hpp>

#include <string>

namespace tallen {

// Real image windows through highgui, autosized and without toolbar or status bar. Debian's
// highgui (on Qt 5) looks some window names up in Latin-1, so a Japanese name would make a
// duplicate window or show nothing: each window is keyed by an ASCII id derived from its name and
// titled with the name itself.
class HighguiViewer : public ImageViewer {
 public:
  void show(const std::string& name, const cv::Mat& image) override;
  void closeAll() override;

  // The ASCII key under which highgui knows the window `name`.
  static std::string windowId(const std::string& name);
};

}  // namespace tallen
