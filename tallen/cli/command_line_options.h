#pragma once

#include <stdexcept>
#include <string>
#include <vector>

namespace tallen {

// What the command line was asked to do.
struct CommandLineOptions {
  enum class Command { kHelp, kTemplate, kRegister, kInspect };
  Command command = Command::kHelp;
  bool quiet = false;               // --quiet: no trace lines, no progress
  int firstSample = 1;              // register --start N
  std::string mapDirectory;         // inspect --map DIR; empty: no defect maps
  int jobs = 0;                     // inspect --jobs N; 0: one per core
  std::vector<std::string> images;  // in the order given
};

// A command line that does not say what to do; the message tells what is wrong.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Parses the arguments after the program name:
//   [--quiet] [--help] (template IMAGE | register [--start N] IMAGE... | inspect [--map DIR]
//   [--jobs N] IMAGE...). "--" ends the options of a subcommand. Throws UsageError for anything
//   else,
// including sample numbers that would reach the inspection mode 1000 or the end of int.
CommandLineOptions parseCommandLine(const std::vector<std::string>& arguments);

// The text that --help prints.
std::string usageText();

}  // namespace tallen
