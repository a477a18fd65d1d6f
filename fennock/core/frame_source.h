#pragma once

#include <opencv2/core.hpp>

#include <stdexcept>
#include <string>

namespace fennock {

// Where frames come from: the camera or a recorded source in the program, synthetic frames in
// tests. A frame belongs to the source and stays valid until the next read.
class FrameSource {
 public:
  virtual ~FrameSource() = default;
  // Puts the next frame into `frame`; false when the source has no more frames.
  virtual bool read(cv::Mat& frame) = 0;
};

// The camera yielded no frame, or a frame unlike the first one.
class CameraStoppedError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Reads the next frame of `source` into `frame` and checks that it is 8-bit BGR of `size`;
// throws CameraStoppedError otherwise.
void readFrame(FrameSource& source, cv::Size size, cv::Mat& frame);

// "640x480 CV_8UC3": how messages name a frame's size and type.
std::string describeFrame(cv::Size size, int type);

}  // namespace fennock
