#pragma once

#include <cstddef>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace tallen {

// The minimum template match score when none is given: good parts score 0.99 and more, a frame
// without the product (all white, all black) far less.
constexpr double kDefaultMinScore = 0.9;

// How inspect prints its results, and status its record.
enum class OutputFormat { kTsv, kCsv, kJson, kText };

// What the command line was asked to do.
struct CommandLineOptions {
  enum class Command { kHelp, kVersion, kTemplate, kRegister, kInspect, kStatus };
  Command command = Command::kHelp;
  bool quiet = false;                        // --quiet: no trace lines, no progress
  std::string workingDirectory;              // -C DIR; empty: the current directory
  int firstSample = 1;                       // register --start N
  bool startGiven = false;                   // --start was given (else the record decides)
  bool newModel = false;                     // register --new
  double minScore = kDefaultMinScore;        // register and inspect --min-score S; 0: no minimum
  std::optional<double> maxRatio;            // inspect --max-ratio R: verdicts
  OutputFormat format = OutputFormat::kTsv;  // inspect: tsv, csv, json; status: text, json
  std::string mapDirectory;                  // inspect --map DIR; empty: no defect maps
  std::string overlayDirectory;              // inspect --overlay DIR; empty: no overlays
  std::string watchDirectory;                // inspect --watch DIR; empty: the images are given
  bool newOnly = false;                      // inspect --new-only (with --watch)
  int jobs = 0;                              // inspect --jobs N; 0: one per core
  std::vector<std::string> images;           // in the order given; {"-"}: one path a line on stdin
};

// A command line that does not say what to do; the message tells what is wrong.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Parses the arguments after the program name:
//   [--quiet] [-C DIR] [--help] [--version] COMMAND [OPTIONS] IMAGE...
// (see usageText()). "--" ends the options of a subcommand. Throws UsageError for anything else,
// including sample numbers that would reach the inspection mode 1000 or the end of int.
CommandLineOptions parseCommandLine(const std::vector<std::string>& arguments);

// True when the pictures are to be read from standard input ("-" as the only picture).
bool readsPicturesFromInput(const CommandLineOptions& options);

// Checks the list of pictures against the command (count, sample numbers, colliding output
// names); parseCommandLine does, and the caller again once "-" has been replaced by the list.
// Throws UsageError.
void checkPictureList(const CommandLineOptions& options);

// Throws UsageError when the sample numbers first .. first + count - 1 reach the inspection
// mode or the end of int.
void checkSampleRange(int first, std::size_t count);

// The text that --help prints.
std::string usageText();

}  // namespace tallen
