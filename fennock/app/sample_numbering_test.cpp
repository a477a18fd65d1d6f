#include "app/sample_numbering.h"

#include "core/test_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <ostream>
#include <string>
#include <vector>

namespace fennock {
namespace {

using testing::TemporaryDirectory;

struct FolderCase {
  const char* name;
  std::vector<const char*> files;
  int highest;
};

void PrintTo(const FolderCase& c, std::ostream* os) { *os << c.name; }

class SampleFolders : public ::testing::TestWithParam<FolderCase> {};

TEST_P(SampleFolders, GiveTheHighestSampleNumber) {
  TemporaryDirectory dir;
  for (const char* file : GetParam().files) std::ofstream(dir.file(file)) << "x";
  EXPECT_EQ(highestSampleNumber(dir.path()), GetParam().highest);
}

// Names compared as numbers, not as text: good_10 sorts before good_9 in a listing.
const FolderCase kFolderCases[] = {
    {"Empty", {}, 0},
    {"NumbersNotText", {"good_9.jpg", "good_10.jpg", "good_2.jpg"}, 10},
    {"LastOfACycle", {"good_50.jpg", "good_1.jpg"}, 50},
    {"BeyondACycleIgnored", {"good_51.jpg", "good_100.jpg", "good_3.jpg"}, 3},
    {"OtherNamesIgnored",
     {"good_.jpg", "good_07.jpg", "good_0.jpg", "good_+8.jpg", "good_4.png", "good_5.jpg.part",
      "bad_6.jpg", "good_1x.jpg"},
     0},
};

INSTANTIATE_TEST_SUITE_P(SampleNumbering, SampleFolders, ::testing::ValuesIn(kFolderCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SampleNumbering, MissingFolderHasNoSamples) {
  TemporaryDirectory dir;
  EXPECT_EQ(highestSampleNumber(dir.file("missing")), 0);
}

TEST(SampleNumbering, WorkingDirectoryWhenEmpty) {
  TemporaryDirectory dir;
  std::ofstream(dir.file("good_12.jpg")) << "x";
  const std::filesystem::path previous = std::filesystem::current_path();
  std::filesystem::current_path(dir.path());
  const int highest = highestSampleNumber("");
  std::filesystem::current_path(previous);
  EXPECT_EQ(highest, 12);
}

TEST(SampleNumbering, NextWrapsAfterTheLastOfACycle) {
  EXPECT_EQ(nextSampleNumber(0), 1);
  EXPECT_EQ(nextSampleNumber(49), 50);
  EXPECT_EQ(nextSampleNumber(kSamplesPerCycle), 1);
}

}  // namespace
}  // namespace fennock
