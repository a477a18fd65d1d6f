// The command line and the model record: continuing, refusing, reporting.
#include "cli/command_line.h"

#include "cli/cli_test_support.h"
#include "core/model_record.h"
#include "core/procedure.h"

#include <nlohmann/json.hpp>
#include <opencv2/imgcodecs.hpp>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace tallen {
namespace {

namespace fs = std::filesystem;
using cli_testing::InspectionArea;
using cli_testing::readFile;
using cli_testing::RunResult;
using cli_testing::runTallen;
using cli_testing::WorkingDirectoryGuard;
using nlohmann::json;

std::string picture(const std::string& name) { return "../pictures/" + name + ".jpg"; }

class CommandLineModel : public ::testing::Test {
 protected:
  CommandLineModel() : guard_(area_.work()) {
    for (const char* name : {"good_1", "good_2", "good_3", "check_good_1", "check_scratch"}) {
      area_.writePicture(name, cli_testing::demoShot(name));
    }
    // Frames without the product: an empty white table and a covered lens.
    area_.writeImage("white.jpg",
                     cv::Mat(cli_testing::kPictureSize, CV_8UC3, cv::Scalar::all(255)));
    area_.writeImage("black.jpg", cv::Mat(cli_testing::kPictureSize, CV_8UC3, cv::Scalar::all(0)));
  }

  static json status() {
    const RunResult result = runTallen({"status", "--format", "json"});
    // A mismatch says why on standard error, as every non-zero status does.
    EXPECT_EQ(result.err.empty(), result.status == kExitSuccess) << result.err;
    const std::vector<std::string> lines = cli_testing::splitLines(result.out);
    EXPECT_EQ(lines.size(), 1u) << result.out;
    json parsed = json::parse(result.out);
    parsed["exit"] = result.status;
    return parsed;
  }

  static std::string digest(const char* file) {
    const std::string bytes = readFile(file).value_or("");
    return sha256Hex(std::vector<uchar>(bytes.begin(), bytes.end()));
  }

  void registerModel() {
    ASSERT_EQ(runTallen({"--quiet", "template", picture("good_1")}).status, kExitSuccess);
    ASSERT_EQ(runTallen({"--quiet", "register", picture("good_1"), picture("good_2")}).status,
              kExitSuccess);
  }

  InspectionArea area_;
  WorkingDirectoryGuard guard_;
};

TEST_F(CommandLineModel, RecordFollowsTemplateRegisterRegisterInspect) {
  json s = status();
  EXPECT_EQ(s["present"], false);
  EXPECT_EQ(s["exit"], kExitCheckFailed);

  ASSERT_EQ(runTallen({"--quiet", "template", picture("good_1")}).status, kExitSuccess);
  s = status();
  EXPECT_EQ(s["exit"], kExitSuccess);
  EXPECT_EQ(s["samples"], 0);
  EXPECT_EQ(s["templateSize"]["width"], demo::templateSizeFor(cli_testing::kPictureSize).width);
  EXPECT_EQ(s["files"][kTemplateFile], "matches");

  ASSERT_EQ(runTallen({"--quiet", "register", picture("good_1"), picture("good_2")}).status,
            kExitSuccess);
  ASSERT_EQ(runTallen({"--quiet", "register", picture("good_3")}).status, kExitSuccess);
  s = status();
  EXPECT_EQ(s["exit"], kExitSuccess);
  EXPECT_EQ(s["samples"], 3);
  EXPECT_EQ(s["matches"], true);
  for (const char* file : {kTemplateFile, kMeanFile, kThresholdFile}) {
    EXPECT_EQ(s["files"][file], "matches") << file;
  }
  // The stored digests are those of the bytes on disk.
  const std::optional<ModelRecord> record = readModelRecord();
  ASSERT_TRUE(record.has_value());
  for (const char* file : {kTemplateFile, kMeanFile, kThresholdFile}) {
    EXPECT_EQ(record->sha256.at(file), digest(file)) << file;
  }

  const std::string before = readFile(kModelRecordFile).value_or("");
  const RunResult inspected = runTallen({"--quiet", "inspect", picture("check_good_1")});
  ASSERT_EQ(inspected.status, kExitSuccess) << inspected.err;
  EXPECT_EQ(inspected.err, "");
  EXPECT_EQ(readFile(kModelRecordFile), before);

  const RunResult text = runTallen({"status"});
  EXPECT_EQ(text.status, kExitSuccess);
  EXPECT_NE(text.out.find("samples: 3\n"), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("gdaccnumI.jpg: matches\n"), std::string::npos) << text.out;
}

TEST_F(CommandLineModel, NewTemplateMakesTheNextRegisterStartAfresh) {
  registerModel();
  ASSERT_EQ(runTallen({"--quiet", "template", picture("good_2")}).status, kExitSuccess);
  json s = status();
  EXPECT_EQ(s["samples"], 0);
  EXPECT_EQ(s["files"][kMeanFile], "not recorded");
  EXPECT_EQ(s["exit"], kExitSuccess);
  const RunResult inspected = runTallen({"--quiet", "inspect", picture("check_good_1")});
  EXPECT_NE(inspected.err.find("not built with the current template"), std::string::npos)
      << inspected.err;

  const RunResult registered = runTallen({"register", picture("good_3")});
  ASSERT_EQ(registered.status, kExitSuccess) << registered.err;
  EXPECT_NE(registered.err.find("sample 1 registered"), std::string::npos) << registered.err;
  EXPECT_EQ(status()["samples"], 1);
}

struct DamageCase {
  const char* label;
  std::function<void()> damage;  // in the working directory
  const char* statusState;       // the state of the damaged file in status, or null
  const char* messagePart;
};

void PrintTo(const DamageCase& c, std::ostream* os) { *os << c.label; }

class CommandLineDamagedModel : public CommandLineModel,
                                public ::testing::WithParamInterface<DamageCase> {};

// A plain register refuses to continue a model whose record does not vouch for it, changing
// nothing; --start and --new still work; inspect goes on but warns.
TEST_P(CommandLineDamagedModel, RefusesToContinueButObeysStartAndNew) {
  const DamageCase& c = GetParam();
  registerModel();
  c.damage();
  const auto before = area_.snapshot();

  const RunResult refused = runTallen({"--quiet", "register", picture("good_3")});
  EXPECT_EQ(refused.status, kExitError);
  for (const char* part : {c.messagePart, "--start N", "--new"}) {
    EXPECT_NE(refused.err.find(part), std::string::npos) << part << " in " << refused.err;
  }
  EXPECT_EQ(area_.snapshot(), before);

  const json s = status();
  EXPECT_EQ(s["exit"], kExitCheckFailed);
  EXPECT_EQ(s["matches"], false);
  if (c.statusState) EXPECT_EQ(s["files"][kMeanFile], c.statusState);

  const RunResult inspected = runTallen({"--quiet", "inspect", picture("check_good_1")});
  EXPECT_EQ(inspected.status, kExitSuccess) << inspected.err;
  EXPECT_NE(inspected.err.find("tallen: warning: "), std::string::npos) << inspected.err;
  EXPECT_NE(inspected.err.find(c.messagePart), std::string::npos) << inspected.err;

  const RunResult started = runTallen({"--quiet", "register", "--start", "3", picture("good_3")});
  ASSERT_EQ(started.status, kExitSuccess) << started.err;
  EXPECT_EQ(status()["samples"], 3);
  EXPECT_EQ(status()["exit"], kExitSuccess);
  ASSERT_EQ(runTallen({"--quiet", "register", "--new", picture("good_3")}).status, kExitSuccess);
  EXPECT_EQ(status()["samples"], 1);
}

const DamageCase kDamageCases[] = {
    {"mean_changed_by_hand",
     [] { std::ofstream(kMeanFile, std::ios::app | std::ios::binary) << "x"; }, "differs",
     "gdaccnumI.jpg differs from the record"},
    {"record_of_another_model",
     [] { fs::copy_file(kThresholdFile, kMeanFile, fs::copy_options::overwrite_existing); },
     "differs", "gdaccnumI.jpg differs from the record"},
    {"no_record", [] { fs::remove(kModelRecordFile); }, nullptr, "have no record"},
};

INSTANTIATE_TEST_SUITE_P(CommandLineModel, CommandLineDamagedModel,
                         ::testing::ValuesIn(kDamageCases),
                         [](const auto& info) { return std::string(info.param.label); });

TEST_F(CommandLineModel, WithoutRecordOrModelRegisterStartsAtOne) {
  ASSERT_EQ(runTallen({"--quiet", "template", picture("good_1")}).status, kExitSuccess);
  fs::remove(kModelRecordFile);
  const RunResult registered = runTallen({"register", picture("good_1")});
  ASSERT_EQ(registered.status, kExitSuccess) << registered.err;
  EXPECT_NE(registered.err.find("sample 1 registered"), std::string::npos) << registered.err;
  EXPECT_EQ(status()["samples"], 1);
}

TEST_F(CommandLineModel, DamagedRecordIsNamed) {
  registerModel();
  std::ofstream(kModelRecordFile, std::ios::trunc) << "{\"format\": 1, \"samples\": ";
  const auto before = area_.snapshot();
  const RunResult refused = runTallen({"register", picture("good_3")});
  EXPECT_EQ(refused.status, kExitError);
  EXPECT_NE(refused.err.find("tallen-model.json: not a model record"), std::string::npos)
      << refused.err;
  EXPECT_EQ(area_.snapshot(), before);
  EXPECT_EQ(runTallen({"status"}).status, kExitError);
}

// A frame without the product scores far below a good part (0.99 and more): register refuses it
// naming the picture and writing nothing, inspect calls it not located.
struct FrameCase {
  const char* label;
  const char* file;
};

void PrintTo(const FrameCase& c, std::ostream* os) { *os << c.label; }

class CommandLineEmptyFrame : public CommandLineModel,
                              public ::testing::WithParamInterface<FrameCase> {};

TEST_P(CommandLineEmptyFrame, IsRefusedByRegisterAndNotLocatedByInspect) {
  registerModel();
  ASSERT_EQ(runTallen({"--quiet", "register", picture("good_3")}).status, kExitSuccess);
  const std::string frame = std::string("../pictures/") + GetParam().file;
  const auto before = area_.snapshot();
  const RunResult refused = runTallen({"--quiet", "register", frame});
  EXPECT_EQ(refused.status, kExitError);
  EXPECT_NE(refused.err.find(frame), std::string::npos) << refused.err;
  EXPECT_EQ(area_.snapshot(), before);

  const RunResult judged =
      runTallen({"--quiet", "inspect", "--max-ratio", "0.005", picture("check_good_1"), frame});
  if (judged.status == kExitError) {
    // The inspection itself may refuse a picture without any object.
    EXPECT_NE(judged.err.find(frame), std::string::npos) << judged.err;
    return;
  }
  EXPECT_EQ(judged.status, kExitCheckFailed) << judged.err;
  const std::vector<std::string> lines = cli_testing::splitLines(judged.out);
  ASSERT_EQ(lines.size(), 2u) << judged.out;
  EXPECT_EQ(lines[0].substr(lines[0].rfind('\t')), "\tpass");
  EXPECT_EQ(lines[1].substr(lines[1].find('\t')), "\t" + frame + "\tnot located");
}

const FrameCase kFrames[] = {{"white", "white.jpg"}, {"black", "black.jpg"}};

INSTANTIATE_TEST_SUITE_P(CommandLineModel, CommandLineEmptyFrame, ::testing::ValuesIn(kFrames),
                         [](const auto& info) { return std::string(info.param.label); });

TEST_F(CommandLineModel, WhiteFrameScoreIsNamedAndMinimumZeroDisablesTheCheck) {
  registerModel();
  const RunResult refused = runTallen({"--quiet", "register", "../pictures/white.jpg"});
  EXPECT_NE(refused.err.find("template match score 0."), std::string::npos) << refused.err;
  EXPECT_NE(refused.err.find("below the minimum 0.9"), std::string::npos) << refused.err;
  const RunResult lowered =
      runTallen({"--quiet", "register", "--min-score", "0.5", "../pictures/white.jpg"});
  EXPECT_EQ(lowered.status, kExitSuccess) << lowered.err;
  const RunResult disabled =
      runTallen({"--quiet", "register", "--min-score", "0", "../pictures/white.jpg"});
  EXPECT_EQ(disabled.status, kExitSuccess) << disabled.err;
  EXPECT_EQ(status()["samples"], 4);
}

}  // namespace
}  // namespace tallen
