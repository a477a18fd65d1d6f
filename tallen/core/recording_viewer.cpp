#include "core/recording_viewer.h"

namespace tallen {

void RecordingViewer::show(const std::string& name, const cv::Mat& image) {
  if (wants(name)) shown_.push_back({name, image.clone()});
}

bool RecordingViewer::wants(const std::string& name) const {
  return target_ == nullptr || target_->wants(name);
}

void RecordingViewer::closeAll() { ++closeAllCount_; }

std::vector<std::string> RecordingViewer::names() const {
  std::vector<std::string> result;
  result.reserve(shown_.size());
  for (const Shown& s : shown_) result.push_back(s.name);
  return result;
}

cv::Mat RecordingViewer::latest(const std::string& name) const {
  for (auto it = shown_.rbegin(); it != shown_.rend(); ++it) {
    if (it->name == name) return it->image;
  }
  return cv::Mat();
}

void RecordingViewer::clear() {
  shown_.clear();
  closeAllCount_ = 0;
}

}  // namespace tallen
