#include "core/sample_file.h"

#include "core/test_support.h"

#include <gtest/gtest.h>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace fennock {
namespace {

using testing::TemporaryDirectory;

std::string contents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A picture with a clear top half, so that a flip would show.
cv::Mat picture() {
  cv::Mat image(24, 32, CV_8UC3, cv::Scalar(0, 0, 0));
  image(cv::Rect(0, 0, 32, 12)).setTo(cv::Scalar(40, 160, 240));
  return image;
}

TEST(SamplePath, NamesTheNumberWithoutLeadingZeros) {
  EXPECT_EQ(samplePath("", 1), "good_1.jpg");
  EXPECT_EQ(samplePath("out", 50), "out/good_50.jpg");
}

TEST(SampleFile, WritesAJpegAndLeavesNothingElse) {
  TemporaryDirectory dir;
  const std::string path = dir.file("good_1.jpg");
  std::string error;

  ASSERT_TRUE(writeSampleFile(path, picture(), error)) << error;

  const cv::Mat read = cv::imread(path, cv::IMREAD_COLOR);
  ASSERT_EQ(read.size(), cv::Size(32, 24));
  // Away from the edge, where JPEG rings: the bright half stays on top.
  EXPECT_LT(cv::norm(read(cv::Rect(0, 0, 32, 8)), picture()(cv::Rect(0, 0, 32, 8)), cv::NORM_INF),
            16);
  EXPECT_LT(cv::norm(read(cv::Rect(0, 16, 32, 8)), cv::NORM_INF), 16);
  int entries = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    (void)entry;
    ++entries;
  }
  EXPECT_EQ(entries, 1);
}

TEST(SampleFile, OverwritesAnEarlierSample) {
  TemporaryDirectory dir;
  const std::string path = dir.file("good_1.jpg");
  std::ofstream(path) << "old";
  std::string error;

  ASSERT_TRUE(writeSampleFile(path, picture(), error)) << error;

  EXPECT_FALSE(cv::imread(path).empty());
}

TEST(SampleFile, MissingDirectoryIsReportedWithTheFileName) {
  TemporaryDirectory dir;
  const std::string path = dir.file("absent/good_3.jpg");
  std::string error;

  EXPECT_FALSE(writeSampleFile(path, picture(), error));

  EXPECT_EQ(error, "cannot write sample " + path + ": No such file or directory");
}

TEST(SampleFile, FailedWriteLeavesTheEarlierFileAsItWas) {
  TemporaryDirectory dir;
  const std::string path = dir.file("good_1.jpg");
  std::ofstream(path) << "earlier sample";
  std::string error;

  EXPECT_FALSE(writeSampleFile(path, cv::Mat(), error));

  EXPECT_NE(error.find(path), std::string::npos) << error;
  EXPECT_EQ(contents(path), "earlier sample");
  EXPECT_FALSE(std::filesystem::exists(path + ".part"));
}

// An older version wrote through "<sample>.part": a link planted there reached any file.
TEST(SampleFile, LinkPlantedAtTheOldTemporaryNameIsNotWrittenThrough) {
  TemporaryDirectory dir;
  TemporaryDirectory elsewhere;
  const std::string victim = elsewhere.file("victim");
  std::ofstream(victim) << "precious";
  const std::string path = dir.file("good_1.jpg");
  std::filesystem::create_symlink(victim, path + ".part");
  std::string error;

  ASSERT_TRUE(writeSampleFile(path, picture(), error)) << error;

  EXPECT_EQ(contents(victim), "precious");
  EXPECT_FALSE(cv::imread(path).empty());
}

TEST(SampleFile, LinkInPlaceOfTheSampleIsRefused) {
  TemporaryDirectory dir;
  TemporaryDirectory elsewhere;
  const std::string victim = elsewhere.file("victim");
  std::ofstream(victim) << "precious";
  const std::string path = dir.file("good_2.jpg");
  std::filesystem::create_symlink(victim, path);
  std::string error;

  EXPECT_FALSE(writeSampleFile(path, picture(), error));

  EXPECT_EQ(error, "cannot write sample " + path + ": not a regular file");
  EXPECT_EQ(contents(victim), "precious");
}

}  // namespace
}  // namespace fennock
