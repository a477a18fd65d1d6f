#include "core/template_size.h"

#include "core/procedure_error.h"
#include "core/test_support.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <string>

namespace tallen {
namespace {

using testing::CapturedStream;
using testing::ScopedWorkingDirectory;

struct SizeCase {
  std::string name;
  std::string content;
  int width;  // 0: an error naming the file is expected
  int height;
  std::string mentions = "";  // besides the file, what an error message must quote
  friend void PrintTo(const SizeCase& c, std::ostream* os) { *os << c.name; }
};

std::string header(std::size_t length) { return std::string(length, 'h') + "\n"; }

class TemplateSizeReading : public ::testing::TestWithParam<SizeCase> {};

TEST_P(TemplateSizeReading, TakesTheSizeAfterTheHeaderOrReportsTheFile) {
  const SizeCase& c = GetParam();
  ScopedWorkingDirectory dir;
  dir.writeParamFile(c.content);
  CapturedStream lines;
  if (c.width == 0) {
    try {
      readTemplateSize("../param.csv", lines.stream());
      FAIL() << "no error for " << c.name;
    } catch (const InspectionError& e) {
      EXPECT_NE(std::string(e.what()).find("../param.csv"), std::string::npos) << e.what();
      EXPECT_NE(std::string(e.what()).find(c.mentions), std::string::npos) << e.what();
    }
  } else {
    const TemplateSize size = readTemplateSize("../param.csv", lines.stream());
    EXPECT_EQ(size.width, c.width);
    EXPECT_EQ(size.height, c.height);
  }
  EXPECT_EQ(lines.text(), "");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TemplateSizeReading,
    ::testing::ValuesIn(std::vector<SizeCase>{
        {"plain", "w,h\n64,48\n", 64, 48},
        {"sizeInHeaderIsSkipped", "64,48\n100,50\n", 100, 50},
        {"header127", header(127) + "64,48\n", 64, 48},
        {"header128", header(128) + "64,48\n", 64, 48},
        {"header300", header(300) + "64,48\n", 64, 48},
        {"blankAfterComma", "w,h\n64, 48\n", 64, 48},
        {"laterLinesIgnored", "w,h\n64,48,7 tail\n1,1\n", 64, 48},
        {"noFinalNewline", "w,h\n64,48", 64, 48},
        {"blankBeforeComma", "w,h\n64 ,48\n", 0, 0},
        {"onlyWidth", "w,h\n64\n", 0, 0},
        {"empty", "", 0, 0},
        {"onlyHeader", "w,h\n", 0, 0},
        {"notNumbers", "w,h\nwide,high\n", 0, 0},
        {"zeroWidth", "w,h\n0,48\n", 0, 0},
        {"negativeHeight", "w,h\n64,-1\n", 0, 0},
        {"tooLargeForJpeg", "w,h\n70000,10\n", 0, 0},
        {"tooManyPixels", "w,h\n60000,60000\n", 0, 0},
        // The header ends at its first newline, whatever comes before it.
        {"nulInHeader", std::string("w\0h\n64,48\n1,1\n", 13), 64, 48},
        {"onlyNulsInHeader", std::string(300, '\0') + "\n64,48\n", 64, 48},
        {"crInHeader", "w,h\r\n64,48\n", 64, 48},
        {"largestInt", "w,h\n2147483647,48\n", 0, 0, "too large"},
        {"smallestInt", "w,h\n64,-2147483648\n", 0, 0, "-2147483648"},
        // Numbers outside int are named, not wrapped.
        {"widthWrapsToValid", "w,h\n4294967506,330\n", 0, 0, "4294967506"},
        {"widthBeyondLongLong", "w,h\n99999999999999999999,330\n", 0, 0, "99999999999999999999"},
        {"heightBelowInt", "w,h\n64,-2147483649\n", 0, 0, "-2147483649"},
        {"justAboveInt", "w,h\n2147483648,1\n", 0, 0, "2147483648"},
    }),
    [](const ::testing::TestParamInfo<SizeCase>& info) { return info.param.name; });

TEST(TemplateSize, MissingFileIsReportedByName) {
  ScopedWorkingDirectory dir;
  EXPECT_THROW(
      {
        try {
          readTemplateSize("../param.csv", nullptr);
        } catch (const InspectionError& e) {
          EXPECT_NE(std::string(e.what()).find("../param.csv: cannot be opened"),
                    std::string::npos);
          throw;
        }
      },
      InspectionError);
}

TEST(TemplateSize, UnreadableHeaderPrintsReadErrorThenReportsTheFile) {
  ScopedWorkingDirectory dir;
  // A folder opens for reading on Linux but every read of it fails.
  std::filesystem::create_directory(dir.root() / "param.csv");
  CapturedStream lines;
  EXPECT_THROW(readTemplateSize("../param.csv", lines.stream()), InspectionError);
  EXPECT_EQ(lines.text(), "read error\n");
}

// A FIFO (whose reading would wait for a writer for ever) and a link to an endless device are
// refused without reading them.
TEST(TemplateSize, OnlyARegularFileIsRead) {
  ScopedWorkingDirectory dir;
  const std::filesystem::path param = dir.root() / "param.csv";
  ASSERT_EQ(mkfifo(param.c_str(), 0600), 0);
  EXPECT_THROW(
      {
        try {
          readTemplateSize("../param.csv", nullptr);
        } catch (const InspectionError& e) {
          EXPECT_NE(std::string(e.what()).find("../param.csv: not a regular file"),
                    std::string::npos)
              << e.what();
          throw;
        }
      },
      InspectionError);
  std::filesystem::remove(param);
  std::filesystem::create_symlink("/dev/zero", param);
  EXPECT_THROW(readTemplateSize("../param.csv", nullptr), InspectionError);
  // A link to a regular file is read as that file.
  std::filesystem::remove(param);
  dir.writeParamFile("w,h\n64,48\n");
  std::filesystem::rename(param, dir.root() / "real.csv");
  std::filesystem::create_symlink("real.csv", param);
  EXPECT_EQ(readTemplateSize("../param.csv", nullptr).width, 64);
}

}  // namespace
}  // namespace tallen
