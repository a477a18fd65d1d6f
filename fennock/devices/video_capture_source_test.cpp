#include "devices/video_capture_source.h"

#include "core/test_support.h"

#include <gtest/gtest.h>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include <cstdio>
#include <vector>

namespace fennock {
namespace {

using testing::TemporaryDirectory;

TEST(VideoCaptureSource, ReadsAnImageSequenceToItsEnd) {
  TemporaryDirectory dir;
  std::vector<cv::Mat> written;
  for (int i = 0; i < 5; ++i) {
    cv::Mat frame(24, 32, CV_8UC3, cv::Scalar(10 * i, 100, 200 - i));
    frame.at<cv::Vec3b>(0, 0) = cv::Vec3b(255, 0, 0);  // top-left stays top-left
    char name[16];
    std::snprintf(name, sizeof name, "%04d.png", i);
    ASSERT_TRUE(cv::imwrite(dir.file(name), frame));
    written.push_back(frame);
  }

  auto source = VideoCaptureSource::openSource(dir.file("%04d.png"));
  ASSERT_NE(source, nullptr);
  cv::Mat frame;
  for (const cv::Mat& expected : written) {
    ASSERT_TRUE(source->read(frame));
    ASSERT_EQ(frame.type(), CV_8UC3);
    EXPECT_EQ(cv::norm(frame, expected, cv::NORM_INF), 0.0);
  }
  EXPECT_FALSE(source->read(frame));
}

TEST(VideoCaptureSource, NothingToOpenIsNull) {
  TemporaryDirectory dir;
  EXPECT_EQ(VideoCaptureSource::openSource(dir.file("missing.avi")), nullptr);
  EXPECT_EQ(VideoCaptureSource::openSource(dir.file("none/%04d.png")), nullptr);
  EXPECT_EQ(VideoCaptureSource::openCamera(63), nullptr);
}

}  // namespace
}  // namespace fennock
