#include "core/model_record.h"

#include "core/procedure.h"
#include "core/procedure_error.h"
#include "core/recording_viewer.h"
#include "core/test_support.h"
#include "generator/product_scene.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <ostream>
#include <string>
#include <vector>

namespace tallen {
namespace {

namespace fs = std::filesystem;
using testing::fileBytes;
using testing::ScopedWorkingDirectory;

const cv::Size kPictureSize(320, 240);
const cv::Size kTemplateSize = demo::templateSizeFor(kPictureSize);

std::vector<uchar> bytesOf(const std::string& text) {
  return std::vector<uchar>(text.begin(), text.end());
}

TEST(ModelRecord, Sha256OfKnownInputs) {
  EXPECT_EQ(sha256Hex({}), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(sha256Hex(bytesOf("abc")),
            "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

TEST(ModelRecord, ParsesWhatItEncodes) {
  ModelRecord record;
  record.templateSize = cv::Size(210, 330);
  record.samples = 7;
  record.written = "2026-01-02T03:04:05Z";
  record.sha256[kTemplateFile] = sha256Hex(bytesOf("t"));
  record.sha256[kMeanFile] = sha256Hex(bytesOf("m"));
  const std::vector<uchar> bytes = encodeModelRecord(record);
  ASSERT_EQ(bytes.back(), '\n');
  const ModelRecord parsed = parseModelRecord(std::string(bytes.begin(), bytes.end()), "r.json");
  EXPECT_EQ(parsed.templateSize, record.templateSize);
  EXPECT_EQ(parsed.samples, 7);
  EXPECT_EQ(parsed.written, record.written);
  EXPECT_EQ(parsed.sha256, record.sha256);
}

struct BadRecordCase {
  const char* label;
  const char* text;
  const char* messagePart;
};

void PrintTo(const BadRecordCase& c, std::ostream* os) { *os << c.label; }

class ModelRecordRefuses : public ::testing::TestWithParam<BadRecordCase> {};

TEST_P(ModelRecordRefuses, NamingTheFile) {
  try {
    parseModelRecord(GetParam().text, "dir/tallen-model.json");
    FAIL() << "parsed";
  } catch (const InspectionError& e) {
    const std::string message = e.what();
    EXPECT_EQ(message.rfind("dir/tallen-model.json: ", 0), 0u) << message;
    EXPECT_NE(message.find(GetParam().messagePart), std::string::npos) << message;
  }
}

const BadRecordCase kBadRecords[] = {
    {"not_json", "{\"format\": 1,", "not a model record"},
    {"array", "[1, 2]", "not a model record"},
    {"newer_format",
     "{\"format\":2,\"templateSize\":{\"width\":1,\"height\":1},\"samples\":0,"
     "\"written\":\"x\",\"sha256\":{}}",
     "unknown format 2"},
    {"no_samples",
     "{\"format\":1,\"templateSize\":{\"width\":1,\"height\":1},\"written\":\"x\",\"sha256\":{}}",
     "missing or malformed"},
    {"samples_as_text",
     "{\"format\":1,\"templateSize\":{\"width\":1,\"height\":1},\"samples\":\"3\","
     "\"written\":\"x\",\"sha256\":{}}",
     "missing or malformed"},
    {"negative_samples",
     "{\"format\":1,\"templateSize\":{\"width\":1,\"height\":1},\"samples\":-1,"
     "\"written\":\"x\",\"sha256\":{}}",
     "impossible"},
    {"zero_width",
     "{\"format\":1,\"templateSize\":{\"width\":0,\"height\":1},\"samples\":1,"
     "\"written\":\"x\",\"sha256\":{}}",
     "impossible"},
    {"short_digest",
     "{\"format\":1,\"templateSize\":{\"width\":1,\"height\":1},\"samples\":1,"
     "\"written\":\"x\",\"sha256\":{\"templImage.jpg\":\"ab12\"}}",
     "malformed SHA-256 for templImage.jpg"},
    {"upper_case_digest",
     "{\"format\":1,\"templateSize\":{\"width\":1,\"height\":1},\"samples\":1,"
     "\"written\":\"x\",\"sha256\":{\"templImage.jpg\":"
     "\"BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD\"}}",
     "malformed SHA-256"},
};

INSTANTIATE_TEST_SUITE_P(ModelRecord, ModelRecordRefuses, ::testing::ValuesIn(kBadRecords),
                         [](const auto& info) { return std::string(info.param.label); });

// The procedure's saves, as the dialog's presses make them.
class RecordOfSaves : public ::testing::Test {
 protected:
  void SetUp() override { dir_.writeTemplateSize(kTemplateSize.width, kTemplateSize.height); }

  void press(int mode, unsigned seed, const ProcedureOptions& options = ProcedureOptions()) {
    RecordingViewer viewer;
    processImage(demo::drawProductPicture(kPictureSize,
                                          {seed * 3.0, {2.0, -1.0}, demo::Defect::kNone, seed}),
                 mode, viewer, Console{nullptr, nullptr}, options);
  }

  ModelRecord record() const {
    const std::optional<ModelRecord> stored = readModelRecord();
    if (!stored) throw std::runtime_error("no record");
    return *stored;
  }

  static std::string digestOf(const char* file) {
    const std::string bytes = fileBytes(file);
    return sha256Hex(std::vector<uchar>(bytes.begin(), bytes.end()));
  }

  ScopedWorkingDirectory dir_;
};

TEST_F(RecordOfSaves, DescribesTheFilesOfEverySave) {
  EXPECT_FALSE(readModelRecord().has_value());
  press(kTemplateMode, 1);
  ModelRecord r = record();
  EXPECT_EQ(r.templateSize, kTemplateSize);
  EXPECT_EQ(r.samples, 0);
  EXPECT_EQ(r.sha256,
            (std::map<std::string, std::string>{{kTemplateFile, digestOf(kTemplateFile)}}));
  EXPECT_EQ(r.written.size(), std::string("2026-01-02T03:04:05Z").size()) << r.written;

  press(1, 2);
  press(2, 3);
  r = record();
  EXPECT_EQ(r.samples, 2);
  const std::map<std::string, std::string> model = {{kTemplateFile, digestOf(kTemplateFile)},
                                                    {kMeanFile, digestOf(kMeanFile)},
                                                    {kThresholdFile, digestOf(kThresholdFile)}};
  EXPECT_EQ(r.sha256, model);
  EXPECT_TRUE(recordMatches(verifyModelRecord(r)));

  // A new template leaves the old mean and threshold on disk, but they are not its model.
  press(kTemplateMode, 4);
  r = record();
  EXPECT_EQ(r.samples, 0);
  EXPECT_EQ(r.sha256.count(kMeanFile), 0u);
  const auto states = verifyModelRecord(r);
  EXPECT_TRUE(recordMatches(states));
  EXPECT_EQ(states[1].second, FileState::kNotRecorded);
  EXPECT_EQ(states[2].second, FileState::kNotRecorded);

  // Sample 1 starts the model afresh; its record lists all three again.
  press(1, 5);
  r = record();
  EXPECT_EQ(r.samples, 1);
  EXPECT_EQ(r.sha256.size(), 3u);
  EXPECT_EQ(r.sha256.at(kTemplateFile), digestOf(kTemplateFile));
  EXPECT_EQ(r.sha256.at(kMeanFile), digestOf(kMeanFile));
}

TEST_F(RecordOfSaves, AFailedRegistrationLeavesTheRecord) {
  press(kTemplateMode, 1);
  press(1, 2);
  const std::string before = fileBytes(kModelRecordFile);
  ProcedureOptions strict;
  strict.minMatchScore = 1.01;  // no match reaches it
  EXPECT_THROW(press(2, 3, strict), InspectionError);
  EXPECT_EQ(fileBytes(kModelRecordFile), before);
}

TEST_F(RecordOfSaves, ExtraFilesAreSavedWithTheModel) {
  press(kTemplateMode, 1);
  ProcedureOptions options;
  options.alsoSave.push_back({"kept.jpg", bytesOf("previous")});
  press(1, 2, options);
  EXPECT_EQ(fileBytes("kept.jpg"), "previous");
}

struct ChangedFileCase {
  const char* label;
  const char* file;
  bool remove;  // else one byte is appended
  FileState state;
};

void PrintTo(const ChangedFileCase& c, std::ostream* os) { *os << c.label; }

class RecordSeesChangedFiles : public RecordOfSaves,
                               public ::testing::WithParamInterface<ChangedFileCase> {};

TEST_P(RecordSeesChangedFiles, AndSaysWhich) {
  press(kTemplateMode, 1);
  press(1, 2);
  const ChangedFileCase& c = GetParam();
  if (c.remove) {
    fs::remove(c.file);
  } else {
    std::ofstream(c.file, std::ios::app | std::ios::binary) << '\0';
  }
  const auto states = verifyModelRecord(record());
  EXPECT_FALSE(recordMatches(states));
  for (const auto& [name, state] : states) {
    EXPECT_EQ(state, name == c.file ? c.state : FileState::kMatches) << name;
  }
}

const ChangedFileCase kChangedFiles[] = {
    {"template_edited", kTemplateFile, false, FileState::kDiffers},
    {"mean_edited", kMeanFile, false, FileState::kDiffers},
    {"threshold_removed", kThresholdFile, true, FileState::kMissing},
};

INSTANTIATE_TEST_SUITE_P(ModelRecord, RecordSeesChangedFiles, ::testing::ValuesIn(kChangedFiles),
                         [](const auto& info) { return std::string(info.param.label); });

}  // namespace
}  // namespace tallen
