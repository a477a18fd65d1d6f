#include "cli/command_line_options.h"

#include "cli/defect_map_file.h"
#include "cli/overlay_file.h"
#include "core/procedure.h"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <map>

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

// A share or score from 0 to 1, in plain decimal notation.
double parseFraction(const std::string& name, const std::string& text) {
  const bool plain = !text.empty() && text.find_first_not_of("0123456789.") == std::string::npos;
  char* end = nullptr;
  const double value = plain ? std::strtod(text.c_str(), &end) : -1.0;
  if (!plain || *end != '\0' || !std::isfinite(value) || value < 0.0 || value > 1.0) {
    throw UsageError(name + " needs a number from 0 to 1, not '" + text + "'");
  }
  return value;
}

OutputFormat parseFormat(Command command, const std::string& text) {
  if (command == Command::kInspect) {
    if (text == "tsv") return OutputFormat::kTsv;
    if (text == "csv") return OutputFormat::kCsv;
    if (text == "json") return OutputFormat::kJson;
    throw UsageError("--format of inspect is tsv, csv or json, not '" + text + "'");
  }
  if (text == "text") return OutputFormat::kText;
  if (text == "json") return OutputFormat::kJson;
  throw UsageError("--format of status is text or json, not '" + text + "'");
}

Command commandNamed(const std::string& name) {
  if (name == "template") return Command::kTemplate;
  if (name == "register") return Command::kRegister;
  if (name == "inspect") return Command::kInspect;
  if (name == "status") return Command::kStatus;
  throw UsageError("unknown command '" + name + "'");
}

std::string commandName(Command command) {
  switch (command) {
    case Command::kTemplate:
      return "template";
    case Command::kRegister:
      return "register";
    case Command::kInspect:
      return "inspect";
    case Command::kStatus:
      return "status";
    default:
      return "tallen";
  }
}

// Two images with one stem would write the same output file.
void checkDistinctNames(const std::vector<std::string>& images,
                        std::string (*fileName)(const std::string&)) {
  std::map<std::string, std::string> byName;
  for (const std::string& image : images) {
    const std::string name = fileName(image);
    const auto [it, inserted] = byName.emplace(name, image);
    if (!inserted) {
      throw UsageError("'" + it->second + "' and '" + image + "' would both write " + name);
    }
  }
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

// Records a value option, refusing it twice or empty where a directory is meant.
void setOnce(bool& given, const std::string& name) {
  if (given) throw UsageError(name + " given twice");
  given = true;
}

// One option of a subcommand at arguments[i]; false when the command has no such option.
bool parseCommandOption(const std::vector<std::string>& arguments, size_t& i,
                        CommandLineOptions& options, std::map<std::string, bool>& given) {
  const Command command = options.command;
  const bool registering = command == Command::kRegister;
  const bool inspecting = command == Command::kInspect;
  if (registering) {
    if (const auto start = optionValue(arguments, i, "--start")) {
      setOnce(given["--start"], "--start");
      options.firstSample = parseSampleNumber(*start);
      options.startGiven = true;
      return true;
    }
    if (arguments[i] == "--new") {
      options.newModel = true;
      return true;
    }
  }
  if (registering || inspecting) {
    if (const auto score = optionValue(arguments, i, "--min-score")) {
      setOnce(given["--min-score"], "--min-score");
      options.minScore = parseFraction("--min-score", *score);
      return true;
    }
  }
  if (inspecting) {
    if (const auto ratio = optionValue(arguments, i, "--max-ratio")) {
      setOnce(given["--max-ratio"], "--max-ratio");
      options.maxRatio = parseFraction("--max-ratio", *ratio);
      return true;
    }
    if (const auto jobs = optionValue(arguments, i, "--jobs")) {
      setOnce(given["--jobs"], "--jobs");
      options.jobs = parseJobCount(*jobs);
      return true;
    }
    if (arguments[i] == "--new-only") {
      options.newOnly = true;
      return true;
    }
    for (auto [name, directory] : {std::pair{"--map", &options.mapDirectory},
                                   std::pair{"--overlay", &options.overlayDirectory},
                                   std::pair{"--watch", &options.watchDirectory}}) {
      if (const auto value = optionValue(arguments, i, name)) {
        setOnce(given[name], std::string(name));
        if (value->empty()) throw UsageError(std::string(name) + " needs a directory");
        *directory = *value;
        return true;
      }
    }
  }
  if (inspecting || command == Command::kStatus) {
    if (const auto format = optionValue(arguments, i, "--format")) {
      setOnce(given["--format"], "--format");
      options.format = parseFormat(command, *format);
      return true;
    }
  }
  return false;
}

}  // namespace

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

bool readsPicturesFromInput(const CommandLineOptions& options) {
  return options.images.size() == 1 && options.images.front() == "-";
}

void checkPictureList(const CommandLineOptions& options) {
  const std::string name = commandName(options.command);
  if (options.command == Command::kStatus) {
    if (!options.images.empty()) throw UsageError("status takes no image");
    return;
  }
  if (!options.watchDirectory.empty()) {
    if (!options.images.empty()) throw UsageError("inspect --watch takes no images");
    return;
  }
  if (options.newOnly) throw UsageError("--new-only needs --watch");
  if (options.images.empty()) throw UsageError(name + " needs an image");
  if (readsPicturesFromInput(options)) return;
  if (options.command == Command::kTemplate && options.images.size() != 1) {
    throw UsageError("template takes exactly one image");
  }
  if (options.command == Command::kRegister && options.startGiven) {
    checkSampleRange(options.firstSample, options.images.size());
  }
  if (options.command == Command::kInspect && !options.mapDirectory.empty()) {
    checkDistinctNames(options.images, defectMapFileName);
  }
  if (options.command == Command::kInspect && !options.overlayDirectory.empty()) {
    checkDistinctNames(options.images, overlayFileName);
  }
}

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
    } else if (argument == "--version") {
      options.command = Command::kVersion;
      return options;
    } else if (argument.rfind("-C", 0) == 0) {
      if (!options.workingDirectory.empty()) throw UsageError("-C given twice");
      std::string directory = argument.substr(2);
      if (directory.empty()) {
        if (i + 1 >= arguments.size()) throw UsageError("-C needs a directory");
        directory = arguments[++i];
      }
      if (directory.empty()) throw UsageError("-C needs a directory");
      options.workingDirectory = directory;
    } else {
      throw UsageError("unknown option '" + argument + "'");
    }
  }
  if (i == arguments.size()) throw UsageError("no command given");
  options.command = commandNamed(arguments[i]);
  if (options.command == Command::kStatus) options.format = OutputFormat::kText;

  std::map<std::string, bool> given;
  bool optionsEnded = false;
  for (++i; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (optionsEnded || !isOption(argument)) {
      options.images.push_back(argument);
    } else if (argument == "--") {
      optionsEnded = true;
    } else if (argument == "--help" || argument == "-h") {
      options.command = Command::kHelp;
      return options;
    } else if (!parseCommandOption(arguments, i, options, given)) {
      throw UsageError("unknown option '" + argument + "' for " + commandName(options.command));
    }
  }
  if (options.newModel && options.startGiven) {
    throw UsageError("--new starts at sample 1 and --start at another: give one of them");
  }
  checkPictureList(options);
  return options;
}

std::string usageText() {
  return "usage: tallen [--quiet] [-C DIR] COMMAND ...\n"
         "       tallen --version\n"
         "       tallen                 (no arguments: opens the dialog)\n"
         "\n"
         "Runs in the current directory (or DIR): reads the template size from\n"
         "../param.csv and keeps templImage.jpg, gdaccnumI.jpg, gdThresholdImageI.jpg\n"
         "and their record tallen-model.json here.\n"
         "\n"
         "commands:\n"
         "  template IMAGE                 cut the template from IMAGE\n"
         "  register [--start N] IMAGE...  register the images as good samples, by\n"
         "                                 default going on after the recorded model\n"
         "    --start N                    number the first image N (a model without\n"
         "                                 a record)\n"
         "    --new                        start afresh at sample 1, keeping the\n"
         "                                 replaced model as *.prev.jpg\n"
         "    --min-score S                refuse an image whose template match scores\n"
         "                                 below S (default 0.9; 0: no minimum)\n"
         "  inspect [OPTIONS] IMAGE...     inspect each image; prints '<ratio>\\t<image>'\n"
         "    --map DIR                    write DIR/<image stem>_defects.png\n"
         "    --overlay DIR                write DIR/<image stem>_overlay.png: the\n"
         "                                 aligned part with its defects in red\n"
         "    --max-ratio R                verdicts: an image fails above ratio R, or\n"
         "                                 when its match scores below the minimum\n"
         "                                 (\"not located\")\n"
         "    --min-score S                that minimum (default 0.9; 0: none)\n"
         "    --format tsv|csv|json        the result lines (default tsv); csv and json\n"
         "                                 move the trace lines to standard error\n"
         "    --jobs N                     inspect N images at a time (default: one per\n"
         "                                 core; the output stays in the order given)\n"
         "  inspect --watch DIR [--new-only] [OPTIONS]\n"
         "                                 inspect each picture written or moved into\n"
         "                                 DIR, those already there first (not with\n"
         "                                 --new-only), until SIGINT or SIGTERM\n"
         "  status [--format text|json]    print the model record and whether the\n"
         "                                 working files match it\n"
         "  '-' as the only IMAGE reads one path a line from standard input.\n"
         "\n"
         "options (before the command):\n"
         "  --quiet    print no trace lines and no progress, only the results of inspect\n"
         "  -C DIR     run in DIR as if started there\n"
         "  --help     print this text\n"
         "  --version  print the version\n"
         "  --         ends the options of a command (for image names starting with '-')\n"
         "\n"
         "Control characters and '\\' of paths are printed as C escapes (\\n, \\t, \\\\).\n"
         "\n"
         "exit status: 0 success, 1 error (message on standard error), 2 bad usage,\n"
         "  3 inspect: an image did not pass; status: the working files do not match\n"
         "  their record, or have none\n";
}

}  // namespace tallen
