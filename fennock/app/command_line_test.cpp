#include "app/command_line.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace fennock {
namespace {

CommandLine parse(std::vector<const char*> arguments) {
  arguments.insert(arguments.begin(), "fennock");
  return parseCommandLine(static_cast<int>(arguments.size()), arguments.data());
}

TEST(CommandLine, NoArgumentsMeansAnyCamera) {
  const CommandLine line = parse({});
  EXPECT_FALSE(line.help);
  EXPECT_EQ(line.camera, -1);
  EXPECT_EQ(line.source, "");
  EXPECT_EQ(line.output, "");
  EXPECT_FALSE(line.continueNumbering);
  EXPECT_FALSE(line.version);
}

TEST(CommandLine, ReadsEachOptionInBothSpellings) {
  EXPECT_EQ(parse({"--camera", "2"}).camera, 2);
  EXPECT_EQ(parse({"--camera=0"}).camera, 0);
  EXPECT_EQ(parse({"--source", "frames/%04d.png"}).source, "frames/%04d.png");
  EXPECT_EQ(parse({"--source=rtsp://cam/a=b"}).source, "rtsp://cam/a=b");
  EXPECT_TRUE(parse({"--help"}).help);
  EXPECT_TRUE(parse({"-h"}).help);
  EXPECT_TRUE(parse({"--version"}).version);
  EXPECT_EQ(parse({"--output", "samples/a b"}).output, "samples/a b");
  EXPECT_EQ(parse({"--output=out"}).output, "out");
  EXPECT_TRUE(parse({"--continue"}).continueNumbering);
}

TEST(CommandLine, OutputAndContinueGoWithEitherSource) {
  const CommandLine camera = parse({"--continue", "--camera", "1", "--output", "s"});
  EXPECT_EQ(camera.camera, 1);
  EXPECT_EQ(camera.output, "s");
  EXPECT_TRUE(camera.continueNumbering);
  const CommandLine source = parse({"--output=s", "--source", "a.avi", "--continue"});
  EXPECT_EQ(source.source, "a.avi");
  EXPECT_EQ(source.output, "s");
  EXPECT_TRUE(source.continueNumbering);
}

struct BadLine {
  const char* name;
  std::vector<const char*> arguments;
  const char* message;
};

void PrintTo(const BadLine& c, std::ostream* os) { *os << c.name; }

class BadLines : public ::testing::TestWithParam<BadLine> {};

TEST_P(BadLines, AreRefusedWithTheReason) {
  try {
    parse(GetParam().arguments);
    FAIL() << "accepted";
  } catch (const UsageError& e) {
    EXPECT_STREQ(e.what(), GetParam().message);
  }
}

const BadLine kBadLines[] = {
    {"Unknown", {"--fast"}, "unknown argument '--fast'"},
    {"Positional", {"video.avi"}, "unknown argument 'video.avi'"},
    {"CameraWithoutNumber", {"--camera"}, "--camera needs a value"},
    {"CameraNotANumber",
     {"--camera", "front"},
     "--camera needs a camera number 0, 1, ..., not 'front'"},
    {"NegativeCamera", {"--camera", "-1"}, "--camera needs a camera number 0, 1, ..., not '-1'"},
    {"EmptySource", {"--source="}, "--source needs a non-empty URL"},
    {"Both", {"--camera", "1", "--source", "a.avi"}, "give either --camera or --source, not both"},
    {"HelpWithValue", {"--help=yes"}, "--help takes no value"},
    {"ContinueWithValue", {"--continue=3"}, "--continue takes no value"},
    {"OutputWithoutFolder", {"--output"}, "--output needs a value"},
    {"EmptyOutput", {"--output="}, "--output needs a non-empty directory name"},
    {"OutputTwice", {"--output", "a", "--output", "b"}, "--output given twice"},
};

INSTANTIATE_TEST_SUITE_P(CommandLine, BadLines, ::testing::ValuesIn(kBadLines),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace fennock
