#pragma once

namespace fennock {

// Silences the log lines of OpenCV and of FFmpeg (warnings of camera and file backends that
// fail to open) unless OPENCV_LOG_LEVEL or OPENCV_FFMPEG_LOGLEVEL ask for them. Call before the
// first capture is opened.
void silenceBackendLogs();

}  // namespace fennock
