#include "app/command_line.h"

#include <cerrno>
#include <climits>
#include <cstdlib>

namespace fennock {

const char kUsage[] =
    "Usage: fennock [--camera N | --source URL]\n"
    "Learns the empty scene, shows the live foreground and saves good samples\n"
    "good_1.jpg .. good_50.jpg into the working directory.\n"
    "\n"
    "  --camera N    open camera number N (default: the first camera that opens)\n"
    "  --source URL  open a video file, an image sequence such as frames/%04d.png, or a stream\n"
    "  --help        print this text\n"
    "\n"
    "Keys in the windows: b learn the background again, g save the next sample, q quit.\n"
    "Exit status: 0 after q, 255 when no camera opens, 1 when the camera stops.\n";

namespace {

int parseCameraIndex(const std::string& text) {
  errno = 0;
  char* end = nullptr;
  const long value = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || errno != 0 || value < 0 || value > INT_MAX) {
    throw UsageError("--camera needs a camera number 0, 1, ..., not '" + text + "'");
  }
  return static_cast<int>(value);
}

}  // namespace

CommandLine parseCommandLine(int argc, const char* const argv[]) {
  CommandLine line;
  bool cameraGiven = false;
  bool sourceGiven = false;
  for (int i = 1; i < argc; ++i) {
    std::string argument = argv[i];
    std::string value;
    bool hasValue = false;
    const std::size_t equals = argument.find('=');
    if (argument.rfind("--", 0) == 0 && equals != std::string::npos) {
      value = argument.substr(equals + 1);
      argument.resize(equals);
      hasValue = true;
    }
    const bool takesValue = argument == "--camera" || argument == "--source";
    if (takesValue && !hasValue) {
      if (i + 1 >= argc) throw UsageError(argument + " needs a value");
      value = argv[++i];
    } else if (!takesValue && hasValue) {
      throw UsageError(argument + " takes no value");
    }

    if (argument == "--help" || argument == "-h") {
      line.help = true;
    } else if (argument == "--camera") {
      line.camera = parseCameraIndex(value);
      cameraGiven = true;
    } else if (argument == "--source") {
      if (value.empty()) throw UsageError("--source needs a non-empty URL");
      line.source = value;
      sourceGiven = true;
    } else {
      throw UsageError("unknown argument '" + std::string(argv[i]) + "'");
    }
  }
  if (cameraGiven && sourceGiven) throw UsageError("give either --camera or --source, not both");
  return line;
}

}  // namespace fennock
