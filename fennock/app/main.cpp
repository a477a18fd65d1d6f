// fennock: learns the empty scene from a camera, shows the live foreground and saves good
// samples on the keys b, g and q.
#include "app/capture_loop.h"
#include "app/command_line.h"
#include "core/background_model.h"
#include "devices/backend_logs.h"
#include "devices/highgui_viewer.h"
#include "devices/typed_key_source.h"
#include "devices/video_capture_source.h"

#include <QApplication>

#include <cstdio>
#include <exception>

namespace {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

}  // namespace

int main(int argc, char* argv[]) {
  // A missing camera should print the tool's one line, not pages of backend warnings.
  fennock::silenceBackendLogs();

  fennock::CommandLine line;
  try {
    line = fennock::parseCommandLine(argc, argv);
  } catch (const fennock::UsageError& e) {
    std::fprintf(stderr, "fennock: %s\n\n%s", e.what(), fennock::kUsage);
    return kExitUsage;
  }
  if (line.help) {
    std::fputs(fennock::kUsage, stdout);
    return fennock::kExitQuit;
  }

  fennock::g_capture = line.source.empty() ? fennock::VideoCaptureSource::openCamera(line.camera)
                                           : fennock::VideoCaptureSource::openSource(line.source);
  if (!fennock::g_capture) {
    std::fputs(fennock::kNoCameraMessage, stdout);
    return fennock::kExitNoCamera;
  }

  // highgui's windows are Qt widgets of this application, created before any highgui call so
  // that the key source can filter its key presses.
  QApplication application(argc, argv);
  fennock::HighguiViewer viewer;
  fennock::TypedKeySource keys(application);
  try {
    return fennock::runCapture(keys, viewer, fennock::CaptureSettings{});
  } catch (const std::exception& e) {
    std::fprintf(stderr, "fennock: %s\n", e.what());
    return kExitFailure;
  }
}
