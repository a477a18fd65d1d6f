#pragma once

#include "core/frame_source.h"

#include <opencv2/core.hpp>

#include <cstdio>
#include <memory>

namespace fennock {

// The camera the run reads from; opened and released by the capture run.
extern std::unique_ptr<FrameSource> g_capture;
// Per-pixel, per-channel mean of the empty scene: 8UC3 at the frame size, empty before the
// first build.
extern cv::Mat g_background;
// Tolerance of the empty scene: 5 population standard deviations per pixel and channel,
// rounded and saturated at 255; 8UC3 at the frame size, empty before the first build.
extern cv::Mat g_threshold;

// Learns the empty scene from the next 50 frames of g_capture (each width x height, 8UC3) and
// replaces g_background and g_threshold with newly allocated images. Prints the start line, one
// progress line per frame and the end line to `console`. Throws CameraStoppedError when a frame
// is missing or unlike the others; the model is then left empty.
void buildBackgroundModel(int width, int height, std::FILE* console = stdout);

// Writes into `dst` (8UC3, width x height, reused when it already has that form) the rounded
// mean of the next 50 frames of g_capture, with the same console lines and the same
// CameraStoppedError as buildBackgroundModel.
void captureMeanFrame(cv::Mat& dst, int width, int height, std::FILE* console = stdout);

}  // namespace fennock
