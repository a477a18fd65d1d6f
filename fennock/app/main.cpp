// fennock: learns the empty scene from a camera, shows the live foreground and saves good
// samples on the keys b, g and q.
#include "app/capture_loop.h"
#include "app/command_line.h"
#include "app/output_folder.h"
#include "core/background_model.h"
#include "devices/backend_logs.h"
#include "devices/highgui_viewer.h"
#include "devices/typed_key_source.h"
#include "devices/video_capture_source.h"
#include "display_check.h"
#include "kit_version.h"

#include <QApplication>

#include <cstdio>
#include <exception>

namespace {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

}  // namespace

int main(int argc, char* argv[]) {
  // Progress lines are the feedback during a 50-frame collection: they must reach a pipe or a
  // log file as they are printed, not when the program ends.
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  // A missing camera should print the tool's one line, not pages of backend warnings.
  fennock::silenceBackendLogs();

  fennock::CommandLine line;
  try {
    line = fennock::parseCommandLine(argc, argv);
  } catch (const fennock::UsageError& e) {
    std::fprintf(stderr, "fennock: %s\n%s", e.what(), fennock::kTryHelp);
    return kExitUsage;
  }
  if (line.help) {
    std::fputs(fennock::kUsage, stdout);
    return fennock::kExitQuit;
  }
  if (line.version) {
    std::printf("fennock %s\n", kKitVersion);
    return fennock::kExitQuit;
  }
  // Without a display Qt would abort the process when the application is made.
  if (!kit::qtPlatformUsable()) {
    std::fprintf(stderr, "fennock: %s\n", kit::kNoDisplayMessage);
    return kExitFailure;
  }
  fennock::g_capture = line.source.empty() ? fennock::VideoCaptureSource::openCamera(line.camera)
                                           : fennock::VideoCaptureSource::openSource(line.source);
  if (!fennock::g_capture) {
    std::fputs(fennock::kNoCameraMessage, stdout);
    if (!line.source.empty()) {
      std::fprintf(stderr, "fennock: cannot open the source %s: %s\n", line.source.c_str(),
                   fennock::describeUnopenableSource(line.source).c_str());
    }
    return fennock::kExitNoCamera;
  }

  // Made only once the source opened, so that a failed start leaves no folder behind.
  fennock::CaptureSettings settings;
  try {
    settings = fennock::prepareOutput(line);
  } catch (const fennock::OutputFolderError& e) {
    std::fprintf(stderr, "fennock: %s\n", e.what());
    return kExitFailure;
  }

  // highgui's windows are Qt widgets of this application, created before any highgui call so
  // that the key source can filter its key presses.
  QApplication application(argc, argv);
  fennock::HighguiViewer viewer;
  fennock::TypedKeySource keys(application);
  try {
    return fennock::runCapture(keys, viewer, settings);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "fennock: %s\n", e.what());
    return kExitFailure;
  }
}
