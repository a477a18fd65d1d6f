#include "devices/video_capture_source.h"

namespace fennock {

namespace {

constexpr int kAnyCamera = -1;
constexpr int kCamerasTried = 10;

// GStreamer paces files to real time, so it comes last, inside CAP_ANY, after FFMPEG and the
// image-sequence reader.
constexpr cv::VideoCaptureAPIs kSourceBackends[] = {cv::CAP_FFMPEG, cv::CAP_IMAGES, cv::CAP_ANY};

}  // namespace

std::unique_ptr<VideoCaptureSource> VideoCaptureSource::openCamera(int index) {
  const int first = index == kAnyCamera ? 0 : index;
  const int last = index == kAnyCamera ? kCamerasTried - 1 : index;
  std::unique_ptr<VideoCaptureSource> source(new VideoCaptureSource);
  for (int i = first; i <= last; ++i) {
    if (source->capture_.open(i, cv::CAP_ANY)) return source;
  }
  return nullptr;
}

std::unique_ptr<VideoCaptureSource> VideoCaptureSource::openSource(const std::string& url) {
  std::unique_ptr<VideoCaptureSource> source(new VideoCaptureSource);
  for (cv::VideoCaptureAPIs backend : kSourceBackends) {
    try {
      if (source->capture_.open(url, backend)) return source;
    } catch (const cv::Exception&) {
      // A backend that rejects the name outright: try the next one.
    }
  }
  return nullptr;
}

bool VideoCaptureSource::read(cv::Mat& frame) { return capture_.read(frame); }

}  // namespace fennock
