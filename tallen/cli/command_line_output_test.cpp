// What inspect prints and writes for a script: verdicts, formats, overlays, -C and '-'.
#include "cli/command_line.h"

#include "cli/cli_test_support.h"
#include "core/procedure.h"
#include "core/recording_viewer.h"
#include "kit_version.h"

#include <nlohmann/json.hpp>
#include <opencv2/imgcodecs.hpp>

#include <gtest/gtest.h>

#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

namespace tallen {
namespace {

namespace fs = std::filesystem;
using cli_testing::InspectionArea;
using cli_testing::RunResult;
using cli_testing::runTallen;
using cli_testing::splitLines;
using cli_testing::WorkingDirectoryGuard;
using nlohmann::json;

// Between the good part's ratio (below 0.001) and the defects' (above 0.012).
constexpr const char kMaxRatio[] = "0.005";
// The bottom rows of a map where its ratio text is drawn: the overlay is compared with the
// written map everywhere above them, and with the procedure's unmarked map everywhere.
constexpr int kTextRows = 24;

std::string picture(const std::string& name) { return "../pictures/" + name + ".jpg"; }

// Fields of one RFC 4180 record (quoted fields may hold commas and doubled quotes).
std::vector<std::string> csvFields(const std::string& line) {
  std::vector<std::string> fields(1);
  bool quoted = false;
  for (size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (quoted) {
      if (c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
        fields.back() += '"';
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        fields.back() += c;
      }
    } else if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      fields.emplace_back();
    } else {
      fields.back() += c;
    }
  }
  return fields;
}

class CommandLineOutput : public ::testing::Test {
 protected:
  CommandLineOutput() : guard_(area_.work()) {
    for (const char* name :
         {"good_1", "good_2", "good_3", "check_good_1", "check_scratch", "check_blob"}) {
      area_.writePicture(name, cli_testing::demoShot(name));
    }
    // A path a CSV reader must take from quotes: a comma and a quote in the name.
    fs::copy_file(area_.path("pictures/check_blob.jpg"), area_.path("pictures/blob, \"b\".jpg"));
  }

  void SetUp() override {
    ASSERT_EQ(runTallen({"--quiet", "template", picture("good_1")}).status, kExitSuccess);
    ASSERT_EQ(
        runTallen({"--quiet", "register", picture("good_1"), picture("good_2"), picture("good_3")})
            .status,
        kExitSuccess);
  }

  const std::vector<std::string> images_ = {picture("check_good_1"), picture("check_scratch"),
                                            "../pictures/blob, \"b\".jpg"};
  InspectionArea area_;
  WorkingDirectoryGuard guard_;
};

struct VerdictCase {
  const char* label;
  std::vector<std::string> images;
  int status;
};

void PrintTo(const VerdictCase& c, std::ostream* os) { *os << c.label; }

class CommandLineVerdict : public CommandLineOutput,
                           public ::testing::WithParamInterface<VerdictCase> {};

TEST_P(CommandLineVerdict, ExitsThreeWhenAnyPictureFails) {
  std::vector<std::string> arguments = {"--quiet", "inspect", "--max-ratio", kMaxRatio};
  for (const std::string& name : GetParam().images) arguments.push_back(picture(name));
  const RunResult result = runTallen(arguments);
  EXPECT_EQ(result.status, GetParam().status) << result.err;
  EXPECT_EQ(splitLines(result.out).size(), GetParam().images.size()) << result.out;
}

const VerdictCase kVerdictCases[] = {
    {"good_passes", {"check_good_1"}, kExitSuccess},
    {"scratch_fails", {"check_scratch"}, kExitCheckFailed},
    {"one_failure_among_passes", {"check_good_1", "check_blob", "check_good_1"}, kExitCheckFailed},
};

INSTANTIATE_TEST_SUITE_P(CommandLineOutput, CommandLineVerdict, ::testing::ValuesIn(kVerdictCases),
                         [](const auto& info) { return std::string(info.param.label); });

TEST_F(CommandLineOutput, WithoutMaxRatioTheLineIsTheHistoricalOne) {
  const RunResult tsv = runTallen({"--quiet", "inspect", images_[0]});
  const RunResult named = runTallen({"--quiet", "inspect", "--format", "tsv", images_[0]});
  ASSERT_EQ(tsv.status, kExitSuccess);
  EXPECT_EQ(named.out, tsv.out);
  ASSERT_EQ(splitLines(tsv.out).size(), 1u);
  EXPECT_EQ(tsv.out.substr(6), "\t" + images_[0] + "\n");
  const RunResult judged = runTallen({"--quiet", "inspect", "--max-ratio", kMaxRatio, images_[0]});
  EXPECT_EQ(judged.out, tsv.out.substr(0, tsv.out.size() - 1) + "\tpass\n");
}

TEST_F(CommandLineOutput, JsonLinesParseAndAgreeWithTsv) {
  std::vector<std::string> arguments = {"inspect", "--format", "json",   "--max-ratio",
                                        kMaxRatio, "--map",    "../maps"};
  arguments.insert(arguments.end(), images_.begin(), images_.end());
  // Not quiet: the trace lines must go to standard error, so standard output parses.
  const RunResult result = runTallen(arguments);
  ASSERT_EQ(result.status, kExitCheckFailed) << result.err;
  EXPECT_NE(result.err.find("正規化相互相関関数="), std::string::npos);
  const std::vector<std::string> lines = splitLines(result.out);
  ASSERT_EQ(lines.size(), images_.size()) << result.out;

  std::vector<std::string> tsvArguments = {"--quiet", "inspect"};
  tsvArguments.insert(tsvArguments.end(), images_.begin(), images_.end());
  const std::vector<std::string> tsv = splitLines(runTallen(tsvArguments).out);
  ASSERT_EQ(tsv.size(), images_.size());

  const char* verdicts[] = {"pass", "fail", "fail"};
  for (size_t i = 0; i < lines.size(); ++i) {
    const json object = json::parse(lines[i]);
    EXPECT_EQ(object["path"], images_[i]);
    EXPECT_DOUBLE_EQ(object["ratio"].get<double>(), std::stod(tsv[i].substr(0, 6)));
    EXPECT_GT(object["matchScore"].get<double>(), 0.9);
    EXPECT_TRUE(object["matchPoint"]["x"].is_number_integer());
    EXPECT_TRUE(object["matchPoint"]["y"].is_number_integer());
    EXPECT_EQ(object["verdict"], verdicts[i]);
    EXPECT_TRUE(fs::exists(object["map"].get<std::string>())) << object["map"];
    EXPECT_FALSE(object.contains("overlay"));
  }
}

TEST_F(CommandLineOutput, CsvHasAHeaderAndQuotesThePath) {
  std::vector<std::string> arguments = {"inspect", "--format", "csv", "--max-ratio", kMaxRatio};
  arguments.insert(arguments.end(), images_.begin(), images_.end());
  const RunResult result = runTallen(arguments);
  ASSERT_EQ(result.status, kExitCheckFailed) << result.err;
  const std::vector<std::string> lines = splitLines(result.out);
  ASSERT_EQ(lines.size(), images_.size() + 1) << result.out;
  EXPECT_EQ(csvFields(lines[0]), (std::vector<std::string>{"path", "ratio", "match_score",
                                                           "match_x", "match_y", "verdict"}));
  const char* verdicts[] = {"pass", "fail", "fail"};
  for (size_t i = 0; i < images_.size(); ++i) {
    const std::vector<std::string> fields = csvFields(lines[i + 1]);
    ASSERT_EQ(fields.size(), 6u) << lines[i + 1];
    EXPECT_EQ(fields[0], images_[i]);
    EXPECT_EQ(fields[5], verdicts[i]);
    EXPECT_EQ(fields[1].size(), 6u) << fields[1];
  }
}

// The overlay is the aligned patch with pure red exactly where the defect map is white. The map
// file carries the ratio text in its bottom rows; the overlay does not, so it is compared with
// the map file above those rows and with the procedure's map without text everywhere.
TEST_F(CommandLineOutput, OverlayIsRedExactlyWhereTheMapIsWhite) {
  const std::string image = picture("check_blob");
  const RunResult result =
      runTallen({"--quiet", "inspect", "--map", "../maps", "--overlay", "../overlays", image});
  ASSERT_EQ(result.status, kExitSuccess) << result.err;
  const cv::Mat overlay = cv::imread("../overlays/check_blob_overlay.png", cv::IMREAD_UNCHANGED);
  const cv::Mat map = cv::imread("../maps/check_blob_defects.png", cv::IMREAD_UNCHANGED);
  ASSERT_EQ(overlay.type(), CV_8UC3);
  ASSERT_EQ(map.type(), CV_8UC1);
  ASSERT_EQ(overlay.size(), map.size());

  RecordingViewer viewer;
  ProcedureOptions keep;
  keep.keepImages = true;
  const ProcedureResult direct = processImage(cv::imread(image, cv::IMREAD_COLOR), kInspectMode,
                                              viewer, Console{nullptr, nullptr}, keep);
  ASSERT_EQ(direct.defectMask.size(), map.size());

  int red = 0;
  for (int y = 0; y < overlay.rows; ++y) {
    for (int x = 0; x < overlay.cols; ++x) {
      const cv::Vec3b pixel = overlay.at<cv::Vec3b>(y, x);
      const bool isRed = pixel == cv::Vec3b(0, 0, 255);
      red += isRed;
      ASSERT_EQ(isRed, direct.defectMask.at<uchar>(y, x) == 255) << x << "," << y;
      if (y < overlay.rows - kTextRows) {
        ASSERT_EQ(isRed, map.at<uchar>(y, x) == 255) << x << "," << y;
      }
      if (!isRed) ASSERT_EQ(pixel, direct.patch.at<cv::Vec3b>(y, x)) << x << "," << y;
    }
  }
  EXPECT_GT(red, 100);  // the blob
  // The text is drawn on the map only.
  EXPECT_GT(cv::countNonZero(map.rowRange(map.rows - kTextRows, map.rows)),
            cv::countNonZero(direct.defectMask.rowRange(map.rows - kTextRows, map.rows)));
}

TEST_F(CommandLineOutput, DashReadsThePicturesFromStandardInput) {
  const RunResult listed =
      runTallen({"--quiet", "inspect", "-"}, images_[1] + "\n\n" + images_[0] + "\n" + images_[2]);
  ASSERT_EQ(listed.status, kExitSuccess) << listed.err;
  const RunResult named = runTallen({"--quiet", "inspect", images_[1], images_[0], images_[2]});
  EXPECT_EQ(listed.out, named.out);

  const RunResult empty = runTallen({"--quiet", "inspect", "-"}, "\n");
  EXPECT_EQ(empty.status, kExitUsage);
  EXPECT_NE(empty.err.find("no picture paths on standard input"), std::string::npos);
  const RunResult missing = runTallen({"--quiet", "inspect", "-"}, "../pictures/none.jpg\n");
  EXPECT_EQ(missing.status, kExitError);
  EXPECT_NE(missing.err.find("../pictures/none.jpg"), std::string::npos);
}

TEST_F(CommandLineOutput, DashCRunsElsewhereAndComesBack) {
  const fs::path here = fs::current_path();
  fs::current_path(area_.root());
  const RunResult moved = runTallen({"-C", "work", "--quiet", "inspect", images_[0]});
  const RunResult swapped = runTallen({"--quiet", "-Cwork", "inspect", images_[0]});
  EXPECT_EQ(fs::current_path(), fs::path(area_.root()));
  fs::current_path(here);
  const RunResult inPlace = runTallen({"--quiet", "inspect", images_[0]});
  ASSERT_EQ(moved.status, kExitSuccess) << moved.err;
  EXPECT_EQ(moved.out, inPlace.out);
  EXPECT_EQ(swapped.out, inPlace.out);

  const RunResult nowhere = runTallen({"-C", "../nothere", "status"});
  EXPECT_EQ(nowhere.status, kExitError);
  EXPECT_NE(nowhere.err.find("../nothere: No such file or directory"), std::string::npos)
      << nowhere.err;
}

// A name holding a newline or tab cannot forge a result line or a column.
TEST_F(CommandLineOutput, ControlCharactersOfPathsAreEscaped) {
  const std::string forged = "../pictures/scratch\n0.0000\tok.jpg";
  fs::copy_file(area_.path("pictures/check_scratch.jpg"), forged);
  const RunResult result = runTallen({"inspect", "--max-ratio", kMaxRatio, forged});
  EXPECT_EQ(result.status, kExitCheckFailed) << result.err;
  const std::vector<std::string> lines = splitLines(result.out);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back().substr(6), "\t../pictures/scratch\\n0.0000\\tok.jpg\tfail");
  const RunResult json = runTallen({"--quiet", "inspect", "--format", "json", forged});
  EXPECT_EQ(json::parse(json.out)["path"], forged);

  const RunResult missing = runTallen({"inspect", "../pictures/a\nb.jpg"});
  EXPECT_EQ(missing.status, kExitError);
  EXPECT_NE(missing.err.find("../pictures/a\\nb.jpg"), std::string::npos) << missing.err;
  EXPECT_EQ(splitLines(missing.err).size(), 1u) << missing.err;
}

TEST(CommandLineVersion, PrintsTheKitVersion) {
  const RunResult result = runTallen({"--version"});
  EXPECT_EQ(result.status, kExitSuccess);
  EXPECT_EQ(result.out, std::string("tallen ") + kKitVersion + "\n");
  EXPECT_EQ(result.err, "");
}

}  // namespace
}  // namespace tallen
