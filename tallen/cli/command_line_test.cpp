#include "cli/command_line.h"

#include "cli/cli_test_support.h"
#include "core/procedure.h"
#include "core/recording_viewer.h"
#include "generator/demo_set.h"

#include <opencv2/imgcodecs.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

namespace tallen {
namespace {

namespace fs = std::filesystem;
using cli_testing::InspectionArea;
using cli_testing::WorkingDirectoryGuard;
using Arguments = std::vector<std::string>;

// A ratio that a good picture stays below and every defective one exceeds by far.
constexpr double kGoodRatioLimit = 0.005;
constexpr double kDefectRatioFloor = 0.012;

using cli_testing::RunResult;

RunResult run(const Arguments& arguments) { return cli_testing::runTallen(arguments); }

std::vector<std::string> lines(const std::string& text) { return cli_testing::splitLines(text); }

demo::ProductShot shotNamed(const std::string& name) { return cli_testing::demoShot(name); }

// The pictures, as the operator's relative paths from the working directory.
std::string picture(const std::string& name) { return "../pictures/" + name + ".jpg"; }

class CommandLine : public ::testing::Test {
 protected:
  CommandLine() : guard_(area_.work()) {
    for (const char* name : {"good_1", "good_2", "good_3", "check_good_1", "check_scratch",
                             "check_missing_hole", "check_blob"}) {
      area_.writePicture(name, shotNamed(name));
    }
  }

  // Template from good_1, then good_1 to good_3 as samples 1 to 3.
  void registerModel() {
    ASSERT_EQ(run({"--quiet", "template", picture("good_1")}).status, kExitSuccess);
    ASSERT_EQ(run({"--quiet", "register", picture("good_1"), picture("good_2"), picture("good_3")})
                  .status,
              kExitSuccess);
  }

  InspectionArea area_;
  WorkingDirectoryGuard guard_;
};

TEST_F(CommandLine, FullFlowFindsTheDefectsAndWritesEachMapAsShown) {
  registerModel();
  const Arguments images = {picture("check_good_1"), picture("check_scratch"),
                            picture("check_missing_hole"), picture("check_blob")};
  Arguments arguments = {"--quiet", "inspect", "--map", "../maps"};
  arguments.insert(arguments.end(), images.begin(), images.end());
  const RunResult result = run(arguments);
  ASSERT_EQ(result.status, kExitSuccess) << result.err;
  EXPECT_EQ(result.err, "");

  const std::vector<std::string> out = lines(result.out);
  ASSERT_EQ(out.size(), images.size()) << result.out;
  for (size_t i = 0; i < images.size(); ++i) {
    // What the dialog would show for the same file: the ratio and the map under "白黒判定".
    RecordingViewer viewer;
    const ProcedureResult direct = processImage(cv::imread(images[i], cv::IMREAD_COLOR),
                                                kInspectMode, viewer, Console{stdout, nullptr});
    ASSERT_TRUE(direct.defectRatio.has_value());
    char expected[64];
    std::snprintf(expected, sizeof expected, "%.4f\t%s", static_cast<double>(*direct.defectRatio),
                  images[i].c_str());
    EXPECT_EQ(out[i], expected);

    const std::string stem = fs::path(images[i]).stem().string();
    const cv::Mat map = cv::imread("../maps/" + stem + "_defects.png", cv::IMREAD_UNCHANGED);
    const cv::Mat shown = viewer.latest(kDefectMapWindow);
    ASSERT_EQ(map.type(), shown.type()) << stem;
    ASSERT_EQ(map.size(), shown.size()) << stem;
    EXPECT_EQ(cv::norm(map, shown, cv::NORM_INF), 0.0) << stem;

    const double ratio = std::atof(out[i].c_str());
    if (i == 0) {
      EXPECT_LT(ratio, kGoodRatioLimit) << out[i];
    } else {
      EXPECT_GT(ratio, kDefectRatioFloor) << out[i];
    }
  }
}

TEST_F(CommandLine, TraceLinesGoToStandardOutputAndProgressToStandardError) {
  const RunResult templ = run({"template", picture("good_1")});
  ASSERT_EQ(templ.status, kExitSuccess) << templ.err;
  const RunResult registered = run({"register", picture("good_1"), picture("good_2")});
  ASSERT_EQ(registered.status, kExitSuccess) << registered.err;
  const RunResult inspected = run({"inspect", picture("check_good_1")});
  ASSERT_EQ(inspected.status, kExitSuccess) << inspected.err;

  // Segment lines "i,angle,length" from the orientation step, the score line from the search.
  for (const RunResult* result : {&templ, &registered, &inspected}) {
    EXPECT_EQ(result->out.rfind("0,", 0), 0u) << result->out;
    for (const std::string& line : lines(result->out)) {
      EXPECT_EQ(line.find("tallen"), std::string::npos) << line;
    }
    for (const std::string& line : lines(result->err)) {
      EXPECT_EQ(line.rfind("tallen: ", 0), 0u) << line;
    }
  }
  EXPECT_NE(registered.out.find("正規化相互相関関数="), std::string::npos);
  EXPECT_NE(registered.err.find("sample 2 registered from " + picture("good_2")), std::string::npos)
      << registered.err;
  const std::vector<std::string> out = lines(inspected.out);
  ASSERT_GE(out.size(), 2u);
  EXPECT_NE(out[out.size() - 2].find("正規化相互相関関数="), std::string::npos);
  EXPECT_EQ(out.back().substr(out.back().find('\t')), "\t" + picture("check_good_1"));

  const RunResult quiet = run({"--quiet", "inspect", picture("check_good_1")});
  EXPECT_EQ(quiet.out, out.back() + "\n");
  EXPECT_EQ(quiet.err, "");
}

// The sample number weighs the stored model: registering in two runs equals one run, whether
// the second run continues from the record or is numbered with --start; --new discards what was
// stored and keeps it as the previous generation.
TEST_F(CommandLine, RegisterContinuesStartsAfreshOrStartsAtN) {
  const auto model = [] {
    return std::make_pair(cli_testing::readFile(kMeanFile).value_or("missing"),
                          cli_testing::readFile(kThresholdFile).value_or("missing"));
  };
  ASSERT_EQ(run({"--quiet", "template", picture("good_1")}).status, kExitSuccess);
  ASSERT_EQ(
      run({"--quiet", "register", picture("good_1"), picture("good_2"), picture("good_3")}).status,
      kExitSuccess);
  const auto oneRun = model();

  const RunResult fresh = run({"register", "--new", picture("good_1")});
  ASSERT_EQ(fresh.status, kExitSuccess) << fresh.err;
  EXPECT_NE(fresh.err.find("sample 1 registered"), std::string::npos) << fresh.err;
  const auto firstOnly = model();
  EXPECT_NE(firstOnly, oneRun);
  EXPECT_EQ(cli_testing::readFile("gdaccnumI.prev.jpg"), oneRun.first);
  EXPECT_EQ(cli_testing::readFile("gdThresholdImageI.prev.jpg"), oneRun.second);
  EXPECT_TRUE(fs::exists("tallen-model.prev.json"));

  const RunResult continued = run({"register", picture("good_2"), picture("good_3")});
  ASSERT_EQ(continued.status, kExitSuccess) << continued.err;
  EXPECT_NE(continued.err.find("continuing the stored model of 1 samples"), std::string::npos);
  EXPECT_NE(continued.err.find("sample 3 registered from " + picture("good_3")), std::string::npos)
      << continued.err;
  EXPECT_EQ(model(), oneRun);

  // One generation only: each --new keeps just the model it replaces.
  ASSERT_EQ(run({"--quiet", "register", "--new", picture("good_1")}).status, kExitSuccess);
  EXPECT_EQ(cli_testing::readFile("gdaccnumI.prev.jpg"), oneRun.first);
  ASSERT_EQ(run({"--quiet", "register", "--new", picture("good_1")}).status, kExitSuccess);
  EXPECT_EQ(model(), firstOnly);
  EXPECT_EQ(cli_testing::readFile("gdaccnumI.prev.jpg"), firstOnly.first);
  ASSERT_EQ(
      run({"--quiet", "register", "--start", "2", picture("good_2"), picture("good_3")}).status,
      kExitSuccess);
  EXPECT_EQ(model(), oneRun);
}

TEST_F(CommandLine, RegisterStoppedMidwaySaysWhereToGoOn) {
  ASSERT_EQ(run({"--quiet", "template", picture("good_1")}).status, kExitSuccess);
  // Decodes, but is smaller than the template, which only the procedure finds out.
  area_.writePicture("small", shotNamed("good_2"), cv::Size(160, 120));
  const RunResult result =
      run({"--quiet", "register", "--start", "1", picture("good_2"), picture("small")});
  EXPECT_EQ(result.status, kExitError);
  EXPECT_NE(result.err.find("larger than the picture"), std::string::npos) << result.err;
  EXPECT_NE(result.err.find("samples 1 to 1 are registered; go on with --start 2"),
            std::string::npos)
      << result.err;
  EXPECT_TRUE(fs::exists(kMeanFile));
}

TEST_F(CommandLine, HelpGoesToStandardOutput) {
  const RunResult result = run({"--help"});
  EXPECT_EQ(result.status, kExitSuccess);
  EXPECT_EQ(result.out.rfind("usage: tallen", 0), 0u);
  EXPECT_NE(result.out.find("register [--start N] IMAGE..."), std::string::npos);
  EXPECT_EQ(result.err, "");
}

TEST(CommandLineInvocation, IsAnyArgument) {
  char program[] = "tallen";
  char command[] = "inspect";
  char* argv[] = {program, command, nullptr};
  EXPECT_FALSE(isCommandLineInvocation(1, argv));
  EXPECT_TRUE(isCommandLineInvocation(2, argv));
}

struct FailureCase {
  const char* label;
  std::function<void(const InspectionArea&)> prepare;  // breaks something before the run
  Arguments arguments;
  int status;
  std::vector<std::string> messageParts;
};

void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.label; }

class CommandLineFailure : public CommandLine, public ::testing::WithParamInterface<FailureCase> {};

// Every failure exits with its status, says what is wrong on standard error, prints no result
// and leaves every file (working files, pictures, maps) byte for byte as it was.
TEST_P(CommandLineFailure, ReportsAndChangesNothing) {
  const FailureCase& c = GetParam();
  registerModel();
  if (c.prepare) c.prepare(area_);
  const auto before = area_.snapshot();

  const RunResult result = run(c.arguments);
  EXPECT_EQ(result.status, c.status) << result.err;
  for (const std::string& part : c.messageParts) {
    EXPECT_NE(result.err.find(part), std::string::npos) << "'" << part << "' in " << result.err;
  }
  EXPECT_EQ(result.out.find('\t'), std::string::npos) << result.out;
  EXPECT_EQ(area_.snapshot(), before);
}

void removeFile(const InspectionArea& area, const std::string& name) {
  fs::remove(area.path(name));
}

// Writes pictures/<name>.jpg as good_2 cut to its first `keep` bytes (0: half of them).
void writeCutPicture(const InspectionArea& area, const std::string& name, std::size_t keep) {
  const std::string whole = *cli_testing::readFile(area.writePicture(name, shotNamed("good_2")));
  area.writeFile("pictures/" + name + ".jpg", whole.substr(0, keep == 0 ? whole.size() / 2 : keep));
}

// A PNG of a few bytes that declares 16000x16000 pixels: its IHDR chunk with a valid checksum.
std::string pngDeclaringHugeSize() {
  std::vector<uchar> png;
  cv::imencode(".png", cv::Mat(1, 1, CV_8UC3, cv::Scalar::all(0)), png);
  const uchar size[] = {0, 0, 0x3E, 0x80, 0, 0, 0x3E, 0x80};  // 16000, 16000
  std::copy(std::begin(size), std::end(size), png.begin() + 16);
  uint32_t crc = 0xFFFFFFFFu;
  for (int i = 12; i < 29; ++i) {
    crc ^= png[i];
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  crc = ~crc;
  for (int i = 0; i < 4; ++i) png[29 + i] = static_cast<uchar>(crc >> (24 - 8 * i));
  return std::string(png.begin(), png.end());
}

const FailureCase kFailureCases[] = {
    // OpenCV decodes a cut JPEG partly, without an error: it registered as a good sample.
    {"jpeg_cut_at_half",
     [](const InspectionArea& a) { writeCutPicture(a, "cut", 0); },
     {"register", "--start", "4", "../pictures/cut.jpg", picture("good_2")},
     kExitError,
     {"../pictures/cut.jpg", "cut short"}},
    {"jpeg_cut_at_2000_bytes",
     [](const InspectionArea& a) { writeCutPicture(a, "cut", 2000); },
     {"inspect", "--map", "../maps", "../pictures/cut.jpg"},
     kExitError,
     {"../pictures/cut.jpg", "cut short"}},
    // It took 48 s and 7.5 GB to decode; refused from its header before any picture is processed.
    {"declared_size_over_the_pixel_limit",
     [](const InspectionArea& a) { a.writeFile("pictures/bomb.png", pngDeclaringHugeSize()); },
     {"register", "--start", "4", picture("good_2"), "../pictures/bomb.png"},
     kExitError,
     {"../pictures/bomb.png", "16000x16000", "100 megapixels", "TALLEN_MAX_MEGAPIXELS"}},
    // Black pictures registered with a match score of 0 and inspected with a ratio of 0.
    {"no_object_in_a_sample",
     [](const InspectionArea& a) {
       cv::imwrite(a.path("pictures/black.jpg"),
                   cv::Mat::zeros(cli_testing::kPictureSize, CV_8UC3));
     },
     {"register", "--start", "4", "../pictures/black.jpg"},
     kExitError,
     {"../pictures/black.jpg: no object found"}},
    {"no_object_to_inspect",
     [](const InspectionArea& a) {
       cv::imwrite(a.path("pictures/black.jpg"),
                   cv::Mat::zeros(cli_testing::kPictureSize, CV_8UC3));
     },
     {"inspect", "--map", "../maps", "../pictures/black.jpg"},
     kExitError,
     {"../pictures/black.jpg: no object found"}},
    {"template_from_a_picture_smaller_than_the_template",
     [](const InspectionArea& a) {
       a.writePicture("small", shotNamed("good_1"), cv::Size(160, 120));
     },
     {"template", "../pictures/small.jpg"},
     kExitError,
     {"../pictures/small.jpg: template", "is larger than the picture 160x120"}},
    {"missing_image",
     nullptr,
     {"inspect", "--map", "../maps", picture("check_good_1"), "../pictures/nothere.jpg"},
     kExitError,
     {"../pictures/nothere.jpg", "no such file"}},
    {"undecodable_image",
     [](const InspectionArea& a) { a.writeFile("pictures/broken.jpg", "not a picture"); },
     {"inspect", "--map", "../maps", "../pictures/broken.jpg"},
     kExitError,
     {"../pictures/broken.jpg", "decoded"}},
    {"directory_as_image",
     nullptr,
     {"template", "../pictures"},
     kExitError,
     {"../pictures", "directory"}},
    {"register_checks_every_image_first",
     [](const InspectionArea& a) { a.writeFile("pictures/broken.jpg", "not a picture"); },
     {"register", "--start", "4", picture("good_2"), "../pictures/broken.jpg"},
     kExitError,
     {"../pictures/broken.jpg"}},
    {"param_file_missing",
     [](const InspectionArea& a) { removeFile(a, "param.csv"); },
     {"template", picture("good_2")},
     kExitError,
     {"../param.csv"}},
    {"param_file_without_size",
     [](const InspectionArea& a) { a.writeFile("param.csv", "width,height\n210;330\n"); },
     {"inspect", "--map", "../maps", picture("check_good_1")},
     kExitError,
     {"../param.csv"}},
    {"template_missing",
     [](const InspectionArea& a) { removeFile(a, "work/templImage.jpg"); },
     {"register", "--start", "4", picture("good_2")},
     kExitError,
     {"templImage.jpg"}},
    {"model_missing",
     [](const InspectionArea& a) { removeFile(a, "work/gdThresholdImageI.jpg"); },
     {"inspect", "--map", "../maps", picture("check_good_1")},
     kExitError,
     {"gdThresholdImageI.jpg"}},
    {"template_size_changed",
     [](const InspectionArea& a) { a.writeFile("param.csv", "width,height\n200,330\n"); },
     {"inspect", "--map", "../maps", picture("check_good_1")},
     kExitError,
     {"templImage.jpg"}},
    {"picture_smaller_than_template",
     [](const InspectionArea& a) {
       a.writePicture("small", shotNamed("check_good_1"), cv::Size(160, 120));
     },
     {"inspect", "--map", "../maps", "../pictures/small.jpg"},
     kExitError,
     {"larger than the picture"}},
    {"map_directory_is_a_file",
     nullptr,
     {"inspect", "--map", picture("good_1"), picture("check_good_1")},
     kExitError,
     {picture("good_1"), "not a directory"}},
    {"usage_unknown_command",
     nullptr,
     {"judge", picture("good_1")},
     kExitUsage,
     {"unknown command 'judge'", "--help"}},
    {"usage_no_command", nullptr, {}, kExitUsage, {"no command"}},
    {"usage_register_onto_inspection",
     nullptr,
     {"register", "--start", "1000", picture("good_2")},
     kExitUsage,
     {"inspection mode"}},
};

INSTANTIATE_TEST_SUITE_P(CommandLine, CommandLineFailure, ::testing::ValuesIn(kFailureCases),
                         [](const auto& info) { return std::string(info.param.label); });

}  // namespace
}  // namespace tallen
