#include "cli/command_line.h"

#include "cli/command_line_options.h"
#include "cli/model_status.h"
#include "cli/ordered_jobs.h"
#include "cli/outcome_reporter.h"
#include "cli/picture_input.h"
#include "cli/picture_verdict.h"
#include "cli/text_escape.h"
#include "cli/watch_loop.h"
#include "core/console.h"
#include "core/memory_stream.h"
#include "core/model_record.h"
#include "core/procedure.h"
#include "core/procedure_error.h"
#include "core/procedure_workspace.h"
#include "core/working_files.h"
#include "core/working_folder.h"
#include "kit_version.h"

#include <opencv2/core.hpp>

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <exception>
#include <filesystem>
#include <functional>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

namespace tallen {
namespace {

namespace fs = std::filesystem;
using Command = CommandLineOptions::Command;

// The previous generation of the model, saved with sample 1 of `register --new`.
std::vector<WorkingFile> previousGeneration() {
  std::vector<WorkingFile> kept;
  const std::pair<const char*, const char*> names[] = {
      {kMeanFile, "gdaccnumI.prev.jpg"},
      {kThresholdFile, "gdThresholdImageI.prev.jpg"},
      {kModelRecordFile, "tallen-model.prev.json"}};
  for (const auto& [name, prevName] : names) {
    std::error_code error;
    if (!fs::exists(name, error)) continue;
    std::optional<std::vector<uchar>> bytes = readWorkingFileBytes(name);
    if (!bytes) throw InspectionError(std::string(name) + ": cannot be read to keep it");
    kept.push_back({prevName, std::move(*bytes)});
  }
  return kept;
}

class CommandRunner {
 public:
  CommandRunner(const CommandLineOptions& options, std::FILE* out, std::FILE* err)
      : options_(options), err_(err) {
    // Only tsv shares standard output with the procedure's own lines, so the others parse.
    const bool plain = options.format == OutputFormat::kTsv;
    console_.lines = plain ? out : err;
    console_.trace = options.quiet ? nullptr : (plain ? out : err);
    out_ = out;
  }

  int run() {
    // Every picture is checked by its header before the first one is processed, so that a typing
    // error in a list neither leaves a model of half the samples nor half the defect maps; each
    // is then decoded once, in its turn.
    for (const std::string& image : options_.images) checkPicture(image);
    switch (options_.command) {
      case Command::kTemplate:
        runTemplate();
        break;
      case Command::kRegister:
        runRegister();
        break;
      case Command::kInspect:
        return runInspect();
      case Command::kStatus:
        return runStatus();
      case Command::kHelp:
      case Command::kVersion:
        break;
    }
    return kExitSuccess;
  }

 private:
  // One line to standard error that --quiet silences.
  void progress(const std::string& line) {
    if (!options_.quiet) std::fprintf(err_, "tallen: %s\n", escapeControlCharacters(line).c_str());
  }

  // One line to standard error that --quiet leaves: something the caller must know.
  void warn(const std::string& line) {
    std::fprintf(err_, "tallen: warning: %s\n", escapeControlCharacters(line).c_str());
  }

  void runTemplate() {
    const std::string& image = options_.images.front();
    NullViewer viewer;
    processPicture(image, kTemplateMode, viewer, console_);
    progress("template cut from " + image + " into " + kTemplateFile);
  }

  // The number of the first picture when neither --start nor --new is given: the one after the
  // stored model's, so that a plain register never discards a model by accident.
  int continuedSample() {
    const ModelStatus status = readModelStatus();
    if (const std::optional<std::string> problem = modelProblem(status)) {
      throw InspectionError(*problem + "; continue them with --start N or start afresh with --new");
    }
    if (!status.record) return 1;
    const int first = status.record->samples + 1;
    try {
      checkSampleRange(first, options_.images.size());
    } catch (const UsageError& error) {
      throw InspectionError("the stored model holds " + std::to_string(status.record->samples) +
                            " samples: " + error.what());
    }
    if (first > 1) {
      progress("continuing the stored model of " + std::to_string(status.record->samples) +
               " samples");
    }
    return first;
  }

  void runRegister() {
    // The whole list is one read-modify-write: the count it continues from and every sample it
    // adds, so that a second writer cannot slip in between and take the same sample numbers.
    const WorkingFolderLock lock(WorkingFolderLock::Mode::kWrite);
    NullViewer viewer;
    // Kept across the samples: the work images and the decoded template.
    ProcedureWorkspace workspace;
    ProcedureOptions procedureOptions;
    procedureOptions.workspace = &workspace;
    procedureOptions.minMatchScore = options_.minScore;
    int first = options_.firstSample;
    if (options_.newModel) {
      first = 1;
      procedureOptions.alsoSave = previousGeneration();
    } else if (!options_.startGiven) {
      first = continuedSample();
    }
    int sample = first;
    for (const std::string& image : options_.images) {
      try {
        processImage(loadPicture(image), sample, viewer, console_, procedureOptions);
      } catch (const InspectionError& error) {
        const std::string message = image + ": " + error.what();
        if (sample == first) throw InspectionError(message);
        throw InspectionError(message + " (samples " + std::to_string(first) + " to " +
                              std::to_string(sample - 1) + " are registered; go on with --start " +
                              std::to_string(sample) + ")");
      }
      procedureOptions.alsoSave.clear();
      progress("sample " + std::to_string(sample) + " registered from " + image);
      ++sample;
    }
  }

  void requireDirectoryOrNothing(const std::string& directory, const char* what) {
    std::error_code error;
    if (!directory.empty() && fs::exists(directory, error) && !fs::is_directory(directory, error)) {
      throw InspectionError(std::string("cannot write ") + what + " into " + directory +
                            ": not a directory");
    }
  }

  // Inspection goes on with a model that does not match its record, but says so.
  void warnAboutTheModel() {
    try {
      const ModelStatus status = readModelStatus();
      if (const std::optional<std::string> problem = modelProblem(status)) warn(*problem);
      if (status.record && status.record->samples == 0 && status.modelFilesPresent) {
        warn(std::string("the model files were not built with the current template ") +
             kTemplateFile + " (register the samples again)");
      }
    } catch (const InspectionError& error) {
      warn(error.what());
    }
  }

  int runInspect() {
    requireDirectoryOrNothing(options_.mapDirectory, "defect maps");
    requireDirectoryOrNothing(options_.overlayDirectory, "overlays");
    warnAboutTheModel();
    const InspectionSettings settings = inspectionSettings(options_);
    OutcomeReporter reporter(options_.format, settings, out_);
    reporter.begin();
    size_t failures = 0;
    // Reports one examined picture: its console lines, its files, its line.
    const auto deliver = [&](ExaminedPicture& examined) {
      const InspectionOutcome outcome = writePictureFiles(examined, settings);
      const std::string& image = outcome.path;
      if (!outcome.mapPath.empty()) progress("defect map of " + image + " in " + outcome.mapPath);
      if (!outcome.overlayPath.empty()) {
        progress("overlay of " + image + " in " + outcome.overlayPath);
      }
      if (!outcome.located && !outcome.verdict) {
        char score[32];
        std::snprintf(score, sizeof score, "%.6f", outcome.match.score);
        warn(image + ": template match score " + score + " is below the minimum: not located");
      }
      reporter.report(outcome);
      failures += failed(outcome) ? 1 : 0;
    };
    if (!options_.watchDirectory.empty()) {
      ProcedureWorkspace workspace;
      runWatchedInspection([&](const std::string& image) {
        ExaminedPicture examined =
            examinePicture(image, loadPicture(image), settings, console_, &workspace);
        deliver(examined);
      });
      return kExitSuccess;
    }
    inspectInOrder(settings, deliver);
    if (failures == 0) return kExitSuccess;
    // The reason for the exit status, as every other non-zero status has one.
    std::fprintf(err_, "tallen: %zu of %zu pictures failed\n", failures, options_.images.size());
    return kExitCheckFailed;
  }

  // Inspects the pictures on up to --jobs threads; each one's console lines are kept aside and
  // everything is delivered in the order of the command line, as one job would give it.
  void inspectInOrder(const InspectionSettings& settings,
                      const std::function<void(ExaminedPicture&)>& deliver) {
    struct Pending {
      std::string console;
      ExaminedPicture examined;
      std::exception_ptr error;
    };
    const std::vector<std::string>& images = options_.images;
    const int jobs = options_.jobs > 0 ? options_.jobs : defaultJobCount();
    // One workspace per thread; the decoded working files are shared by all.
    const auto cache = std::make_shared<WorkingFileCache>();
    std::vector<std::unique_ptr<ProcedureWorkspace>> workspaces;
    for (int i = 0; i < jobs && i < static_cast<int>(images.size()); ++i) {
      workspaces.push_back(std::make_unique<ProcedureWorkspace>(cache));
    }
    std::vector<Pending> pending(images.size());
    runOrderedJobs(
        images.size(), jobs,
        [&](std::size_t i, int worker) {
          MemoryStream stream;
          Console console;
          console.lines = stream.file();
          console.trace = console_.trace != nullptr ? stream.file() : nullptr;
          try {
            pending[i].examined = examinePicture(images[i], loadPicture(images[i]), settings,
                                                 console, workspaces[worker].get());
          } catch (...) {
            pending[i].error = std::current_exception();
          }
          pending[i].console = stream.text();
        },
        [&](std::size_t i) {
          Pending done = std::move(pending[i]);
          pending[i] = Pending();
          std::fwrite(done.console.data(), 1, done.console.size(), console_.lines);
          if (done.error) std::rethrow_exception(done.error);
          deliver(done.examined);
        });
  }

  // Runs until SIGINT or SIGTERM; each picture re-reads the working files, so a model registered
  // meanwhile by another process is used.
  void runWatchedInspection(const std::function<void(const std::string&)>& inspectOne) {
    for (const std::string& directory : {options_.mapDirectory, options_.overlayDirectory}) {
      std::error_code error;
      if (!directory.empty() && fs::equivalent(directory, options_.watchDirectory, error)) {
        throw InspectionError("the files of " + directory + " would be written into the watched " +
                              "folder and taken as pictures");
      }
    }
    runWatch(
        {options_.watchDirectory, options_.newOnly},
        [&](const std::string& image) {
          inspectOne(image);
          return !std::ferror(out_);
        },
        [&](const std::string& line) { progress(line); }, err_);
  }

  int runStatus() {
    const WorkingFolderLock lock(WorkingFolderLock::Mode::kRead);
    const ModelStatus status = readModelStatus();
    printModelStatus(status, options_.format, out_);
    if (status.matches) return kExitSuccess;
    std::fprintf(err_, "tallen: %s\n",
                 escapeControlCharacters(
                     modelProblem(status).value_or(
                         std::string("the working files have no record ") + kModelRecordFile))
                     .c_str());
    return kExitCheckFailed;
  }

  const CommandLineOptions& options_;
  std::FILE* out_;
  std::FILE* err_;
  Console console_;
};

// Changes the working directory for the call's duration (-C), back on destruction.
class DirectoryChange {
 public:
  explicit DirectoryChange(const std::string& directory) {
    if (directory.empty()) return;
    std::error_code error;
    previous_ = fs::current_path(error);
    if (::chdir(directory.c_str()) != 0) {
      throw InspectionError("cannot change to the directory " + directory + ": " +
                            std::strerror(errno));
    }
    changed_ = true;
  }
  ~DirectoryChange() {
    if (changed_) (void)::chdir(previous_.c_str());
  }
  DirectoryChange(const DirectoryChange&) = delete;
  DirectoryChange& operator=(const DirectoryChange&) = delete;

 private:
  fs::path previous_;
  bool changed_ = false;
};

// The paths of "-": one a line, blank lines skipped.
std::vector<std::string> readPicturePaths(std::FILE* in) {
  std::vector<std::string> paths;
  std::string line;
  for (int c; (c = std::fgetc(in)) != EOF;) {
    if (c != '\n') {
      line += static_cast<char>(c);
      continue;
    }
    if (!line.empty()) paths.push_back(line);
    line.clear();
  }
  if (!line.empty()) paths.push_back(line);
  if (std::ferror(in)) throw InspectionError("cannot read the picture paths from standard input");
  return paths;
}

void fail(std::FILE* err, const char* kind, const std::string& message) {
  std::fprintf(err, "tallen: %s%s\n", kind, escapeControlCharacters(message).c_str());
}

}  // namespace

bool isCommandLineInvocation(int argc, char** /*argv*/) { return argc > 1; }

int runCommandLine(const std::vector<std::string>& arguments, std::FILE* in, std::FILE* out,
                   std::FILE* err) {
  CommandLineOptions options;
  try {
    options = parseCommandLine(arguments);
  } catch (const UsageError& error) {
    std::fprintf(err, "tallen: %s\nTry 'tallen --help' for more information.\n",
                 escapeControlCharacters(error.what()).c_str());
    return kExitUsage;
  }
  if (options.command == Command::kHelp || options.command == Command::kVersion) {
    if (options.command == Command::kHelp) {
      std::fputs(usageText().c_str(), out);
    } else {
      std::fprintf(out, "tallen %s\n", kKitVersion);
    }
    return std::fflush(out) == 0 ? kExitSuccess : kExitError;
  }
  int status = kExitSuccess;
  try {
    const DirectoryChange directory(options.workingDirectory);
    if (readsPicturesFromInput(options)) {
      options.images = readPicturePaths(in);
      try {
        if (options.images.empty()) throw UsageError("no picture paths on standard input");
        checkPictureList(options);
      } catch (const UsageError& error) {
        std::fprintf(err, "tallen: %s\nTry 'tallen --help' for more information.\n",
                     escapeControlCharacters(error.what()).c_str());
        return kExitUsage;
      }
    }
    status = CommandRunner(options, out, err).run();
  } catch (const InspectionError& error) {
    fail(err, "error: ", error.what());
    status = kExitError;
  } catch (const cv::Exception& error) {
    fail(err, "error in the image library: ", error.what());
    status = kExitError;
  } catch (const std::bad_alloc&) {
    fail(err, "error: ", "out of memory");
    status = kExitError;
  } catch (const std::exception& error) {
    fail(err, "error: ", error.what());
    status = kExitError;
  }
  // A result that did not reach its reader is a failure too (a full disk, a closed pipe).
  if (std::fflush(out) != 0 || std::ferror(out)) {
    std::fprintf(err, "tallen: error: cannot write the standard output\n");
    status = kExitError;
  }
  return status;
}

int runCommandLine(const std::vector<std::string>& arguments, std::FILE* out, std::FILE* err) {
  return runCommandLine(arguments, stdin, out, err);
}

int runCommandLine(int argc, char** argv, std::FILE* out, std::FILE* err) {
  std::vector<std::string> arguments;
  for (int i = 1; i < argc; ++i) arguments.emplace_back(argv[i]);
  return runCommandLine(arguments, out, err);
}

int runCommandLine(int argc, char** argv) { return runCommandLine(argc, argv, stdout, stderr); }

}  // namespace tallen
