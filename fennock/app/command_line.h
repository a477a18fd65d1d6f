#pragma once

#include <stdexcept>
#include <string>

namespace fennock {

// What the command line asks for.
struct CommandLine {
  bool help = false;     // --help: print the usage and end
  bool version = false;  // --version: print the version and end
  int camera = -1;       // --camera N: camera N; -1 for the first camera that opens
  std::string source;    // --source URL: anything cv::VideoCapture opens; empty for a camera
  std::string output;    // --output DIR: where the samples go; empty for the working directory
  bool continueNumbering = false;  // --continue: number after the highest sample in the output
};

// A command line that cannot be followed; the message names the offending argument.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Parses `fennock [--camera N | --source URL] [--output DIR] [--continue] [--help] [--version]`
// (also --camera=N, --source=URL, --output=DIR); throws UsageError on anything else.
CommandLine parseCommandLine(int argc, const char* const argv[]);

// The usage text printed by --help.
extern const char kUsage[];

// The line after a UsageError's message.
extern const char kTryHelp[];

}  // namespace fennock
