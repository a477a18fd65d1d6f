#include "cli/picture_verdict.h"

#include "cli/defect_map_file.h"
#include "cli/overlay_file.h"
#include "cli/window_grabber.h"
#include "core/procedure.h"
#include "core/procedure_error.h"

#include <filesystem>

namespace tallen {

const char* verdictText(Verdict verdict) {
  switch (verdict) {
    case Verdict::kPass:
      return "pass";
    case Verdict::kFail:
      return "fail";
    case Verdict::kNotLocated:
      return "not located";
  }
  return "?";
}

InspectionSettings inspectionSettings(const CommandLineOptions& options) {
  InspectionSettings settings;
  settings.maxRatio = options.maxRatio;
  settings.minScore = options.minScore;
  settings.mapDirectory = options.mapDirectory;
  settings.overlayDirectory = options.overlayDirectory;
  return settings;
}

ExaminedPicture examinePicture(const std::string& path, const cv::Mat& picture,
                               const InspectionSettings& settings, const Console& console,
                               ProcedureWorkspace* workspace) {
  WindowGrabber viewer(kDefectMapWindow);
  ProcedureOptions procedureOptions;
  procedureOptions.keepImages = !settings.overlayDirectory.empty();
  procedureOptions.workspace = workspace;
  ProcedureResult result;
  try {
    result = processImage(picture, kInspectMode, viewer, console, procedureOptions);
  } catch (const InspectionError& error) {
    throw InspectionError(path + ": " + error.what());
  }
  if (!result.defectRatio || !result.match) {
    throw InspectionError("the inspection of " + path + " gave no defect ratio");
  }

  ExaminedPicture examined;
  InspectionOutcome& outcome = examined.outcome;
  outcome.path = path;
  outcome.ratio = *result.defectRatio;
  outcome.match = *result.match;
  outcome.located = settings.minScore <= 0.0 || outcome.match.score >= settings.minScore;
  if (settings.maxRatio) {
    if (!outcome.located) {
      outcome.verdict = Verdict::kNotLocated;
    } else {
      outcome.verdict = outcome.ratio > *settings.maxRatio ? Verdict::kFail : Verdict::kPass;
    }
  }
  if (!settings.mapDirectory.empty()) examined.map = viewer.grabbed();
  if (!settings.overlayDirectory.empty()) {
    examined.overlay = paintDefects(result.patch, result.defectMask);
  }
  return examined;
}

InspectionOutcome writePictureFiles(const ExaminedPicture& examined,
                                    const InspectionSettings& settings) {
  namespace fs = std::filesystem;
  InspectionOutcome outcome = examined.outcome;
  // The files are in place before the outcome is reported, so a printed line means its files.
  if (!settings.mapDirectory.empty()) {
    outcome.mapPath =
        (fs::path(settings.mapDirectory) / defectMapFileName(outcome.path)).string();
    writeDefectMap(examined.map, outcome.mapPath);
  }
  if (!settings.overlayDirectory.empty()) {
    outcome.overlayPath =
        (fs::path(settings.overlayDirectory) / overlayFileName(outcome.path)).string();
    writeOverlay(examined.overlay, outcome.overlayPath);
  }
  return outcome;
}

InspectionOutcome inspectPicture(const std::string& path, const cv::Mat& picture,
                                 const InspectionSettings& settings, const Console& console) {
  return writePictureFiles(examinePicture(path, picture, settings, console), settings);
}

bool failed(const InspectionOutcome& outcome) {
  return outcome.verdict && *outcome.verdict != Verdict::kPass;
}

}  // namespace tallen
