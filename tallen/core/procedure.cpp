#include "core/procedure.h"

#include "core/bright_mask.h"
#include "core/defect_map.h"
#include "core/defect_ratio.h"
#include "core/memory_stream.h"
#include "core/model_record.h"
#include "core/orientation.h"
#include "core/procedure_error.h"
#include "core/procedure_workspace.h"
#include "core/recording_viewer.h"
#include "core/sample_stats.h"
#include "core/size_text.h"
#include "core/template_locating.h"
#include "core/template_size.h"
#include "core/working_files.h"
#include "core/working_folder.h"

#include <opencv2/imgproc.hpp>

#include <cstdio>
#include <functional>
#include <future>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <utility>

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

// The record of a save: the template's digest, and `model` (the working files written besides
// the template, as they will be on disk).
WorkingFile recordOf(cv::Size size, int samples, const std::string& templateDigest,
                     const std::vector<WorkingFile>& model) {
  ModelRecord record;
  record.templateSize = size;
  record.samples = samples;
  record.written = currentRecordTime();
  record.sha256[kTemplateFile] = templateDigest;
  for (const WorkingFile& file : model) record.sha256[file.path] = sha256Hex(file.bytes);
  return {kModelRecordFile, encodeModelRecord(record)};
}

// Saves `files` with their record and the caller's extra files as one set.
void saveWithRecord(std::vector<WorkingFile> files, const WorkingFile& record,
                    const ProcedureOptions& options) {
  files.push_back(record);
  files.insert(files.end(), options.alsoSave.begin(), options.alsoSave.end());
  saveWorkingFiles(files);
}

// Mode 0: cuts the W x H window around the centroid of the aligned picture's bright area.
void registerTemplate(const cv::Mat& source, cv::Size size, ImageViewer& viewer,
                      const Console& console, const ProcedureOptions& options,
                      ProcedureWorkspace& work) {
  cv::Mat& aligned = work.aligned;
  alignOrientation(source, aligned, viewer, console.trace, &work.alignment);
  brightMask(aligned, work.match.gray, work.match.pictureMask);
  const cv::Moments m = cv::moments(work.match.pictureMask, false);
  if (m.m00 == 0.0) throw PictureRefusal(kNoObject);
  // A window beyond the picture would be cut from repeated border pixels.
  requirePictureFits(size, source.size());
  const cv::Point2f centroid(static_cast<float>(m.m10 / m.m00), static_cast<float>(m.m01 / m.m00));
  cv::Mat templ;
  cv::getRectSubPix(aligned, size, centroid, templ);
  viewer.show(kTemplateWindow, templ);
  // A new template makes any stored model obsolete: the record then lists no samples.
  const WorkingFile file{kTemplateFile, encodeWorkingImage(kTemplateFile, templ)};
  saveWithRecord({file}, recordOf(size, 0, sha256Hex(file.bytes), {}), options);
}

// Modes from 1: aligns the picture, finds the template and cuts the W x H patch at the match.
struct WorkingImages {
  cv::Mat templ;
  cv::Mat mean;       // empty unless asked for
  cv::Mat threshold;  // empty unless asked for
};

// In the order a sequential check reports them: template, mean, tolerance.
WorkingImages loadWorkingImages(WorkingFileCache& files, cv::Size size, bool withModel) {
  WorkingImages images;
  images.templ = files.load(kTemplateFile, size);
  if (withModel) {
    images.mean = files.load(kMeanFile, size);
    images.threshold = files.load(kThresholdFile, size);
  }
  return images;
}

// Finds the template in the workspace's aligned picture and cuts the patch (the workspace's).
const cv::Mat& matchAligned(const cv::Mat& templ, cv::Size size, ImageViewer& viewer,
                            const Console& console, TemplateMatch& match,
                            ProcedureWorkspace& work) {
  cv::Mat& aligned = work.aligned;
  // The search borrows the alignment's full-size images, so that the workspace holds one pair.
  std::swap(work.alignment.gray, work.match.gray);
  std::swap(work.alignment.bright, work.match.pictureMask);
  match = locateTemplate(aligned, templ, viewer, console.trace, &work.match);
  // As for the template: a picture without an object would match with score 0 and enter the
  // model, or pass an inspection with a ratio of 0. The search's mask of the aligned picture
  // tells it without another pass.
  const bool noObject = cv::countNonZero(work.match.pictureMask) == 0;
  std::swap(work.alignment.gray, work.match.gray);
  std::swap(work.alignment.bright, work.match.pictureMask);
  if (noObject) throw PictureRefusal(kNoObject);
  cutMatchedPatch(aligned, match.point, size, work.patch);
  return work.patch;
}

void registerSample(int n, const cv::Mat& patch, cv::Mat& mean, cv::Mat& threshold,
                    ImageViewer& viewer, const ProcedureOptions& options,
                    ProcedureWorkspace& work) {
  cv::Mat& floatPatch = work.floatPatch;
  patch.convertTo(floatPatch, CV_32F, 1.0, 0.0);
  if (n == 1) {
    // A stored model is ignored: the statistics start afresh.
    mean.create(patch.size(), CV_8UC3);
    threshold.create(patch.size(), CV_8UC3);
  }
  accumulateSampleStats(n, floatPatch, mean, threshold, &work.stats);
  const std::vector<WorkingFile> files = {
      {kMeanFile, encodeWorkingImage(kMeanFile, mean)},
      {kThresholdFile, encodeWorkingImage(kThresholdFile, threshold)}};
  saveWithRecord(files, recordOf(patch.size(), n, fileSha256(kTemplateFile), files), options);

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
                   cv::Size size, ImageViewer& viewer, cv::Mat* unmarked,
                   ProcedureWorkspace& work) {
  cv::Mat& defects = work.defects;
  computeDefectMap(patch, mean, threshold, defects);
  const float ratio = defectRatio(defects, size.width, size.height);
  if (unmarked) defects.copyTo(*unmarked);

  // Drawn after counting, so the text never counts as a defect.
  char text[kRatioTextSize];
  std::snprintf(text, sizeof text, "%.4f", static_cast<double>(ratio));
  cv::putText(defects, text, cv::Point(kRatioMargin, size.height - kRatioMargin),
              cv::FONT_HERSHEY_SIMPLEX, kRatioFontScale, kWhite, kRatioThickness, cv::LINE_8);
  viewer.show(kDefectMapWindow, defects);
  return ratio;
}

ProcedureResult runFlow(const cv::Mat& source, int mode, cv::Size size, ImageViewer& viewer,
                        const Console& console, const ProcedureOptions& options,
                        ProcedureWorkspace& work) {
  ProcedureResult result;
  if (mode == kTemplateMode) {
    registerTemplate(source, size, viewer, console, options, work);
    return result;
  }
  // Every working file is checked before anything is shown or written. They are decoded while the
  // picture is aligned; what the alignment traces waits until they have passed, so that a failure
  // prints what it printed before: nothing.
  const bool inspecting = mode == kInspectMode;
  std::future<WorkingImages> loading =
      std::async(std::launch::async, loadWorkingImages, std::ref(work.workingFiles()), size,
                 inspecting || mode >= 2);
  if (size.width > source.cols || size.height > source.rows) {
    loading.get();
    requirePictureFits(size, source.size());
  }
  std::optional<MemoryStream> alignmentTrace;
  if (console.trace != nullptr) alignmentTrace.emplace();
  try {
    alignOrientation(source, work.aligned, viewer,
                     alignmentTrace ? alignmentTrace->file() : nullptr, &work.alignment);
  } catch (...) {
    loading.get();
    throw;
  }
  WorkingImages files = loading.get();
  if (alignmentTrace) {
    const std::string lines = alignmentTrace->text();
    std::fwrite(lines.data(), 1, lines.size(), console.trace);
  }
  const cv::Mat& templ = files.templ;
  cv::Mat& mean = files.mean;
  cv::Mat& threshold = files.threshold;
  if (!inspecting && !mean.empty()) {
    // A registration rewrites the model in place; the cached pixels must stay as decoded.
    mean = mean.clone();
    threshold = threshold.clone();
  }
  TemplateMatch match;
  const cv::Mat& patch = matchAligned(templ, size, viewer, console, match, work);
  result.match = match;
  if (!inspecting && match.score < options.minMatchScore) {
    char text[64];
    std::snprintf(text, sizeof text, "template match score %.6f is below the minimum %g",
                  match.score, options.minMatchScore);
    throw PictureRefusal(text);
  }
  if (inspecting) {
    result.defectRatio = inspectPatch(patch, mean, threshold, size, viewer,
                                      options.keepImages ? &result.defectMask : nullptr, work);
    if (options.keepImages) result.patch = patch.clone();
  } else {
    registerSample(mode, patch, mean, threshold, viewer, options, work);
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
  // Held for the whole call: writers take turns, and an inspection never reads a torn model.
  const WorkingFolderLock lock(mode == kInspectMode ? WorkingFolderLock::Mode::kRead
                                                    : WorkingFolderLock::Mode::kWrite);

  const cv::Size size(templateSize.width, templateSize.height);
  // Windows are shown only once the whole flow has succeeded, so a failure shows nothing.
  RecordingViewer pending(viewer);
  ProcedureWorkspace callWorkspace;
  ProcedureWorkspace& work = options.workspace != nullptr ? *options.workspace : callWorkspace;
  ProcedureResult result;
  try {
    result = runFlow(source, mode, size, pending, console, options, work);
  } catch (const std::bad_alloc&) {
    throw InspectionError("not enough memory for the picture and the " + sizeText(size) +
                          " template size");
  } catch (const cv::Exception& e) {
    throw InspectionError("image operation failed: " + e.msg);
  }
  // Published only after success, so a failed call leaves the previous point.
  if (result.match) {
    // Parallel inspections publish one after the other; which one is last is not defined.
    static std::mutex publishing;
    std::lock_guard<std::mutex> lock(publishing);
    g_matchPoint = result.match->point;
  }
  for (const RecordingViewer::Shown& shown : pending.shown()) viewer.show(shown.name, shown.image);
  return result;
}

}  // namespace tallen
