#pragma once

#include "core/image_viewer.h"

#include <opencv2/core.hpp>

#include <string>
#include <vector>

namespace tallen {

// Keeps a deep copy of everything shown, in order, so that tests (and the command line's defect
// map export) can see what went to which window.
class RecordingViewer : public ImageViewer {
 public:
  RecordingViewer() = default;
  // Records only what `target` wants (the pictures a later replay to it would show); `target`
  // must outlive this viewer.
  explicit RecordingViewer(const ImageViewer& target) : target_(&target) {}

  struct Shown {
    std::string name;
    cv::Mat image;
  };

  void show(const std::string& name, const cv::Mat& image) override;
  void closeAll() override;
  bool wants(const std::string& name) const override;

  const std::vector<Shown>& shown() const { return shown_; }
  // Window names in the order they were shown into, repeats included.
  std::vector<std::string> names() const;
  // The latest picture shown under `name`, or an empty Mat.
  cv::Mat latest(const std::string& name) const;
  int closeAllCount() const { return closeAllCount_; }
  void clear();

 private:
  const ImageViewer* target_ = nullptr;
  std::vector<Shown> shown_;
  int closeAllCount_ = 0;
};

}  // namespace tallen
