#include "app/capture_loop.h"

#include "app/sample_numbering.h"
#include "core/background_model.h"
#include "core/foreground.h"
#include "core/frame_source.h"
#include "core/sample_file.h"

#include <opencv2/core.hpp>

#include <string>

namespace fennock {

const char kNoCameraMessage[] = "カメラが見つかりません\n";

namespace {

constexpr int kKeyQuit = 'q';
constexpr int kKeyBackground = 'b';
constexpr int kKeySample = 'g';

constexpr char kCaptureWindow[] = "Capture";
constexpr char kResultWindow[] = "Result";
constexpr char kSampleWindow[] = "ResultCl";
constexpr char kBackgroundWindow[] = "Background";
constexpr char kThresholdWindow[] = "Threshold";
const char* const kWindows[] = {kCaptureWindow, kResultWindow, kSampleWindow, kBackgroundWindow,
                                kThresholdWindow};

// What the run was doing, for the message when the camera stops.
enum class Phase { kLearning, kLive, kSampling };

const char* describe(Phase phase) {
  switch (phase) {
    case Phase::kLearning:
      return "while learning the background";
    case Phase::kSampling:
      return "while averaging a sample";
    case Phase::kLive:
      break;
  }
  return "in the live view";
}

// One run from the first frame to the end of its loop; owns the work images.
class CaptureRun {
 public:
  CaptureRun(KeySource& keys, ImageViewer& viewer, const CaptureSettings& settings, cv::Size size)
      : keys_(keys),
        viewer_(viewer),
        settings_(settings),
        size_(size),
        work_(size),
        sampleCounter_(settings.previousSample) {}

  // Learns the background and runs live passes until 'q'; returns the exit status.
  int execute() {
    try {
      learnBackground();
      while (livePass() != kKeyQuit) {
      }
      return kExitQuit;
    } catch (const CameraStoppedError& e) {
      std::fprintf(settings_.err, "fennock: %s %s; ending the run\n", e.what(), describe(phase_));
      return kExitCameraStopped;
    }
  }

 private:
  void learnBackground() {
    phase_ = Phase::kLearning;
    buildBackgroundModel(size_.width, size_.height, settings_.out);
    refreshModelViews(g_threshold, work_);
    phase_ = Phase::kLive;
  }

  // One frame: mask, windows, key; returns the key.
  int livePass() {
    readFrame(*g_capture, size_, frame_);
    computeLiveMask(frame_, g_background, work_);
    viewer_.show(kCaptureWindow, frame_);
    // Frames arrive top-down, so derived images are shown as they are, upright like "Capture".
    viewer_.show(kResultWindow, work_.maskImage);
    viewer_.show(kBackgroundWindow, g_background);
    viewer_.show(kThresholdWindow, work_.thresholdView);

    const int key = keys_.waitKey();
    if (key == kKeyBackground) {
      learnBackground();
      std::fputs("背景情報更新\n", settings_.out);
    } else if (key == kKeySample) {
      takeSample();
    }
    return key;
  }

  void takeSample() {
    const int previous = sampleCounter_;
    sampleCounter_ = nextSampleNumber(sampleCounter_);
    phase_ = Phase::kSampling;
    captureMeanFrame(work_.meanFrame, size_.width, size_.height, settings_.out);
    phase_ = Phase::kLive;
    cutSample(g_background, g_threshold, work_);
    viewer_.show(kSampleWindow, work_.sampleImage);

    // Frames arrive top-down, so the sample is saved unflipped, upright like "Capture".
    const std::string path = samplePath(settings_.sampleDirectory, sampleCounter_);
    std::string error;
    if (!writeSampleFile(path, work_.sampleImage, error)) {
      std::fprintf(settings_.err, "fennock: %s; the next sample takes number %d again\n",
                   error.c_str(), sampleCounter_);
      sampleCounter_ = previous;
      return;
    }
    std::fprintf(settings_.err, "fennock: saved %s\n", path.c_str());
    std::fflush(settings_.err);
  }

  KeySource& keys_;
  ImageViewer& viewer_;
  const CaptureSettings& settings_;
  const cv::Size size_;
  WorkImages work_;
  cv::Mat frame_;
  int sampleCounter_;
  Phase phase_ = Phase::kLearning;
};

}  // namespace

int runCapture(KeySource& keys, ImageViewer& viewer, const CaptureSettings& settings) {
  if (!g_capture) {
    std::fputs(kNoCameraMessage, settings.out);
    return kExitNoCamera;
  }
  // The first frame fixes the frame size. It is read before any window opens, so that a camera
  // that gives nothing ends the run as a missing one does.
  cv::Mat first;
  if (!g_capture->read(first) || first.empty()) {
    g_capture.reset();
    std::fputs(kNoCameraMessage, settings.out);
    return kExitNoCamera;
  }
  if (first.type() != CV_8UC3) {
    g_capture.reset();
    std::fprintf(settings.err, "fennock: the camera delivers %s frames, 8-bit colour is needed\n",
                 describeFrame(first.size(), first.type()).c_str());
    return kExitCameraStopped;
  }
  const cv::Size size = first.size();
  first.release();

  for (const char* name : kWindows) viewer.createWindow(name);
  int status = kExitQuit;
  {
    CaptureRun run(keys, viewer, settings, size);
    status = run.execute();
    g_capture.reset();
  }
  g_background.release();
  g_threshold.release();
  for (const char* name : kWindows) viewer.destroyWindow(name);
  return status;
}

}  // namespace fennock
