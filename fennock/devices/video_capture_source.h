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
  // Anything cv::VideoCapture opens by name; null when nothing opens it. An image-sequence
  // pattern is tried with the image-sequence reader first, anything else with FFMPEG first;
  // then the other of the two, then any other backend.
  static std::unique_ptr<VideoCaptureSource> openSource(const std::string& url);

  bool read(cv::Mat& frame) override;

 private:
  VideoCaptureSource() = default;

  cv::VideoCapture capture_;
};

// True when `url` holds a frame-number pattern such as %d or %04d.
bool isImageSequencePattern(const std::string& url);

// Why openSource gave null for `url`, as far as the file system tells: "No such file or
// directory", "it is a directory", ..., or that no video backend reads it.
std::string describeUnopenableSource(const std::string& url);

}  // namespace fennock
