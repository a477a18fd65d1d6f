#include "core/foreground.h"

#include "core/test_support.h"

#include <gtest/gtest.h>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <ostream>
#include <string>

namespace fennock {
namespace {

using testing::AllocationCounter;
using testing::solid;

constexpr int kWidth = 7;
constexpr int kHeight = 5;
constexpr int kBackgroundLevel = 100;

// max(0, |frame - background| - twice) with the library, gray, then 255 above 0.
cv::Mat libraryRawMask(const cv::Mat& frame, const cv::Mat& background, const cv::Mat& twice) {
  cv::Mat diff, gray, mask;
  cv::absdiff(frame, background, diff);
  cv::subtract(diff, twice, diff);
  cv::cvtColor(diff, gray, cv::COLOR_BGR2GRAY);
  cv::threshold(gray, mask, 0, 255, cv::THRESH_BINARY);
  return mask;
}

int differingPixels(const cv::Mat& a, const cv::Mat& b) {
  const cv::Mat differs = a != b;
  return cv::countNonZero(differs.reshape(1));
}

// One uniform scene: every pixel of the frame differs from the background by `difference`
// (signed, per channel), so that the medians keep whatever each pixel decides.
struct UniformCase {
  const char* name;
  cv::Vec3i difference;
  cv::Vec3b threshold;
  bool liveForeground;    // against twice the threshold
  bool sampleForeground;  // against the threshold once
};

void PrintTo(const UniformCase& c, std::ostream* os) { *os << c.name; }

class UniformScene : public ::testing::TestWithParam<UniformCase> {
 protected:
  UniformScene() : work_(cv::Size(kWidth, kHeight)) {
    const UniformCase& c = GetParam();
    background_ = solid(kWidth, kHeight, cv::Scalar::all(kBackgroundLevel));
    frame_ =
        solid(kWidth, kHeight,
              cv::Scalar(kBackgroundLevel + c.difference[0], kBackgroundLevel + c.difference[1],
                         kBackgroundLevel + c.difference[2]));
    threshold_ = solid(kWidth, kHeight, cv::Scalar(c.threshold[0], c.threshold[1], c.threshold[2]));
    refreshModelViews(threshold_, work_);
  }
  cv::Mat background_, frame_, threshold_;
  WorkImages work_;
};

TEST_P(UniformScene, LiveMaskUsesTwiceTheThreshold) {
  const int expected = GetParam().liveForeground ? 255 : 0;
  computeLiveMask(frame_, background_, work_);
  EXPECT_EQ(cv::countNonZero(work_.maskImage != expected), 0) << "fused pass";
  computeLiveMaskPlain(frame_, background_, threshold_, work_);
  EXPECT_EQ(cv::countNonZero(work_.maskImage != expected), 0) << "library composition";
}

TEST_P(UniformScene, SampleUsesTheThresholdOnce) {
  frame_.copyTo(work_.meanFrame);
  cutSample(background_, threshold_, work_);
  const cv::Mat expected =
      GetParam().sampleForeground ? frame_ : cv::Mat::zeros(frame_.size(), CV_8UC3);
  EXPECT_EQ(differingPixels(work_.sampleImage, expected), 0)
      << "sample pixel " << work_.sampleImage.at<cv::Vec3b>(2, 3);
}

const UniformCase kUniformCases[] = {
    {"NoDifference", {0, 0, 0}, {0, 0, 0}, false, false},
    {"WithinTheThreshold", {10, -10, 10}, {10, 10, 10}, false, false},
    {"BetweenOnceAndTwice", {20, -20, 20}, {10, 10, 10}, false, true},
    {"GreenOneAboveTwice", {0, 21, 0}, {10, 10, 10}, true, true},
    {"BlueExcessFourIsGrayZero", {4, 0, 0}, {0, 0, 0}, false, false},
    {"BlueExcessFiveIsGrayOne", {5, 0, 0}, {0, 0, 0}, true, true},
    {"BlueFourAboveTwice", {24, 0, 0}, {10, 0, 0}, false, true},
    {"BlueFiveAboveTwice", {-25, 0, 0}, {10, 0, 0}, true, true},
    {"RedExcessOne", {0, 0, 1}, {0, 0, 0}, false, false},
    {"RedExcessTwo", {0, 0, 2}, {0, 0, 0}, true, true},
    {"RedOneBlueOne", {1, 0, 1}, {0, 0, 0}, false, false},
    {"RedOneBlueTwo", {2, 0, 1}, {0, 0, 0}, true, true},
    {"TwiceThresholdSaturates", {155, 155, 155}, {130, 130, 130}, false, true},
    {"OnlyOneChannelCounts", {0, 0, -60}, {255, 255, 29}, true, true},
};

INSTANTIATE_TEST_SUITE_P(Foreground, UniformScene, ::testing::ValuesIn(kUniformCases),
                         [](const auto& info) { return std::string(info.param.name); });

class IsolatedPixel : public ::testing::Test {
 protected:
  IsolatedPixel() : work_(cv::Size(kWidth, kHeight)) {
    background_ = solid(kWidth, kHeight, cv::Scalar::all(kBackgroundLevel));
    threshold_ = solid(kWidth, kHeight, cv::Scalar::all(2));
    refreshModelViews(threshold_, work_);
  }
  cv::Mat background_, threshold_;
  WorkImages work_;
};

TEST_F(IsolatedPixel, MedianRemovesItFromTheLiveMask) {
  cv::Mat frame = background_.clone();
  frame.at<cv::Vec3b>(2, 3) = cv::Vec3b(200, 200, 200);
  ASSERT_EQ(cv::countNonZero(libraryRawMask(frame, background_, work_.twiceThreshold)), 1);

  computeLiveMask(frame, background_, work_);

  EXPECT_EQ(cv::countNonZero(work_.maskImage), 0);
}

TEST_F(IsolatedPixel, MedianRemovesItFromTheSample) {
  background_.copyTo(work_.meanFrame);
  work_.meanFrame.at<cv::Vec3b>(2, 3) = cv::Vec3b(200, 200, 200);

  cutSample(background_, threshold_, work_);

  EXPECT_EQ(cv::countNonZero(work_.maskImage), 1) << "the sample's mask has no median";
  EXPECT_EQ(cv::countNonZero(work_.sampleImage.reshape(1)), 0);
}

TEST_F(IsolatedPixel, ABlockKeepsItsCentre) {
  cv::Mat frame = background_.clone();
  frame(cv::Rect(2, 1, 3, 3)).setTo(cv::Scalar(30, 60, 90));
  frame.copyTo(work_.meanFrame);

  computeLiveMask(frame, background_, work_);
  cutSample(background_, threshold_, work_);

  EXPECT_EQ(work_.maskImage.at<uchar>(2, 3), 255);
  EXPECT_EQ(work_.sampleImage.at<cv::Vec3b>(2, 3), cv::Vec3b(30, 60, 90));
  EXPECT_EQ(work_.sampleImage.at<cv::Vec3b>(0, 0), cv::Vec3b(0, 0, 0));
}

TEST(ModelViews, ThresholdTimesThreeAndTwiceSaturate) {
  cv::Mat threshold(1, 4, CV_8UC3);
  threshold.at<cv::Vec3b>(0, 0) = cv::Vec3b(0, 1, 84);
  threshold.at<cv::Vec3b>(0, 1) = cv::Vec3b(85, 127, 128);
  threshold.at<cv::Vec3b>(0, 2) = cv::Vec3b(200, 255, 42);
  threshold.at<cv::Vec3b>(0, 3) = cv::Vec3b(3, 2, 1);
  WorkImages work(threshold.size());

  refreshModelViews(threshold, work);

  EXPECT_EQ(work.thresholdView.at<cv::Vec3b>(0, 0), cv::Vec3b(0, 3, 252));
  EXPECT_EQ(work.thresholdView.at<cv::Vec3b>(0, 1), cv::Vec3b(255, 255, 255));
  EXPECT_EQ(work.twiceThreshold.at<cv::Vec3b>(0, 1), cv::Vec3b(170, 254, 255));
  EXPECT_EQ(work.twiceThreshold.at<cv::Vec3b>(0, 2), cv::Vec3b(255, 255, 84));
}

TEST(FusedPass, MatchesTheLibraryForEveryColour) {
  // All 2^24 differences at once: background and threshold 0, one pixel per colour.
  cv::Mat frame(4096, 4096, CV_8UC3);
  for (int y = 0; y < frame.rows; ++y) {
    auto* row = frame.ptr<cv::Vec3b>(y);
    for (int x = 0; x < frame.cols; ++x) {
      const int colour = y * frame.cols + x;
      row[x] = cv::Vec3b(colour & 0xff, (colour >> 8) & 0xff, colour >> 16);
    }
  }
  const cv::Mat zero = cv::Mat::zeros(frame.size(), CV_8UC3);
  cv::Mat fused;

  markForeground(frame, zero, zero, fused);

  EXPECT_EQ(differingPixels(fused, libraryRawMask(frame, zero, zero)), 0);
}

// Seeded random scenes near the decision boundary, with sizes that leave vector tails.
struct RandomCase {
  const char* name;
  cv::Size size;
  int maxThreshold;  // threshold drawn from [0, maxThreshold)
  double noise;      // standard deviation of frame - background
  bool roi;          // work on a non-continuous view
};

void PrintTo(const RandomCase& c, std::ostream* os) { *os << c.name; }

class RandomScenes : public ::testing::TestWithParam<RandomCase> {};

TEST_P(RandomScenes, FusedPassEqualsTheLibraryCompositionBitForBit) {
  const RandomCase& c = GetParam();
  cv::RNG rng(20240611);
  for (int round = 0; round < 5; ++round) {
    const cv::Size outer = c.roi ? c.size + cv::Size(5, 3) : c.size;
    cv::Mat background(outer, CV_8UC3), threshold(outer, CV_8UC3), noise(outer, CV_16SC3);
    rng.fill(background, cv::RNG::UNIFORM, 0, 256);
    rng.fill(threshold, cv::RNG::UNIFORM, 0, c.maxThreshold);
    rng.fill(noise, cv::RNG::NORMAL, 0, c.noise);
    cv::Mat frame;
    cv::add(background, noise, frame, cv::noArray(), CV_8UC3);
    if (c.roi) {
      const cv::Rect inner(cv::Point(2, 1), c.size);
      background = background(inner);
      threshold = threshold(inner);
      frame = frame(inner);
    }
    WorkImages fused(c.size), plain(c.size);
    refreshModelViews(threshold, fused);

    cv::Mat raw;
    markForeground(frame, background, fused.twiceThreshold, raw);
    computeLiveMask(frame, background, fused);
    computeLiveMaskPlain(frame, background, threshold, plain);

    cv::Mat twice;
    cv::add(threshold, threshold, twice);
    EXPECT_EQ(differingPixels(raw, libraryRawMask(frame, background, twice)), 0) << round;
    EXPECT_EQ(differingPixels(fused.maskImage, plain.maskImage), 0) << round;
    EXPECT_GT(cv::countNonZero(raw), 0) << "the scene should mix foreground and background";
    EXPECT_LT(cv::countNonZero(raw), raw.total());
  }
}

const RandomCase kRandomCases[] = {
    {"NearTheBoundary640x480", {640, 480}, 8, 12.0, false},
    {"NearTheBoundaryOddSize", {37, 23}, 8, 12.0, false},
    {"WideTolerances", {101, 9}, 256, 150.0, false},
    {"NonContinuousView", {45, 17}, 8, 12.0, true},
    {"SinglePixelRows", {1, 64}, 4, 8.0, false},
};

INSTANTIATE_TEST_SUITE_P(Foreground, RandomScenes, ::testing::ValuesIn(kRandomCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(LivePass, AllocatesNothing) {
  const cv::Size size(64, 48);
  WorkImages work(size);
  const cv::Mat background = solid(size.width, size.height, cv::Scalar::all(kBackgroundLevel));
  const cv::Mat threshold = solid(size.width, size.height, cv::Scalar::all(3));
  cv::Mat frame = background.clone();
  frame(cv::Rect(10, 10, 20, 20)).setTo(cv::Scalar::all(0));
  refreshModelViews(threshold, work);
  AllocationCounter counter;

  for (int i = 0; i < 3; ++i) computeLiveMask(frame, background, work);

  EXPECT_EQ(counter.allocations(), 0);
  EXPECT_EQ(cv::countNonZero(work.maskImage), 20 * 20 - 4) << "the median cuts the corners";
}

}  // namespace
}  // namespace fennock
