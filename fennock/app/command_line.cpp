#include "app/command_line.h"

#include <cerrno>
#include <climits>
#include <cstdlib>

namespace fennock {

const char kUsage[] =
    "Usage: fennock [--camera N | --source URL] [--output DIR] [--continue]\n"
    "Learns the empty scene, shows the live foreground and saves good samples\n"
    "good_1.jpg .. good_50.jpg into the working directory.\n"
    "\n"
    "  --camera N    open camera number N (default: the first camera that opens)\n"
    "  --source URL  open a video file, an image sequence such as frames/%04d.png, or a stream\n"
    "  --output DIR  save the samples into DIR (made when missing)\n"
    "  --continue    number the samples on after the highest good_<n>.jpg in the output folder\n"
    "                instead of starting again at good_1.jpg\n"
    "  --help        print this text\n"
    "  --version     print the version\n"
    "\n"
    "Keys in the windows: b learn the background again, g save the next sample, q quit.\n"
    "Each saved sample is named on standard error: fennock: saved DIR/good_<n>.jpg\n"
    "\n"
    "Exit status: 0 after q, 1 when the camera stops or on an error (no display, an output\n"
    "folder that cannot be made), 2 on a bad command line, 255 when no camera opens.\n";

const char kTryHelp[] = "Try 'fennock --help' for more information.\n";

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
    const bool takesValue =
        argument == "--camera" || argument == "--source" || argument == "--output";
    if (takesValue && !hasValue) {
      if (i + 1 >= argc) throw UsageError(argument + " needs a value");
      value = argv[++i];
    } else if (!takesValue && hasValue) {
      throw UsageError(argument + " takes no value");
    }

    if (argument == "--help" || argument == "-h") {
      line.help = true;
    } else if (argument == "--version") {
      line.version = true;
    } else if (argument == "--continue") {
      line.continueNumbering = true;
    } else if (argument == "--output") {
      if (value.empty()) throw UsageError("--output needs a non-empty directory name");
      if (!line.output.empty()) throw UsageError("--output given twice");
      line.output = value;
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
