#pragma once

#include "app/capture_loop.h"
#include "app/command_line.h"

#include <stdexcept>

namespace fennock {

// The output folder of a command line cannot be used.
class OutputFolderError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The settings of the run `line` asks for: its output folder, made when missing, and with
// --continue the number of the highest sample already in it. Throws OutputFolderError naming the
// folder and the reason when the folder cannot be made or is no folder.
CaptureSettings prepareOutput(const CommandLine& line);

}  // namespace fennock
