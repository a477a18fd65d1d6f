#pragma once

#include "core/image_viewer.h"
#include "core/key_source.h"

#include <cstdio>
#include <string>

namespace fennock {

// Exit statuses of a run.
constexpr int kExitQuit = 0;           // 'q' typed
constexpr int kExitNoCamera = -1;      // no camera, or it gave not even one frame
constexpr int kExitCameraStopped = 1;  // the camera stopped, or changed its frames, mid-run

// The console line of a missing camera.
extern const char kNoCameraMessage[];

// Where a run writes: samples into `sampleDirectory` (the working directory when empty), the
// tool's console lines to `out`, problems and the names of saved samples to `err`. The first
// sample saved takes the number after `previousSample` (0: good_1.jpg).
struct CaptureSettings {
  std::string sampleDirectory;
  int previousSample = 0;
  std::FILE* out = stdout;
  std::FILE* err = stderr;
};

// The whole interactive run on g_capture: takes the frame size from the first frame, opens the
// five windows, learns the background, then shows the live foreground each frame and acts on the
// typed keys 'b' (learn again), 'g' (save the next sample good_1.jpg .. good_50.jpg, in turn, and
// name it on `err`) and 'q' (end). Releases g_capture, the model and the windows before it returns
// the exit status: kExitQuit, kExitNoCamera (null g_capture or no first frame) or
// kExitCameraStopped.
int runCapture(KeySource& keys, ImageViewer& viewer, const CaptureSettings& settings);

}  // namespace fennock
