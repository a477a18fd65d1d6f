#include "devices/video_capture_source.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>

namespace fennock {

namespace {

constexpr int kAnyCamera = -1;
constexpr int kCamerasTried = 10;

// FFMPEG reads an image sequence too, but scales every frame to the size of the first, so a
// pattern goes to the image-sequence reader first: a frame of another size then ends the run
// with a message. GStreamer paces files to real time, so it comes last, inside CAP_ANY.
constexpr cv::VideoCaptureAPIs kFileBackends[] = {cv::CAP_FFMPEG, cv::CAP_IMAGES, cv::CAP_ANY};
constexpr cv::VideoCaptureAPIs kSequenceBackends[] = {cv::CAP_IMAGES, cv::CAP_FFMPEG, cv::CAP_ANY};

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
  const bool sequence = isImageSequencePattern(url);
  for (cv::VideoCaptureAPIs backend : sequence ? kSequenceBackends : kFileBackends) {
    try {
      if (source->capture_.open(url, backend)) return source;
    } catch (const cv::Exception&) {
      // A backend that rejects the name outright: try the next one.
    }
  }
  return nullptr;
}

bool VideoCaptureSource::read(cv::Mat& frame) { return capture_.read(frame); }

bool isImageSequencePattern(const std::string& url) {
  for (std::size_t i = url.find('%'); i != std::string::npos; i = url.find('%', i + 1)) {
    std::size_t j = i + 1;
    while (j < url.size() && std::isdigit(static_cast<unsigned char>(url[j]))) ++j;
    if (j < url.size() && url[j] == 'd') return true;
  }
  return false;
}

std::string describeUnopenableSource(const std::string& url) {
  if (isImageSequencePattern(url)) return "no frame of the image sequence can be read";
  if (url.find("://") != std::string::npos) return "no video backend opens the stream";
  struct stat status {};
  if (::stat(url.c_str(), &status) != 0) return std::strerror(errno);
  if (S_ISDIR(status.st_mode)) return "it is a directory";
  if (::access(url.c_str(), R_OK) != 0) return std::strerror(errno);
  return "no video backend reads it (not a video, or its codec is not installed)";
}

}  // namespace fennock
