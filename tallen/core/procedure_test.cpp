#include "core/procedure.h"

#include "core/procedure_error.h"
#include "core/procedure_workspace.h"
#include "core/recording_viewer.h"
#include "core/template_locating.h"
#include "core/test_support.h"
#include "generator/product_scene.h"

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include <climits>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tallen {
namespace {

namespace fs = std::filesystem;
using testing::CapturedStream;
using testing::fileBytes;
using testing::ScopedWorkingDirectory;

const cv::Size kPictureSize(320, 240);
const cv::Size kTemplateSize = demo::templateSizeFor(kPictureSize);
const std::vector<std::string> kTemplateWindows = {"ソースイメージ", "Template"};
const std::vector<std::string> kRegisterWindows = {"ソースイメージ", "テンプレートマッチング",
                                                   "平均",           "gdlowerImage",
                                                   "gdupperImage",   "gdThresholdImage"};
const std::vector<std::string> kInspectWindows = {"ソースイメージ", "テンプレートマッチング",
                                                  "白黒判定"};

cv::Mat productPicture(cv::Size size, double angle, cv::Point2d shift, demo::Defect defect,
                       unsigned seed) {
  return demo::drawProductPicture(size, {angle, shift, defect, seed});
}

cv::Mat goodPicture(double angle, cv::Point2d shift, unsigned seed) {
  return productPicture(kPictureSize, angle, shift, demo::Defect::kNone, seed);
}

std::map<std::string, std::string> workingFiles() {
  std::map<std::string, std::string> files;
  for (const char* name : {kTemplateFile, kMeanFile, kThresholdFile}) files[name] = fileBytes(name);
  return files;
}

// A working directory holding a template and a model of three good samples.
class InspectionProcedure : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_.writeTemplateSize(kTemplateSize.width, kTemplateSize.height);
    run(goodPicture(0, {0, 0}, 1), kTemplateMode);
    run(goodPicture(12, {8, -5}, 2), 1);
    run(goodPicture(-9, {-6, 4}, 3), 2);
    run(goodPicture(4, {3, 7}, 4), 3);
    viewer_.clear();
  }

  ProcedureResult run(const cv::Mat& picture, int mode) {
    return processImage(picture, mode, viewer_, Console{nullptr, nullptr});
  }

  ScopedWorkingDirectory dir_;
  RecordingViewer viewer_;
};

TEST_F(InspectionProcedure, DefectivePicturesScoreClearlyAboveGoodOnes) {
  const auto before = workingFiles();
  const float good = run(goodPicture(7, {-4, -3}, 5), kInspectMode).defectRatio.value();
  EXPECT_EQ(viewer_.names(), kInspectWindows);
  const cv::Mat map = viewer_.latest("白黒判定");
  EXPECT_EQ(map.size(), kTemplateSize);
  EXPECT_EQ(map.type(), CV_8UC1);
  EXPECT_LT(good, 0.01f);

  for (demo::Defect defect :
       {demo::Defect::kScratch, demo::Defect::kMissingFeature, demo::Defect::kBlob}) {
    SCOPED_TRACE(static_cast<int>(defect));
    const cv::Mat picture =
        productPicture(kPictureSize, -6, {5, 2}, defect, 10 + static_cast<unsigned>(defect));
    const float ratio = run(picture, kInspectMode).defectRatio.value();
    EXPECT_GT(ratio, 0.015f);
    EXPECT_GT(ratio, 3 * good);
  }
  EXPECT_EQ(workingFiles(), before);
}

TEST_F(InspectionProcedure, InspectingTwiceGivesTheSameRatioAndMapAndLeavesTheSourceAlone) {
  const cv::Mat picture = productPicture(kPictureSize, 3, {0, 0}, demo::Defect::kBlob, 21);
  const cv::Mat before = picture.clone();
  const float first = run(picture, kInspectMode).defectRatio.value();
  const cv::Mat firstMap = viewer_.latest("白黒判定");
  const float second = run(picture, kInspectMode).defectRatio.value();
  EXPECT_EQ(first, second);
  EXPECT_EQ(cv::norm(firstMap, viewer_.latest("白黒判定"), cv::NORM_INF), 0.0);
  EXPECT_EQ(cv::norm(picture, before, cv::NORM_INF), 0.0);
}

TEST_F(InspectionProcedure, RegistrationShowsTheModelAndRewritesOnlyTheModelFiles) {
  const auto before = workingFiles();
  run(goodPicture(-3, {2, 2}, 30), 4);
  EXPECT_EQ(viewer_.names(), kRegisterWindows);
  const auto after = workingFiles();
  EXPECT_EQ(after.at(kTemplateFile), before.at(kTemplateFile));
  EXPECT_NE(after.at(kMeanFile), before.at(kMeanFile));
  EXPECT_NE(after.at(kThresholdFile), before.at(kThresholdFile));

  const cv::Mat mean = viewer_.latest("平均");
  const cv::Mat threshold = viewer_.latest("gdThresholdImage");
  cv::Mat lower;
  cv::subtract(mean, threshold, lower);
  EXPECT_EQ(cv::norm(viewer_.latest("gdlowerImage"), lower, cv::NORM_INF), 0.0);
  // What is shown is what was stored, up to the JPEG loss.
  EXPECT_LE(cv::norm(cv::imread(kMeanFile), mean, cv::NORM_L1) / (3.0 * mean.total()), 2.0);
}

// What a sequence of calls gives: every result, every shown picture and the working files after
// each call.
struct CallRecord {
  std::optional<float> ratio;
  std::optional<cv::Point> point;
  std::vector<std::string> names;
  std::vector<cv::Mat> images;
  std::map<std::string, std::string> files;
};

std::vector<CallRecord> runSequence(ProcedureWorkspace* workspace) {
  const std::vector<std::pair<cv::Mat, int>> calls = {
      {productPicture(kPictureSize, 3, {0, 0}, demo::Defect::kBlob, 21), kInspectMode},
      {goodPicture(-3, {2, 2}, 30), 4},  // the model changes under the kept decoded files
      {productPicture(kPictureSize, 3, {0, 0}, demo::Defect::kBlob, 21), kInspectMode},
      {goodPicture(2, {-2, 1}, 31), kTemplateMode},
      {goodPicture(6, {1, 1}, 32), 1},
      {goodPicture(-7, {4, -2}, 33), 2},
      {productPicture(kPictureSize, -5, {2, 3}, demo::Defect::kScratch, 34), kInspectMode},
      {goodPicture(1, {0, 0}, 35), kInspectMode},
  };
  ProcedureOptions options;
  options.workspace = workspace;
  std::vector<CallRecord> records;
  for (const auto& [picture, mode] : calls) {
    RecordingViewer viewer;
    const ProcedureResult result =
        processImage(picture, mode, viewer, Console{nullptr, nullptr}, options);
    CallRecord record{result.defectRatio, std::nullopt, viewer.names(), {}, workingFiles()};
    if (result.match) record.point = result.match->point;
    for (const RecordingViewer::Shown& shown : viewer.shown()) record.images.push_back(shown.image);
    records.push_back(record);
  }
  return records;
}

TEST_F(InspectionProcedure, KeptWorkspaceGivesWhatFreshCallsGive) {
  const auto start = workingFiles();
  ProcedureWorkspace workspace;
  const std::vector<CallRecord> kept = runSequence(&workspace);
  for (const auto& [name, bytes] : start) {
    std::ofstream(name, std::ios::binary | std::ios::trunc) << bytes;
  }
  const std::vector<CallRecord> fresh = runSequence(nullptr);

  ASSERT_EQ(kept.size(), fresh.size());
  for (std::size_t i = 0; i < kept.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(kept[i].ratio, fresh[i].ratio);
    EXPECT_EQ(kept[i].point, fresh[i].point);
    EXPECT_EQ(kept[i].files, fresh[i].files);
    ASSERT_EQ(kept[i].names, fresh[i].names);
    for (std::size_t j = 0; j < kept[i].images.size(); ++j) {
      EXPECT_EQ(cv::norm(kept[i].images[j], fresh[i].images[j], cv::NORM_INF), 0.0)
          << kept[i].names[j];
    }
  }
  // Files are decoded again only after a call replaced them: 3 + 0 + 2 + 0 + 1 + 2 + 2 + 0.
  EXPECT_EQ(workspace.workingFiles().decodeCount(), 10);
}

// Shows only what it asks for, and counts every picture it is given.
class PickyViewer : public ImageViewer {
 public:
  explicit PickyViewer(std::string wanted) : wanted_(std::move(wanted)) {}
  void show(const std::string& name, const cv::Mat&) override { names.push_back(name); }
  void closeAll() override {}
  bool wants(const std::string& name) const override { return name == wanted_; }
  std::vector<std::string> names;

 private:
  std::string wanted_;
};

TEST_F(InspectionProcedure, ViewerIsGivenOnlyTheWindowsItWants) {
  const cv::Mat picture = goodPicture(7, {-4, -3}, 5);
  PickyViewer mapOnly("白黒判定");
  processImage(picture, kInspectMode, mapOnly, Console{nullptr, nullptr});
  EXPECT_EQ(mapOnly.names, std::vector<std::string>{"白黒判定"});
  PickyViewer nothing("");
  processImage(picture, kInspectMode, nothing, Console{nullptr, nullptr});
  processImage(goodPicture(-3, {2, 2}, 30), 4, nothing, Console{nullptr, nullptr});
  EXPECT_TRUE(nothing.names.empty());
}

TEST_F(InspectionProcedure, FirstSampleStartsTheModelAfreshWithZeroTolerance) {
  run(goodPicture(5, {1, 1}, 40), 1);
  const cv::Mat threshold = cv::imread(kThresholdFile, cv::IMREAD_UNCHANGED);
  double maxValue = 0;
  cv::minMaxLoc(threshold.reshape(1), nullptr, &maxValue);
  EXPECT_LE(maxValue, 2.0);  // all zero but for JPEG ringing
}

TEST_F(InspectionProcedure, ModeTableDispatches) {
  const auto before = workingFiles();
  const cv::Mat picture = goodPicture(2, {0, 0}, 50);
  g_matchPoint = cv::Point(3, 4);
  for (int mode : {-2, -1000, INT_MIN}) {
    run(picture, mode);
    EXPECT_TRUE(viewer_.shown().empty());
    EXPECT_EQ(viewer_.closeAllCount(), 0);
  }
  EXPECT_EQ(g_matchPoint, cv::Point(3, 4));

  run(picture, kTemplateMode);
  EXPECT_EQ(viewer_.names(), kTemplateWindows);
  EXPECT_EQ(g_matchPoint, cv::Point(3, 4));
  auto afterTemplate = workingFiles();
  EXPECT_EQ(afterTemplate.at(kMeanFile), before.at(kMeanFile));
  EXPECT_EQ(afterTemplate.at(kThresholdFile), before.at(kThresholdFile));

  viewer_.clear();
  run(picture, kExitMode);
  EXPECT_TRUE(viewer_.shown().empty());
  EXPECT_EQ(viewer_.closeAllCount(), 1);
  EXPECT_EQ(workingFiles(), afterTemplate);

  viewer_.clear();
  run(picture, 1001);  // past the inspection mode, registration goes on
  EXPECT_EQ(viewer_.names(), kRegisterWindows);
  EXPECT_NE(workingFiles().at(kMeanFile), afterTemplate.at(kMeanFile));
}

TEST_F(InspectionProcedure, SamePictureTwiceCutsTheSameTemplate) {
  const cv::Mat picture = goodPicture(-20, {4, -2}, 60);
  run(picture, kTemplateMode);
  const cv::Mat first = viewer_.latest("Template");
  run(picture, kTemplateMode);
  EXPECT_EQ(cv::norm(first, viewer_.latest("Template"), cv::NORM_INF), 0.0);
}

TEST_F(InspectionProcedure, TraceLinesGoToTheTraceStream) {
  CapturedStream trace;
  processImage(goodPicture(6, {0, 0}, 70), kInspectMode, viewer_, Console{nullptr, trace.stream()});
  const std::string text = trace.text();
  EXPECT_EQ(text.rfind("0,", 0), 0u) << text;
  EXPECT_NE(text.find("\n正規化相互相関関数=0.9"), std::string::npos) << text;
}

TEST_F(InspectionProcedure, ExitClosesTheWindowsWhateverTheSettingsHold) {
  fs::remove(dir_.root() / "param.csv");
  run(cv::Mat(), kExitMode);
  EXPECT_EQ(viewer_.closeAllCount(), 1);
}

struct FailureCase {
  const char* name;
  friend void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.name; }
  std::function<void(const ScopedWorkingDirectory&)> arrange;
  int mode;
  std::function<cv::Mat()> picture;
  const char* mentions;
};

class InspectionProcedureFailure : public InspectionProcedure,
                                   public ::testing::WithParamInterface<FailureCase> {};

TEST_P(InspectionProcedureFailure, IsReportedAndChangesNothing) {
  const FailureCase& c = GetParam();
  c.arrange(dir_);
  const auto before = workingFiles();
  g_matchPoint = cv::Point(11, 12);
  try {
    run(c.picture(), c.mode);
    FAIL() << "no error";
  } catch (const InspectionError& e) {
    EXPECT_NE(std::string(e.what()).find(c.mentions), std::string::npos) << e.what();
  }
  EXPECT_TRUE(viewer_.shown().empty());
  EXPECT_EQ(workingFiles(), before);
  EXPECT_EQ(g_matchPoint, cv::Point(11, 12));
  for (const auto& entry : fs::directory_iterator(".")) {
    const std::string name = entry.path().filename();
    EXPECT_EQ(name.find(".tmp"), std::string::npos) << name;
  }
}

auto noChange = [](const ScopedWorkingDirectory&) {};
auto good = [] { return goodPicture(5, {0, 0}, 80); };

INSTANTIATE_TEST_SUITE_P(
    Cases, InspectionProcedureFailure,
    ::testing::ValuesIn(std::vector<FailureCase>{
        {"settingsMissing",
         [](const ScopedWorkingDirectory& d) { fs::remove(d.root() / "param.csv"); }, 0, good,
         "../param.csv"},
        {"settingsWithoutSize", [](const ScopedWorkingDirectory& d) { d.writeParamFile("w,h\n"); },
         1000, good, "../param.csv"},
        {"settingsZeroWidth", [](const ScopedWorkingDirectory& d) { d.writeTemplateSize(0, 9); }, 2,
         good, "../param.csv"},
        {"noPictureForTemplate", noChange, 0, [] { return cv::Mat(); }, "could not be read"},
        {"noPictureForInspection", noChange, 1000, [] { return cv::Mat(); }, "could not be read"},
        {"noObject", noChange, 0, [] { return cv::Mat(cv::Mat::zeros(kPictureSize, CV_8UC3)); },
         "no object"},
        // Black pictures matched with score 0: they entered the model, or passed an inspection.
        {"noObjectForFirstSample", noChange, 1,
         [] { return cv::Mat(cv::Mat::zeros(kPictureSize, CV_8UC3)); }, "no object"},
        {"noObjectForLaterSample", noChange, 2,
         [] { return cv::Mat(cv::Mat::zeros(kPictureSize, CV_8UC3)); }, "no object"},
        {"noObjectForInspection", noChange, 1000,
         [] { return cv::Mat(cv::Mat::zeros(kPictureSize, CV_8UC3)); }, "no object"},
        // It cut a flat-colour template from repeated border pixels.
        {"pictureSmallerThanTheTemplate", noChange, 0,
         [] {
           return productPicture(cv::Size(100, 400), 0, {0, 0}, demo::Defect::kNone, 3);
         },
         "template 105x165 is larger than the picture 100x400"},
        {"templateMissing", [](const ScopedWorkingDirectory&) { fs::remove(kTemplateFile); }, 1,
         good, "templImage.jpg: missing"},
        {"meanMissingForRegistration", [](const ScopedWorkingDirectory&) { fs::remove(kMeanFile); },
         2, good, "gdaccnumI.jpg: missing"},
        {"thresholdMissingForInspection",
         [](const ScopedWorkingDirectory&) { fs::remove(kThresholdFile); }, 1000, good,
         "gdThresholdImageI.jpg: missing"},
        {"sizeChangedSinceRegistration",
         [](const ScopedWorkingDirectory& d) { d.writeTemplateSize(100, 165); }, 1000, good,
         "templImage.jpg: wrong size 105x165, expected 100x165"},
        {"templateLargerThanPicture", noChange, 1000,
         [] {
           return productPicture(cv::Size(100, 400), 0, {0, 0}, demo::Defect::kNone, 3);
         },
         "template 105x165 is larger than the picture 100x400"},
        {"modelCannotBeSaved",
         [](const ScopedWorkingDirectory&) {
           fs::remove(kThresholdFile);
           fs::create_directory(kThresholdFile);
         },
         1, good, "gdThresholdImageI.jpg: cannot be replaced"},
        {"templateCannotBeSaved",
         [](const ScopedWorkingDirectory&) {
           fs::remove(kTemplateFile);
           fs::create_directory(kTemplateFile);
         },
         0, good, "templImage.jpg: cannot be replaced"},
    }),
    [](const ::testing::TestParamInfo<FailureCase>& info) { return info.param.name; });

// The working files are decoded while the picture is aligned; a bad one must still be reported
// first, with no trace line of the alignment printed.
struct WorkingFileFailure {
  const char* name;
  const char* removed;
  int mode;
  cv::Size pictureSize;
  const char* mentions;
};

class InspectionProcedureWorkingFile : public InspectionProcedure,
                                       public ::testing::WithParamInterface<WorkingFileFailure> {};

TEST_P(InspectionProcedureWorkingFile, IsReportedBeforeAnyTraceLine) {
  const WorkingFileFailure& c = GetParam();
  fs::remove(c.removed);
  CapturedStream lines;
  CapturedStream trace;
  const cv::Mat picture = productPicture(c.pictureSize, 5, {0, 0}, demo::Defect::kNone, 80);
  try {
    processImage(picture, c.mode, viewer_, Console{lines.stream(), trace.stream()});
    FAIL() << "no error";
  } catch (const InspectionError& e) {
    EXPECT_NE(std::string(e.what()).find(c.mentions), std::string::npos) << e.what();
  }
  EXPECT_EQ(trace.text(), "");
  EXPECT_EQ(lines.text(), "");
  EXPECT_TRUE(viewer_.shown().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, InspectionProcedureWorkingFile,
    ::testing::ValuesIn(std::vector<WorkingFileFailure>{
        {"templateForInspection", kTemplateFile, kInspectMode, kPictureSize, "templImage.jpg"},
        {"meanForInspection", kMeanFile, kInspectMode, kPictureSize, "gdaccnumI.jpg"},
        {"thresholdForRegistration", kThresholdFile, 2, kPictureSize, "gdThresholdImageI.jpg"},
        {"templateBeforeTheSizeCheck", kTemplateFile, kInspectMode, cv::Size(100, 400),
         "templImage.jpg: missing"},
    }),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(InspectionProcedure, TraceLinesOfTheAlignmentComeBeforeTheMatchScore) {
  CapturedStream trace;
  processImage(goodPicture(7, {-4, -3}, 5), kInspectMode, viewer_,
               Console{nullptr, trace.stream()});
  const std::string text = trace.text();
  const std::size_t score = text.find("正規化相互相関関数=");
  ASSERT_NE(score, std::string::npos) << text;
  EXPECT_EQ(text.rfind("0,", 0), 0u) << text;
  EXPECT_EQ(text.find('\n', score), text.size() - 1) << text;
}

}  // namespace
}  // namespace tallen
