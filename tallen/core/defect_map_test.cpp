#include "core/defect_map.h"

#include <gtest/gtest.h>
#include <opencv2/core.hpp>

#include <vector>

namespace tallen {
namespace {

const cv::Size kSize(9, 9);
const cv::Scalar kMean(100, 100, 100);
const cv::Scalar kTolerance(10, 10, 10);

struct ChannelCase {
  const char* name;
  cv::Vec3b excess;  // beyond the tolerance, in B, G, R
  bool defective;
  friend void PrintTo(const ChannelCase& c, std::ostream* os) { *os << c.name; }
};

class DefectMapThreshold : public ::testing::TestWithParam<ChannelCase> {};

// A uniform excess everywhere, so that the median keeps whatever the threshold decided.
TEST_P(DefectMapThreshold, MarksAGrayExcessOfOneOrMore) {
  const ChannelCase& c = GetParam();
  const cv::Mat mean(kSize, CV_8UC3, kMean);
  const cv::Mat tolerance(kSize, CV_8UC3, kTolerance);
  const cv::Scalar shifted(100 + 10 + c.excess[0], 100 - 10 - c.excess[1], 100 + 10 + c.excess[2]);
  const cv::Mat patch(kSize, CV_8UC3, shifted);
  cv::Mat defects;
  computeDefectMap(patch, mean, tolerance, defects);
  ASSERT_EQ(defects.type(), CV_8UC1);
  ASSERT_EQ(defects.size(), kSize);
  EXPECT_EQ(cv::countNonZero(defects), c.defective ? kSize.area() : 0);
}

INSTANTIATE_TEST_SUITE_P(Cases, DefectMapThreshold,
                         ::testing::ValuesIn(std::vector<ChannelCase>{
                             {"withinTolerance", {0, 0, 0}, false},
                             {"red1", {0, 0, 1}, false},
                             {"red2", {0, 0, 2}, true},
                             {"green1", {0, 1, 0}, true},  // below the mean counts as well
                             {"blue4", {4, 0, 0}, false},
                             {"blue5", {5, 0, 0}, true},
                         }),
                         [](const auto& info) { return std::string(info.param.name); });

cv::Mat mapOfMarks(const std::vector<cv::Rect>& marks) {
  const cv::Mat mean(kSize, CV_8UC3, kMean);
  const cv::Mat tolerance(kSize, CV_8UC3, kTolerance);
  cv::Mat patch = mean.clone();
  for (const cv::Rect& r : marks) patch(r).setTo(cv::Scalar(200, 200, 200));
  cv::Mat defects;
  computeDefectMap(patch, mean, tolerance, defects);
  return defects;
}

TEST(DefectMap, MedianRemovesSpecksAndThinLinesAndKeepsTheCrossOfASquare) {
  EXPECT_EQ(cv::countNonZero(mapOfMarks({{4, 4, 1, 1}})), 0);
  EXPECT_EQ(cv::countNonZero(mapOfMarks({{3, 3, 2, 2}})), 0);
  EXPECT_EQ(cv::countNonZero(mapOfMarks({{0, 4, 9, 1}})), 0);

  const cv::Mat square = mapOfMarks({{3, 3, 3, 3}});
  EXPECT_EQ(cv::countNonZero(square), 5);
  for (cv::Point p : {cv::Point(4, 4), {3, 4}, {5, 4}, {4, 3}, {4, 5}}) {
    EXPECT_EQ(square.at<uchar>(p), 255) << p;
  }
}

TEST(DefectMap, LeavesItsInputsAlone) {
  cv::RNG rng(99);
  cv::Mat patch(kSize, CV_8UC3);
  cv::Mat mean(kSize, CV_8UC3);
  cv::Mat tolerance(kSize, CV_8UC3);
  rng.fill(patch, cv::RNG::UNIFORM, 0, 256);
  rng.fill(mean, cv::RNG::UNIFORM, 0, 256);
  rng.fill(tolerance, cv::RNG::UNIFORM, 0, 40);
  const cv::Mat before = patch.clone();
  const cv::Mat meanBefore = mean.clone();
  cv::Mat defects;
  computeDefectMap(patch, mean, tolerance, defects);
  EXPECT_EQ(cv::norm(patch, before, cv::NORM_INF), 0.0);
  EXPECT_EQ(cv::norm(mean, meanBefore, cv::NORM_INF), 0.0);
}

}  // namespace
}  // namespace tallen
