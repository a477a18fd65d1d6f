#include "cli/command_line.h"

#include "cli/command_line_options.h"
#include "cli/defect_map_file.h"
#include "cli/ordered_jobs.h"
#include "cli/window_grabber.h"
#include "core/console.h"
#include "core/memory_stream.h"
#include "core/procedure.h"
#include "core/procedure_error.h"
#include "core/procedure_workspace.h"

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include <exception>
#include <filesystem>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

namespace tallen {
namespace {

namespace fs = std::filesystem;
using Command = CommandLineOptions::Command;

// Loads a picture the way the dialog's holder does: any file, as 8-bit colour.
// Throws InspectionError naming the file when it gives no picture.
cv::Mat loadPicture(const std::string& path) {
  const std::string prefix = "cannot read the image " + path + ": ";
  std::error_code error;
  if (!fs::exists(path, error)) throw InspectionError(prefix + "no such file");
  if (fs::is_directory(path, error)) throw InspectionError(prefix + "it is a directory");
  cv::Mat picture = cv::imread(path, cv::IMREAD_COLOR);
  if (picture.empty()) {
    throw InspectionError(prefix + "not a picture that can be decoded, or not readable");
  }
  return picture;
}

// What inspecting one picture gave, held until the pictures before it are reported.
struct InspectedPicture {
  std::string console;  // its console and trace lines
  std::optional<float> ratio;
  cv::Mat map;
  std::exception_ptr error;
};

class CommandRunner {
 public:
  CommandRunner(const CommandLineOptions& options, std::FILE* out, std::FILE* err)
      : options_(options), err_(err) {
    console_.lines = out;
    console_.trace = options.quiet ? nullptr : out;
  }

  void run() {
    // Every picture must decode before the first one is processed, so that a typing error in a
    // list neither leaves a model of half the samples nor half the defect maps.
    for (const std::string& image : options_.images) loadPicture(image);
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
    processImage(loadPicture(image), kTemplateMode, viewer, console_);
    progress("template cut from " + image + " into " + kTemplateFile);
  }

  void runRegister() {
    NullViewer viewer;
    // Kept across the samples: the work images and the decoded template.
    ProcedureWorkspace workspace;
    ProcedureOptions procedureOptions;
    procedureOptions.workspace = &workspace;
    int sample = options_.firstSample;
    for (const std::string& image : options_.images) {
      try {
        processImage(loadPicture(image), sample, viewer, console_, procedureOptions);
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
    const std::vector<std::string>& images = options_.images;
    const int jobs = options_.jobs > 0 ? options_.jobs : defaultJobCount();
    // One workspace per thread; the decoded working files are shared by all.
    const auto cache = std::make_shared<WorkingFileCache>();
    std::vector<std::unique_ptr<ProcedureWorkspace>> workspaces;
    for (int i = 0; i < jobs && i < static_cast<int>(images.size()); ++i) {
      workspaces.push_back(std::make_unique<ProcedureWorkspace>(cache));
    }
    std::vector<InspectedPicture> inspected(images.size());
    runOrderedJobs(
        images.size(), jobs,
        [&](std::size_t i, int worker) { inspect(images[i], *workspaces[worker], inspected[i]); },
        [&](std::size_t i) {
          report(images[i], inspected[i], writeMaps);
          inspected[i] = InspectedPicture();
        });
  }

  // Inspects one picture with its console lines kept aside, so that parallel inspections print
  // in the order of the command line.
  void inspect(const std::string& image, ProcedureWorkspace& workspace,
               InspectedPicture& inspected) const {
    MemoryStream stream;
    Console console;
    console.lines = stream.file();
    console.trace = console_.trace != nullptr ? stream.file() : nullptr;
    ProcedureOptions options;
    options.workspace = &workspace;
    try {
      WindowGrabber viewer(kDefectMapWindow);
      inspected.ratio =
          processImage(loadPicture(image), kInspectMode, viewer, console, options).defectRatio;
      inspected.map = viewer.grabbed();
    } catch (...) {
      inspected.error = std::current_exception();
    }
    inspected.console = stream.text();
  }

  void report(const std::string& image, const InspectedPicture& inspected, bool writeMaps) {
    std::fwrite(inspected.console.data(), 1, inspected.console.size(), console_.lines);
    if (inspected.error) std::rethrow_exception(inspected.error);
    if (!inspected.ratio) {
      throw InspectionError("the inspection of " + image + " gave no defect ratio");
    }
    // The map is in place before its result line appears, so a printed line means a map.
    if (writeMaps) {
      const std::string path =
          (fs::path(options_.mapDirectory) / defectMapFileName(image)).string();
      writeDefectMap(inspected.map, path);
      progress("defect map of " + image + " in " + path);
    }
    std::fprintf(console_.lines, "%.4f\t%s\n", static_cast<double>(*inspected.ratio),
                 image.c_str());
    std::fflush(console_.lines);
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
