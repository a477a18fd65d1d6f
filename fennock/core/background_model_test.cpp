#include "core/background_model.h"

#include "core/test_support.h"

#include <gtest/gtest.h>
#include <opencv2/core.hpp>

#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace fennock {
namespace {

using testing::AllocationCounter;
using testing::MemoryConsole;
using testing::SyntheticFrames;

constexpr int kWidth = 5;
constexpr int kHeight = 3;
constexpr int kFrames = 50;

// 50 frames whose every channel follows `value(i)` for frame i.
std::vector<cv::Mat> framesOf(const std::function<int(int)>& value) {
  std::vector<cv::Mat> frames;
  for (int i = 0; i < kFrames; ++i)
    frames.push_back(testing::solid(kWidth, kHeight, cv::Scalar::all(value(i))));
  return frames;
}

std::vector<std::string> expectedLines(const std::string& start, const std::string& end,
                                       int progress = kFrames) {
  std::vector<std::string> lines{start};
  for (int i = 1; i <= progress; ++i) {
    lines.push_back("50 枚中 " + std::to_string(i) + " 枚目");
  }
  if (!end.empty()) lines.push_back(end);
  return lines;
}

class BackgroundModelTest : public ::testing::Test {
 protected:
  void TearDown() override {
    g_capture.reset();
    g_background.release();
    g_threshold.release();
  }
  MemoryConsole console_;
};

struct ChannelCase {
  const char* name;
  std::function<int(int)> value;  // channel value in frame i
  int background;
  int threshold;
};

void PrintTo(const ChannelCase& c, std::ostream* os) { *os << c.name; }

class ChannelStatistics : public BackgroundModelTest,
                          public ::testing::WithParamInterface<ChannelCase> {};

TEST_P(ChannelStatistics, GivesMeanAndFiveDeviations) {
  const ChannelCase& c = GetParam();
  SyntheticFrames frames(framesOf(c.value));
  g_capture = frames.makeSource();

  buildBackgroundModel(kWidth, kHeight, console_.file());

  ASSERT_EQ(g_background.type(), CV_8UC3);
  ASSERT_EQ(g_background.size(), cv::Size(kWidth, kHeight));
  ASSERT_EQ(g_threshold.type(), CV_8UC3);
  ASSERT_EQ(g_threshold.size(), cv::Size(kWidth, kHeight));
  EXPECT_EQ(cv::countNonZero(g_background.reshape(1) != c.background), 0)
      << "background " << g_background.at<cv::Vec3b>(0, 0);
  EXPECT_EQ(cv::countNonZero(g_threshold.reshape(1) != c.threshold), 0)
      << "threshold " << g_threshold.at<cv::Vec3b>(0, 0);
  EXPECT_EQ(frames.reads(), kFrames);
}

const ChannelCase kChannelCases[] = {
    {"Constant0", [](int) { return 0; }, 0, 0},
    {"Constant77", [](int) { return 77; }, 77, 0},
    {"Constant255", [](int) { return 255; }, 255, 0},
    {"HalfAt100HalfAt110", [](int i) { return i < 25 ? 100 : 110; }, 105, 25},
    {"Alternating100And110", [](int i) { return i % 2 ? 110 : 100; }, 105, 25},
    {"HalfAt0HalfAt110Saturates", [](int i) { return i < 25 ? 0 : 110; }, 55, 255},
};

INSTANTIATE_TEST_SUITE_P(BackgroundModel, ChannelStatistics, ::testing::ValuesIn(kChannelCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(BackgroundModelTest, EveryConstantValueGivesItselfAndZeroTolerance) {
  // One column per value, in all three channels, so that rounding of every level is covered.
  cv::Mat levels(1, 256, CV_8UC3);
  for (int v = 0; v < 256; ++v) levels.at<cv::Vec3b>(0, v) = cv::Vec3b(v, v, v);
  SyntheticFrames frames(std::vector<cv::Mat>{levels});
  g_capture = frames.makeSource();

  buildBackgroundModel(256, 1, console_.file());

  EXPECT_EQ(cv::norm(g_background, levels, cv::NORM_INF), 0.0);
  EXPECT_EQ(cv::countNonZero(g_threshold.reshape(1)), 0);
}

TEST_F(BackgroundModelTest, ChannelsAreIndependent) {
  std::vector<cv::Mat> frames;
  for (int i = 0; i < kFrames; ++i) {
    frames.push_back(
        testing::solid(kWidth, kHeight, cv::Scalar(9, i < 25 ? 100 : 110, i % 2 * 110)));
  }
  SyntheticFrames source(frames);
  g_capture = source.makeSource();

  buildBackgroundModel(kWidth, kHeight, console_.file());

  EXPECT_EQ(g_background.at<cv::Vec3b>(2, 4), cv::Vec3b(9, 105, 55));
  EXPECT_EQ(g_threshold.at<cv::Vec3b>(2, 4), cv::Vec3b(0, 25, 255));
}

TEST_F(BackgroundModelTest, PrintsFiftyTwoLines) {
  SyntheticFrames frames(framesOf([](int) { return 1; }));
  g_capture = frames.makeSource();

  buildBackgroundModel(kWidth, kHeight, console_.file());

  EXPECT_EQ(console_.lines(), expectedLines("背景取得中...", "背景取得完了"));
}

TEST_F(BackgroundModelTest, RebuildsReplaceThePairWithoutAccumulating) {
  SyntheticFrames frames(framesOf([](int) { return 40; }));
  std::vector<cv::Mat> later = framesOf([](int) { return 60; });
  g_capture = frames.makeSource();
  AllocationCounter counter;

  buildBackgroundModel(kWidth, kHeight, console_.file());
  EXPECT_EQ(counter.live(), 2) << "the first build keeps exactly its two images";

  const cv::Mat previous = g_background;
  frames.frames().swap(later);
  buildBackgroundModel(kWidth, kHeight, console_.file());
  EXPECT_EQ(previous.at<cv::Vec3b>(0, 0), cv::Vec3b(40, 40, 40)) << "the old image was reused";
  EXPECT_EQ(g_background.at<cv::Vec3b>(0, 0), cv::Vec3b(60, 60, 60));
  EXPECT_EQ(counter.live(), 3) << "only the copy held here keeps the old background alive";

  for (int i = 0; i < 5; ++i) buildBackgroundModel(kWidth, kHeight, console_.file());
  EXPECT_EQ(counter.live(), 3);
}

TEST_F(BackgroundModelTest, MeanFrameRoundsTheAverage) {
  SyntheticFrames frames(framesOf([](int i) { return i < 25 ? 10 : 14; }));
  g_capture = frames.makeSource();
  cv::Mat dst(kHeight, kWidth, CV_8UC3, cv::Scalar::all(99));
  const uchar* buffer = dst.data;

  captureMeanFrame(dst, kWidth, kHeight, console_.file());

  EXPECT_EQ(dst.data, buffer) << "the caller's image is filled, not replaced";
  EXPECT_EQ(cv::countNonZero(dst.reshape(1) != 12), 0);
  EXPECT_TRUE(g_background.empty()) << "the mean frame leaves the model alone";
  EXPECT_EQ(console_.lines(), expectedLines("平均画像取得中...", "平均画像取得完了"));
}

TEST_F(BackgroundModelTest, MissingFrameStopsTheCollection) {
  SyntheticFrames frames(framesOf([](int) { return 1; }));
  frames.limit = 20;
  g_capture = frames.makeSource();

  EXPECT_THROW(buildBackgroundModel(kWidth, kHeight, console_.file()), CameraStoppedError);

  EXPECT_TRUE(g_background.empty());
  EXPECT_TRUE(g_threshold.empty());
  EXPECT_EQ(console_.lines(), expectedLines("背景取得中...", "", 20));
}

TEST_F(BackgroundModelTest, FrameOfAnotherSizeStopsTheMeanFrame) {
  SyntheticFrames frames(framesOf([](int) { return 1; }));
  frames.overrides[7] = testing::solid(kWidth + 1, kHeight, cv::Scalar::all(1));
  g_capture = frames.makeSource();
  cv::Mat dst;

  try {
    captureMeanFrame(dst, kWidth, kHeight, console_.file());
    FAIL() << "no error";
  } catch (const CameraStoppedError& e) {
    EXPECT_STREQ(e.what(), "the camera delivered a frame of 6x3 CV_8UC3 instead of 5x3 CV_8UC3");
  }
  EXPECT_EQ(frames.reads(), 8);
}

}  // namespace
}  // namespace fennock
