#include "cli/command_line_options.h"

#include "cli/defect_map_file.h"
#include "core/procedure.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <map>
#include <optional>

namespace tallen {
namespace {

using Command = CommandLineOptions::Command;

bool isOption(const std::string& argument) { return argument.size() > 1 && argument[0] == '-'; }

// The value of "--name VALUE" or "--name=VALUE" at arguments[i], advancing i past it; nullopt
// when arguments[i] is not that option.
std::optional<std::string> optionValue(const std::vector<std::string>& arguments, size_t& i,
                                       const std::string& name) {
  const std::string& argument = arguments[i];
  if (argument == name) {
    if (i + 1 >= arguments.size()) throw UsageError(name + " needs a value");
    i += 1;
    return arguments[i];
  }
  if (argument.compare(0, name.size() + 1, name + "=") == 0) {
    return argument.substr(name.size() + 1);
  }
  return std::nullopt;
}

int parseSampleNumber(const std::string& text) {
  const bool digitsOnly =
      !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
  errno = 0;
  const long value = digitsOnly ? std::strtol(text.c_str(), nullptr, 10) : 0;
  if (!digitsOnly || errno == ERANGE || value < 1 || value > INT_MAX) {
    throw UsageError("--start needs a sample number of 1 or more, not '" + text + "'");
  }
  return static_cast<int>(value);
}

// More parallel inspections than this only multiply the memory in use.
constexpr long kMaxJobs = 64;

int parseJobCount(const std::string& text) {
  const bool digitsOnly =
      !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
  errno = 0;
  const long value = digitsOnly ? std::strtol(text.c_str(), nullptr, 10) : 0;
  if (!digitsOnly || errno == ERANGE || value < 1 || value > kMaxJobs) {
    throw UsageError("--jobs needs a number of parallel inspections from 1 to " +
                     std::to_string(kMaxJobs) + ", not '" + text + "'");
  }
  return static_cast<int>(value);
}

Command commandNamed(const std::string& name) {
  if (name == "template") return Command::kTemplate;
  if (name == "register") return Command::kRegister;
  if (name == "inspect") return Command::kInspect;
  throw UsageError("unknown command '" + name + "'");
}

// The sample numbers N .. N + count - 1 are passed as modes, so none may be the inspection mode.
void checkSampleRange(int first, size_t count) {
  const long long last = static_cast<long long>(first) + static_cast<long long>(count) - 1;
  if (last > INT_MAX) {
    throw UsageError("sample numbers beyond " + std::to_string(INT_MAX) + " are not possible");
  }
  if (first <= kInspectMode && last >= kInspectMode) {
    throw UsageError("sample number " + std::to_string(kInspectMode) +
                     " is the inspection mode and cannot be registered; "
                     "register up to 999, then go on with --start " +
                     std::to_string(kInspectMode + 1));
  }
}

// Two images with one stem would write the same defect map file.
void checkDistinctMapNames(const std::vector<std::string>& images) {
  std::map<std::string, std::string> byMap;
  for (const std::string& image : images) {
    const std::string name = defectMapFileName(image);
    const auto [it, inserted] = byMap.emplace(name, image);
    if (!inserted) {
      throw UsageError("'" + it->second + "' and '" + image + "' would both write " + name);
    }
  }
}

}  // namespace

CommandLineOptions parseCommandLine(const std::vector<std::string>& arguments) {
  CommandLineOptions options;
  size_t i = 0;
  for (; i < arguments.size() && isOption(arguments[i]); ++i) {
    const std::string& argument = arguments[i];
    if (argument == "--quiet") {
      options.quiet = true;
    } else if (argument == "--help" || argument == "-h") {
      options.command = Command::kHelp;
      return options;
    } else {
      throw UsageError("unknown option '" + argument + "'");
    }
  }
  if (i == arguments.size()) throw UsageError("no command given");
  options.command = commandNamed(arguments[i]);
  const std::string commandName = arguments[i];

  bool startGiven = false;
  bool jobsGiven = false;
  bool optionsEnded = false;
  for (++i; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (optionsEnded || !isOption(argument)) {
      options.images.push_back(argument);
      continue;
    }
    if (argument == "--") {
      optionsEnded = true;
    } else if (argument == "--help" || argument == "-h") {
      options.command = Command::kHelp;
      return options;
    } else if (options.command == Command::kRegister) {
      const std::optional<std::string> start = optionValue(arguments, i, "--start");
      if (!start) throw UsageError("unknown option '" + argument + "' for register");
      if (startGiven) throw UsageError("--start given twice");
      startGiven = true;
      options.firstSample = parseSampleNumber(*start);
    } else if (options.command == Command::kInspect) {
      if (const std::optional<std::string> jobs = optionValue(arguments, i, "--jobs")) {
        if (jobsGiven) throw UsageError("--jobs given twice");
        jobsGiven = true;
        options.jobs = parseJobCount(*jobs);
        continue;
      }
      const std::optional<std::string> map = optionValue(arguments, i, "--map");
      if (!map) throw UsageError("unknown option '" + argument + "' for inspect");
      if (!options.mapDirectory.empty()) throw UsageError("--map given twice");
      if (map->empty()) throw UsageError("--map needs a directory");
      options.mapDirectory = *map;
    } else {
      throw UsageError("unknown option '" + argument + "' for " + commandName);
    }
  }

  if (options.images.empty()) throw UsageError(commandName + " needs an image");
  if (options.command == Command::kTemplate && options.images.size() != 1) {
    throw UsageError("template takes exactly one image");
  }
  if (options.command == Command::kRegister) {
    checkSampleRange(options.firstSample, options.images.size());
  }
  if (options.command == Command::kInspect && !options.mapDirectory.empty()) {
    checkDistinctMapNames(options.images);
  }
  return options;
}

std::string usageText() {
  return "usage: tallen [--quiet] COMMAND ...\n"
         "       tallen                 (no arguments: opens the dialog)\n"
         "\n"
         "Runs in the current directory: reads the template size from ../param.csv and keeps\n"
         "templImage.jpg, gdaccnumI.jpg and gdThresholdImageI.jpg here.\n"
         "\n"
         "commands:\n"
         "  template IMAGE                  cut the template from IMAGE\n"
         "  register [--start N] IMAGE...   register the images as good samples N, N+1, ...\n"
         "                                  (default N = 1: the model starts afresh)\n"
         "  inspect [--map DIR] IMAGE...    inspect each image; prints '<ratio>\\t<image>'\n"
         "                                  --map writes DIR/<image stem>_defects.png\n"
         "                                  --jobs N inspects N images at a time\n"
         "                                  (default: one per core; output stays in order)\n"
         "\n"
         "options:\n"
         "  --quiet   print no trace lines and no progress, only the results of inspect\n"
         "  --help    print this text\n"
         "  --        ends the options of a command (for image names starting with '-')\n"
         "\n"
         "exit status: 0 success, 1 error (message on standard error), 2 bad usage\n";
}

}  // namespace tallen
