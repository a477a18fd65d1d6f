#include "cli/overlay_file.h"

#include <opencv2/core.hpp>

#include <gtest/gtest.h>

namespace tallen {
namespace {

TEST(OverlayFile, NameIsTheStemWithSuffix) {
  EXPECT_EQ(overlayFileName("../pictures/check_blob.jpg"), "check_blob_overlay.png");
  EXPECT_EQ(overlayFileName("part.v2.png"), "part.v2_overlay.png");
}

TEST(OverlayFile, PaintsRedExactlyWhereTheMaskIsWhiteAndLeavesThePatch) {
  cv::setRNGSeed(7);
  cv::Mat patch(40, 30, CV_8UC3);
  cv::randu(patch, 0, 256);
  cv::Mat mask(patch.size(), CV_8UC1);
  cv::randu(mask, 0, 2);
  mask *= 255;
  // A value that is neither defective nor clean must not count as defective.
  mask.at<uchar>(0, 0) = 254;
  const cv::Mat before = patch.clone();

  const cv::Mat overlay = paintDefects(patch, mask);
  ASSERT_EQ(overlay.type(), CV_8UC3);
  EXPECT_EQ(cv::norm(patch, before, cv::NORM_INF), 0.0);
  for (int y = 0; y < patch.rows; ++y) {
    for (int x = 0; x < patch.cols; ++x) {
      const cv::Vec3b expected =
          mask.at<uchar>(y, x) == 255 ? cv::Vec3b(0, 0, 255) : patch.at<cv::Vec3b>(y, x);
      ASSERT_EQ(overlay.at<cv::Vec3b>(y, x), expected) << x << "," << y;
    }
  }
}

TEST(OverlayFile, RefusesMismatchedInputs) {
  const cv::Mat patch(4, 4, CV_8UC3, cv::Scalar::all(1));
  EXPECT_THROW(paintDefects(patch, cv::Mat(4, 5, CV_8UC1, cv::Scalar(0))), cv::Exception);
  EXPECT_THROW(paintDefects(patch, cv::Mat(4, 4, CV_8UC3, cv::Scalar::all(0))), cv::Exception);
}

}  // namespace
}  // namespace tallen
