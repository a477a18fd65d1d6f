#include "core/defect_ratio.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace tallen {
namespace {

struct RatioCase {
  int width;
  int height;
  int nonZero;
  uchar value;
  const char* shown;  // as the defect map prints it
  friend void PrintTo(const RatioCase& c, std::ostream* os) { *os << c.shown; }
};

class DefectRatioCounting : public ::testing::TestWithParam<RatioCase> {};

TEST_P(DefectRatioCounting, IsTheShareOfNonZeroPixels) {
  const RatioCase& c = GetParam();
  cv::Mat map = cv::Mat::zeros(c.height, c.width, CV_8UC1);
  for (int i = 0; i < c.nonZero; ++i) map.at<uchar>(i / c.width, i % c.width) = c.value;
  const float ratio = defectRatio(map, c.width, c.height);
  EXPECT_EQ(ratio, static_cast<float>(static_cast<double>(c.nonZero) / (c.width * c.height)));
  char text[16];
  std::snprintf(text, sizeof text, "%.4f", static_cast<double>(ratio));
  EXPECT_STREQ(text, c.shown);
}

INSTANTIATE_TEST_SUITE_P(Cases, DefectRatioCounting,
                         ::testing::ValuesIn(std::vector<RatioCase>{
                             {8, 6, 0, 255, "0.0000"},
                             {8, 6, 48, 255, "1.0000"},
                             {10, 10, 7, 255, "0.0700"},
                             {3, 1, 1, 255, "0.3333"},
                             {10, 10, 7, 1, "0.0700"},  // any non-zero value counts
                         }));

TEST(DefectRatio, ReadsOnlyTheWindowAtTheTopLeft) {
  // The window is a view into a larger buffer whose other bytes are all set.
  cv::Mat buffer(20, 30, CV_8UC1, cv::Scalar(255));
  cv::Mat window = buffer(cv::Rect(0, 0, 10, 10));
  window.setTo(0);
  window.at<uchar>(3, 4) = 9;
  EXPECT_EQ(defectRatio(buffer, 10, 10), 0.01f);
  EXPECT_EQ(defectRatio(window, 10, 10), 0.01f);
}

TEST(DefectRatio, EmptyWindowGivesZero) {
  const cv::Mat map(4, 4, CV_8UC1, cv::Scalar(255));
  EXPECT_EQ(defectRatio(map, 0, 4), 0.0f);
  EXPECT_EQ(defectRatio(map, 4, -1), 0.0f);
}

}  // namespace
}  // namespace tallen
