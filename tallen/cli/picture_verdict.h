#pragma once

#include "cli/command_line_options.h"
#include "core/console.h"
#include "core/procedure_workspace.h"
#include "core/template_locating.h"

#include <opencv2/core.hpp>

#include <optional>
#include <string>

namespace tallen {

// What a line decides about one picture once a ratio limit is given.
enum class Verdict { kPass, kFail, kNotLocated };

// "pass", "fail", "not located".
const char* verdictText(Verdict verdict);

// How each picture of an inspection is judged and what is written for it.
struct InspectionSettings {
  std::optional<double> maxRatio;  // verdicts only when given
  double minScore = kDefaultMinScore;
  std::string mapDirectory;      // empty: no map
  std::string overlayDirectory;  // empty: no overlay
};

// The settings of an inspect command line.
InspectionSettings inspectionSettings(const CommandLineOptions& options);

// Everything known about one inspected picture.
struct InspectionOutcome {
  std::string path;  // as given
  float ratio = 0.0f;
  TemplateMatch match;
  bool located = true;             // the match reaches the minimum score
  std::optional<Verdict> verdict;  // set when settings.maxRatio is
  std::string mapPath;             // the defect map written, or empty
  std::string overlayPath;         // the overlay written, or empty
};

// An inspected picture whose map and overlay are not written yet.
struct ExaminedPicture {
  InspectionOutcome outcome;  // mapPath and overlayPath still empty
  cv::Mat map;                // the defect map as shown, when settings ask for a map
  cv::Mat overlay;            // the painted patch, when settings ask for an overlay
};

// Inspects `picture` (decoded from `path`) against the working files of the current directory
// as the dialog's inspect button does and judges it, writing nothing; `workspace` (may be null)
// keeps work images between calls. Throws InspectionError naming the picture.
ExaminedPicture examinePicture(const std::string& path, const cv::Mat& picture,
                               const InspectionSettings& settings, const Console& console,
                               ProcedureWorkspace* workspace = nullptr);

// Writes the map and overlay of `examined` where the settings ask and returns its outcome with
// their paths. Throws InspectionError naming the file that cannot be written.
InspectionOutcome writePictureFiles(const ExaminedPicture& examined,
                                    const InspectionSettings& settings);

// examinePicture, then writePictureFiles. The files of earlier pictures stay when it throws.
InspectionOutcome inspectPicture(const std::string& path, const cv::Mat& picture,
                                 const InspectionSettings& settings, const Console& console);

// True when the outcome has a verdict other than pass.
bool failed(const InspectionOutcome& outcome);

}  // namespace tallen
