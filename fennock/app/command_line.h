#pragma once

#include <stdexcept>
#include <string>

namespace fennock {

// What the command line asks for.
struct CommandLine {
  bool help = false;   // --help: print the usage and end
  int camera = -1;     // --camera N: camera N; -1 for the first camera that opens
  std::string source;  // --source URL: anything cv::VideoCapture opens; empty for a camera
};

// A command line that cannot be followed; the message names the offending argument.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Parses `fennock [--camera N | --source URL] [--help]` (also --camera=N, --source=URL);
// throws UsageError on anything else.
CommandLine parseCommandLine(int argc, const char* const argv[]);

// The usage text printed by --help and after a UsageError.
extern const char kUsage[];

}  // namespace fennock
