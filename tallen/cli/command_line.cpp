#include "cli/command_line.h"

#include "cli/command_line_options.h"
#include "cli/defect_map_file.h"
#include "cli/picture_input.h"
#include "cli/window_grabber.h"
#include "core/console.h"
#include "core/procedure.h"
#include "core/procedure_error.h"

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include <filesystem>
#include <new>
#include <string>
#include <system_error>

namespace tallen {
namespace {

namespace fs = std::filesystem;
using Command = CommandLineOptions::Command;

class CommandRunner {
 public:
  CommandRunner(const CommandLineOptions& options, std::FILE* out, std::FILE* err)
      : options_(options), err_(err) {
    console_.lines = out;
    console_.trace = options.quiet ? nullptr : out;
  }

  void run() {
    // Every picture is checked by its header before the first one is processed, so that a typing
    // error in a list neither leaves a model of half the samples nor half the defect maps.
    for (const std::string& image : options_.images) checkPicture(image);
    switch (options_.command) {
      case Command::kTemplate:
        runTemplate();
        break;
      case Command::kRegister:
        runRegister();
        break;
      case Command::kInspect:
        runInspect();
        break;
      case Command::kHelp:
        break;
    }
  }

 private:
  // One line to standard error that --quiet silences.
  void progress(const std::string& line) {
    if (!options_.quiet) std::fprintf(err_, "tallen: %s\n", line.c_str());
  }

  void runTemplate() {
    const std::string& image = options_.images.front();
    NullViewer viewer;
    processPicture(image, kTemplateMode, viewer, console_);
    progress("template cut from " + image + " into " + kTemplateFile);
  }

  void runRegister() {
    NullViewer viewer;
    int sample = options_.firstSample;
    for (const std::string& image : options_.images) {
      try {
        processPicture(image, sample, viewer, console_);
      } catch (const InspectionError& error) {
        if (sample == options_.firstSample) throw;
        throw InspectionError(std::string(error.what()) + " (samples " +
                              std::to_string(options_.firstSample) + " to " +
                              std::to_string(sample - 1) + " are registered; go on with --start " +
                              std::to_string(sample) + ")");
      }
      progress("sample " + std::to_string(sample) + " registered from " + image);
      ++sample;
    }
  }

  void runInspect() {
    const bool writeMaps = !options_.mapDirectory.empty();
    std::error_code error;
    if (writeMaps && fs::exists(options_.mapDirectory, error) &&
        !fs::is_directory(options_.mapDirectory, error)) {
      throw InspectionError("cannot write defect maps into " + options_.mapDirectory +
                            ": not a directory");
    }
    WindowGrabber viewer(kDefectMapWindow);
    for (const std::string& image : options_.images) {
      viewer.clear();
      const ProcedureResult result = processPicture(image, kInspectMode, viewer, console_);
      if (!result.defectRatio) {
        throw InspectionError("the inspection of " + image + " gave no defect ratio");
      }
      // The map is in place before its result line appears, so a printed line means a map.
      if (writeMaps) {
        const std::string path =
            (fs::path(options_.mapDirectory) / defectMapFileName(image)).string();
        writeDefectMap(viewer.grabbed(), path);
        progress("defect map of " + image + " in " + path);
      }
      std::fprintf(console_.lines, "%.4f\t%s\n", static_cast<double>(*result.defectRatio),
                   image.c_str());
      std::fflush(console_.lines);
    }
  }

  const CommandLineOptions& options_;
  std::FILE* err_;
  Console console_;
};

}  // namespace

bool isCommandLineInvocation(int argc, char** /*argv*/) { return argc > 1; }

int runCommandLine(const std::vector<std::string>& arguments, std::FILE* out, std::FILE* err) {
  CommandLineOptions options;
  try {
    options = parseCommandLine(arguments);
  } catch (const UsageError& error) {
    std::fprintf(err, "tallen: %s\nTry 'tallen --help' for more information.\n", error.what());
    return kExitUsage;
  }
  if (options.command == Command::kHelp) {
    std::fputs(usageText().c_str(), out);
    return std::fflush(out) == 0 ? kExitSuccess : kExitError;
  }

  int status = kExitSuccess;
  try {
    CommandRunner(options, out, err).run();
  } catch (const InspectionError& error) {
    std::fprintf(err, "tallen: error: %s\n", error.what());
    status = kExitError;
  } catch (const cv::Exception& error) {
    std::fprintf(err, "tallen: error in the image library: %s\n", error.what());
    status = kExitError;
  } catch (const std::bad_alloc&) {
    std::fprintf(err, "tallen: error: out of memory\n");
    status = kExitError;
  } catch (const std::exception& error) {
    std::fprintf(err, "tallen: error: %s\n", error.what());
    status = kExitError;
  }
  // A result that did not reach its reader is a failure too (a full disk, a closed pipe).
  if (std::fflush(out) != 0 || std::ferror(out)) {
    std::fprintf(err, "tallen: error: cannot write the standard output\n");
    status = kExitError;
  }
  return status;
}

int runCommandLine(int argc, char** argv, std::FILE* out, std::FILE* err) {
  std::vector<std::string> arguments;
  for (int i = 1; i < argc; ++i) arguments.emplace_back(argv[i]);
  return runCommandLine(arguments, out, err);
}

int runCommandLine(int argc, char** argv) { return runCommandLine(argc, argv, stdout, stderr); }

}  // namespace tallen
