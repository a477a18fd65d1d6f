#include "core/procedure.h"

#include "core/bright_mask.h"
#include "core/defect_map.h"
#include "core/defect_ratio.h"
#include "core/orientation.h"
#include "core/procedure_error.h"
#include "core/recording_viewer.h"
#include "core/sample_stats.h"
#include "core/size_text.h"
#include "core/template_locating.h"
#include "core/template_size.h"
#include "core/working_files.h"

#include <opencv2/imgproc.hpp>

#include <cstdio>
#include <new>
#include <string>

namespace tallen {
namespace {

constexpr int kRatioTextSize = 16;
constexpr int kRatioMargin = 5;
constexpr double kRatioFontScale = 0.5;
constexpr int kRatioThickness = 2;
const cv::Scalar kWhite(255, 255, 255, 255);
constexpr char kNoObject[] =
    "no object found in the picture: nothing is brighter than the background";

// The flows need the whole template window inside the picture.
void requirePictureFits(cv::Size templateSize, cv::Size pictureSize) {
  try {
    requireTemplateFits(templateSize, pictureSize);
  } catch (const InspectionError& e) {
    throw PictureRefusal(e.what());
  }
}

// Mode 0: cuts the W x H window around the centroid of the aligned picture's bright area.
void registerTemplate(const cv::Mat& source, cv::Size size, ImageViewer& viewer,
                      const Console& console) {
  cv::Mat aligned;
  alignOrientation(source, aligned, viewer, console.trace);
  const cv::Moments m = cv::moments(brightMask(aligned), false);
  if (m.m00 == 0.0) throw PictureRefusal(kNoObject);
  // A window beyond the picture would be cut from repeated border pixels.
  requirePictureFits(size, source.size());
  const cv::Point2f centroid(static_cast<float>(m.m10 / m.m00), static_cast<float>(m.m01 / m.m00));
  cv::Mat templ;
  cv::getRectSubPix(aligned, size, centroid, templ);
  viewer.show(kTemplateWindow, templ);
  saveWorkingImages({{kTemplateFile, templ}});
}

// Modes from 1: aligns the picture, finds the template and cuts the W x H patch at the match.
cv::Mat extractPatch(const cv::Mat& source, const cv::Mat& templ, cv::Size size,
                     ImageViewer& viewer, const Console& console, TemplateMatch& match) {
  cv::Mat aligned;
  alignOrientation(source, aligned, viewer, console.trace);
  // As for the template: a picture without an object would match with score 0 and enter the
  // model, or pass an inspection with a ratio of 0.
  if (cv::countNonZero(brightMask(aligned)) == 0) throw PictureRefusal(kNoObject);
  match = locateTemplate(aligned, templ, viewer, console.trace);
  cv::Mat patch;
  cutMatchedPatch(aligned, match.point, size, patch);
  return patch;
}

void registerSample(int n, const cv::Mat& patch, cv::Mat& mean, cv::Mat& threshold,
                    ImageViewer& viewer) {
  cv::Mat floatPatch;
  patch.convertTo(floatPatch, CV_32F, 1.0, 0.0);
  if (n == 1) {
    // A stored model is ignored: the statistics start afresh.
    mean.create(patch.size(), CV_8UC3);
    threshold.create(patch.size(), CV_8UC3);
  }
  accumulateSampleStats(n, floatPatch, mean, threshold);
  saveWorkingImages({{kMeanFile, mean}, {kThresholdFile, threshold}});

  viewer.show(kMeanWindow, mean);
  cv::Mat lower;
  cv::subtract(mean, threshold, lower);
  viewer.show(kLowerWindow, lower);
  cv::Mat upper;
  cv::add(mean, threshold, upper);
  viewer.show(kUpperWindow, upper);
  viewer.show(kThresholdWindow, threshold);
}

float inspectPatch(const cv::Mat& patch, const cv::Mat& mean, const cv::Mat& threshold,
                   cv::Size size, ImageViewer& viewer) {
  cv::Mat defects;
  computeDefectMap(patch, mean, threshold, defects);
  const float ratio = defectRatio(defects, size.width, size.height);

  // Drawn after counting, so the text never counts as a defect.
  char text[kRatioTextSize];
  std::snprintf(text, sizeof text, "%.4f", static_cast<double>(ratio));
  cv::putText(defects, text, cv::Point(kRatioMargin, size.height - kRatioMargin),
              cv::FONT_HERSHEY_SIMPLEX, kRatioFontScale, kWhite, kRatioThickness, cv::LINE_8);
  viewer.show(kDefectMapWindow, defects);
  return ratio;
}

ProcedureResult runFlow(const cv::Mat& source, int mode, cv::Size size, ImageViewer& viewer,
                        const Console& console, const ProcedureOptions& options) {
  ProcedureResult result;
  if (mode == kTemplateMode) {
    registerTemplate(source, size, viewer, console);
    return result;
  }
  // Every working file is checked before anything is shown or written.
  const bool inspecting = mode == kInspectMode;
  const cv::Mat templ = loadWorkingImage(kTemplateFile, size);
  cv::Mat mean;
  cv::Mat threshold;
  if (inspecting || mode >= 2) {
    mean = loadWorkingImage(kMeanFile, size);
    threshold = loadWorkingImage(kThresholdFile, size);
  }
  requirePictureFits(size, source.size());
  TemplateMatch match;
  const cv::Mat patch = extractPatch(source, templ, size, viewer, console, match);
  result.match = match;
  if (!inspecting && match.score < options.minMatchScore) {
    char text[64];
    std::snprintf(text, sizeof text, "template match score %.6f is below the minimum %g",
                  match.score, options.minMatchScore);
    throw PictureRefusal(text);
  }
  if (inspecting) {
    result.defectRatio = inspectPatch(patch, mean, threshold, size, viewer);
  } else {
    registerSample(mode, patch, mean, threshold, viewer);
  }
  return result;
}

}  // namespace

ProcedureResult processImage(const cv::Mat& source, int mode, ImageViewer& viewer,
                             const Console& console, const ProcedureOptions& options) {
  if (mode == kExitMode) {
    // Closing the windows needs no size, so a broken settings file must not keep them open.
    try {
      readTemplateSize(kParamFile, console.lines);
    } catch (const InspectionError&) {
    }
    viewer.closeAll();
    return {};
  }
  const TemplateSize templateSize = readTemplateSize(kParamFile, console.lines);
  if (mode < kTemplateMode) return {};
  if (source.empty()) {
    throw InspectionError("no picture: the chosen file could not be read as an image");
  }
  if (source.type() != CV_8UC3) {
    throw InspectionError("the picture must be an 8-bit colour image");
  }

  const cv::Size size(templateSize.width, templateSize.height);
  // Windows are shown only once the whole flow has succeeded, so a failure shows nothing.
  RecordingViewer pending;
  ProcedureResult result;
  try {
    result = runFlow(source, mode, size, pending, console, options);
  } catch (const std::bad_alloc&) {
    throw InspectionError("not enough memory for the picture and the " + sizeText(size) +
                          " template size");
  } catch (const cv::Exception& e) {
    throw InspectionError("image operation failed: " + e.msg);
  }
  // Published only after success, so a failed call leaves the previous point.
  if (result.match) g_matchPoint = result.match->point;
  for (const RecordingViewer::Shown& shown : pending.shown()) viewer.show(shown.name, shown.image);
  return result;
}

}  // namespace tallen
