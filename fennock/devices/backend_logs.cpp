#include "devices/backend_logs.h"

#include <opencv2/core/utils/logger.hpp>

#include <cstdlib>

namespace fennock {

namespace {

constexpr char kFfmpegQuiet[] = "-8";  // AV_LOG_QUIET

}  // namespace

void silenceBackendLogs() {
  // OpenCV reads OPENCV_LOG_LEVEL when it is loaded, so only the call takes effect now.
  if (std::getenv("OPENCV_LOG_LEVEL") == nullptr) {
    cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_SILENT);
  }
  // The FFmpeg backend reads this whenever it opens a source.
  setenv("OPENCV_FFMPEG_LOGLEVEL", kFfmpegQuiet, 0);
}

}  // namespace fennock
