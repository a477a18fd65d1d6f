#pragma once

#include "core/frame_source.h"

#include <opencv2/core.hpp>
#include <opencv2/videoio.hpp>

#include <memory>
#include <string>

namespace fennock {

// Frames from cv::VideoCapture: a camera, a video file, an image sequence or a stream.
class VideoCaptureSource : public FrameSource {
 public:
  // Camera `index`, or for -1 the first of cameras 0 to 9 that opens; null when none opens.
  static std::unique_ptr<VideoCaptureSource> openCamera(int index);
  // Anything cv::VideoCapture opens by name, tried with FFMPEG, then as an image sequence, then
  // with any other backend; null when nothing opens it.
  static std::unique_ptr<VideoCaptureSource> openSource(const std::string& url);

  bool read(cv::Mat& frame) override;

 private:
  VideoCaptureSource() = default;

  cv::VideoCapture capture_;
};

}  // namespace fennock
