#include "core/orientation.h"

#include "core/recording_viewer.h"
#include "core/test_support.h"

#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

#include <string>

namespace tallen {
namespace {

using testing::CapturedStream;

struct SegmentCase {
  const char* name;
  cv::Vec4i segment;
  const char* line;  // the trace line of this segment as the first one
  double rotation;
  friend void PrintTo(const SegmentCase& c, std::ostream* os) { *os << c.name; }
};

class LongestSegmentRule : public ::testing::TestWithParam<SegmentCase> {};

TEST_P(LongestSegmentRule, PrintsTheSegmentAndStandsItVertical) {
  const SegmentCase& c = GetParam();
  CapturedStream trace;
  const LongestSegment longest = findLongestSegment({c.segment}, trace.stream());
  EXPECT_EQ(trace.text(), c.line);
  EXPECT_NEAR(rotationAngleFor(longest), c.rotation, 1e-9);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LongestSegmentRule,
    ::testing::ValuesIn(std::vector<SegmentCase>{
        {"diagonalDown", {0, 0, 50, 50}, "0,45.000000,70.710678\n", -45.0},
        {"diagonalUp", {0, 50, 50, 0}, "0,-45.000000,70.710678\n", 45.0},
        {"verticalDown", {10, 0, 10, 80}, "0,90.000000,80.000000\n", 0.0},
        {"verticalUp", {10, 80, 10, 0}, "0,-90.000000,80.000000\n", 0.0},
        {"horizontalLeftward", {60, 5, 0, 5}, "0,180.000000,60.000000\n", 90.0},
        {"nearlyHorizontal", {0, 1, 60, 0}, "0,-0.954841,60.008333\n", 89.045158746},
        {"horizontalRightwardTurnsLikePositive", {0, 5, 60, 5}, "0,0.000000,60.000000\n", -90.0},
    }),
    [](const ::testing::TestParamInfo<SegmentCase>& info) { return info.param.name; });

TEST(LongestSegment, LaterOfEquallyLongWinsAndEverySegmentIsPrinted) {
  CapturedStream trace;
  const LongestSegment longest = findLongestSegment(
      {{0, 0, 30, 0}, {0, 0, 50, 50}, {0, 50, 50, 0}, {0, 0, 0, 5}}, trace.stream());
  EXPECT_DOUBLE_EQ(longest.angle, -45.0);
  EXPECT_EQ(trace.text(),
            "0,0.000000,30.000000\n1,45.000000,70.710678\n2,-45.000000,70.710678\n"
            "3,90.000000,5.000000\n");
}

TEST(LongestSegment, NoSegmentMeansNoTurn) {
  const LongestSegment none = findLongestSegment({}, nullptr);
  EXPECT_FALSE(none.found);
  EXPECT_EQ(rotationAngleFor(none), 0.0);
}

// A gray scene with a bright tall plate turned by `angle`.
cv::Mat turnedPlate(double angle) {
  cv::Mat picture(300, 300, CV_8UC3, cv::Scalar(60, 60, 60));
  const cv::RotatedRect plate(cv::Point2f(150, 150), cv::Size2f(70, 160),
                              static_cast<float>(angle));
  cv::Point2f corners[4];
  plate.points(corners);
  std::vector<cv::Point> polygon(corners, corners + 4);
  cv::fillConvexPoly(picture, polygon, cv::Scalar(220, 220, 220), cv::LINE_AA);
  return picture;
}

TEST(AlignOrientation, StandsTheLongestEdgeVerticalAndLeavesTheSourceAlone) {
  for (double angle : {25.0, -40.0, 70.0}) {
    SCOPED_TRACE(angle);
    const cv::Mat source = turnedPlate(angle);
    const cv::Mat before = source.clone();
    RecordingViewer viewer;
    cv::Mat destination;
    alignOrientation(source, destination, viewer, nullptr);

    EXPECT_EQ(cv::norm(source, before, cv::NORM_INF), 0.0);
    ASSERT_EQ(destination.size(), source.size());
    ASSERT_EQ(destination.type(), CV_8UC3);
    cv::Mat gray;
    cv::cvtColor(destination, gray, cv::COLOR_BGR2GRAY);
    std::vector<std::vector<cv::Point>> contours;
    cv::findContours(gray > 150, contours, cv::RETR_EXTERNAL, cv::CHAIN_APPROX_NONE);
    ASSERT_FALSE(contours.empty());
    const cv::Rect box = cv::boundingRect(contours.front());
    // Upright: the box of the turned plate is as narrow as the plate itself.
    EXPECT_NEAR(box.width, 70, 4);
    EXPECT_NEAR(box.height, 160, 4);
    // The corners come from outside the source: black, not the scene's gray.
    EXPECT_EQ(destination.at<cv::Vec3b>(0, 0), cv::Vec3b(0, 0, 0));

    ASSERT_EQ(viewer.names(), std::vector<std::string>{"ソースイメージ"});
    EXPECT_EQ(cv::norm(viewer.shown().front().image, source, cv::NORM_INF), 0.0);
  }
}

TEST(AlignOrientation, FeaturelessPictureIsCopiedExactly) {
  cv::Mat source(120, 90, CV_8UC3);
  cv::RNG rng(7);
  rng.fill(source, cv::RNG::UNIFORM, 100, 103);  // no edge survives the blur and threshold
  for (const cv::Mat& picture : {source, cv::Mat(cv::Mat::zeros(50, 60, CV_8UC3))}) {
    RecordingViewer viewer;
    cv::Mat destination;
    CapturedStream trace;
    alignOrientation(picture, destination, viewer, trace.stream());
    EXPECT_EQ(trace.text(), "");
    EXPECT_EQ(cv::norm(destination, picture, cv::NORM_INF), 0.0);
  }
}

}  // namespace
}  // namespace tallen
