#include "core/frame_source.h"

#include <string>

namespace fennock {

std::string describeFrame(cv::Size size, int type) {
  return std::to_string(size.width) + "x" + std::to_string(size.height) + " " +
         cv::typeToString(type);
}

void readFrame(FrameSource& source, cv::Size size, cv::Mat& frame) {
  if (!source.read(frame) || frame.empty()) {
    throw CameraStoppedError("the camera stopped delivering frames");
  }
  if (frame.size() != size || frame.type() != CV_8UC3) {
    throw CameraStoppedError("the camera delivered a frame of " +
                             describeFrame(frame.size(), frame.type()) + " instead of " +
                             describeFrame(size, CV_8UC3));
  }
}

}  // namespace fennock
