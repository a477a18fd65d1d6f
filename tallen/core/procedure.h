#pragma once

#include "core/console.h"
#include "core/image_viewer.h"
#include "core/template_locating.h"
#include "core/working_files.h"

#include <opencv2/core.hpp>

#include <optional>
#include <vector>

namespace tallen {

class ProcedureWorkspace;

// Mode numbers passed by the dialog: the register counter (0 = template, n >= 1 = sample n),
// inspection, and exit.
constexpr int kTemplateMode = 0;
constexpr int kInspectMode = 1000;
constexpr int kExitMode = -1;

// Fixed names, relative to the working directory.
constexpr const char kParamFile[] = "../param.csv";
constexpr const char kTemplateFile[] = "templImage.jpg";
constexpr const char kMeanFile[] = "gdaccnumI.jpg";
constexpr const char kThresholdFile[] = "gdThresholdImageI.jpg";

// Window names.
constexpr const char kTemplateWindow[] = "Template";
constexpr const char kMeanWindow[] = "平均";
constexpr const char kLowerWindow[] = "gdlowerImage";
constexpr const char kUpperWindow[] = "gdupperImage";
constexpr const char kThresholdWindow[] = "gdThresholdImage";
constexpr const char kDefectMapWindow[] = "白黒判定";

struct ProcedureResult {
  // Set by an inspection: the share of defective pixels, as drawn on the defect map.
  std::optional<float> defectRatio;
  // Set by sample registration and inspection: where the template was found in the aligned
  // picture, and its score. g_matchPoint holds the same point after the call.
  std::optional<TemplateMatch> match;
  // Set by an inspection asked for them (ProcedureOptions::keepImages): the aligned W x H patch
  // (8-bit BGR) and the defect map before the ratio text is drawn on it (8-bit, one channel, 255
  // where a pixel is defective, 0 elsewhere). Empty otherwise.
  cv::Mat patch;
  cv::Mat defectMask;
};

// How a call runs beyond its mode; the dialog uses the defaults.
struct ProcedureOptions {
  // Sample registration refuses a picture whose template match scores below this (0: never), so
  // that a frame without the product cannot enter the model.
  double minMatchScore = 0.0;
  // An inspection also hands back its patch and unmarked defect map (the command line's overlay).
  bool keepImages = false;
  // Saved together with the working files of a template cut or sample registration, so that
  // they are replaced in one step with them (the command line keeps the previous model this way).
  std::vector<WorkingFile> alsoSave;
  // Work images and decoded working files kept between calls (null: the call keeps its own).
  // A workspace serves one call at a time.
  ProcedureWorkspace* workspace = nullptr;
};

// One button press: reads the template size from ../param.csv, then mode 0 cuts and saves the
// template, modes from 1 register sample n = mode (1000: inspect), -1 closes all windows, below
// -1 nothing. `source` is the operator's 8-bit BGR picture and is only read. Throws
// InspectionError before any window is shown or file written when an input is missing or wrong;
// the working files are then as they were.
ProcedureResult processImage(const cv::Mat& source, int mode, ImageViewer& viewer,
                             const Console& console = Console(),
                             const ProcedureOptions& options = ProcedureOptions());

}  // namespace tallen
