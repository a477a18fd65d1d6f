#include "core/bright_mask.h"

#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

#include <vector>

namespace tallen {
namespace {

// The mask as plain library calls, the blur done in place.
cv::Mat referenceMask(const cv::Mat& colour) {
  cv::Mat gray;
  cv::cvtColor(colour, gray, cv::COLOR_BGR2GRAY);
  cv::GaussianBlur(gray, gray, cv::Size(5, 5), 0, 0, cv::BORDER_REPLICATE);
  cv::Mat mask;
  cv::threshold(gray, mask, 0, 255, cv::THRESH_BINARY | cv::THRESH_OTSU);
  return mask;
}

// Noise and a bright shape, so that the threshold and the blurred edges both matter.
cv::Mat scene(cv::Size size, int seed) {
  cv::setRNGSeed(seed);
  cv::Mat colour(size, CV_8UC3);
  cv::randu(colour, cv::Scalar::all(0), cv::Scalar::all(90));
  cv::circle(colour, cv::Point(size.width / 2, size.height / 3), size.height / 4,
             cv::Scalar(200, 180, 220), cv::FILLED);
  return colour;
}

TEST(BrightMask, KeptImagesGiveTheMaskOfPlainCallsAndLeaveTheInputAlone) {
  cv::Mat gray;
  cv::Mat mask;
  const std::vector<cv::Size> sizes = {{97, 61}, {97, 61}, {33, 120}, {640, 480}, {5, 3}};
  for (std::size_t i = 0; i < sizes.size(); ++i) {
    SCOPED_TRACE(i);
    const cv::Mat colour = scene(sizes[i], static_cast<int>(i) + 7);
    const cv::Mat before = colour.clone();
    brightMask(colour, gray, mask);
    const cv::Mat expected = referenceMask(colour);
    ASSERT_EQ(mask.size(), expected.size());
    EXPECT_EQ(mask.type(), CV_8UC1);
    EXPECT_EQ(cv::norm(mask, expected, cv::NORM_INF), 0.0);
    EXPECT_EQ(cv::norm(brightMask(colour), expected, cv::NORM_INF), 0.0);
    EXPECT_EQ(cv::norm(colour, before, cv::NORM_INF), 0.0);
  }
}

}  // namespace
}  // namespace tallen
