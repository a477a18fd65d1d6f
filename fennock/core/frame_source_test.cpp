#include "core/frame_source.h"

#include "core/test_support.h"

#include <gtest/gtest.h>
#include <opencv2/core.hpp>

#include <ostream>
#include <string>

namespace fennock {
namespace {

using testing::SyntheticFrames;

const cv::Size kSize(4, 3);

struct BadFrameCase {
  const char* name;
  cv::Mat frame;  // empty: the source has no frame
  const char* message;
};

void PrintTo(const BadFrameCase& c, std::ostream* os) { *os << c.name; }

class BadFrame : public ::testing::TestWithParam<BadFrameCase> {};

TEST_P(BadFrame, StopsTheCamera) {
  const BadFrameCase& c = GetParam();
  SyntheticFrames frames(std::vector<cv::Mat>{c.frame});
  if (c.frame.empty()) frames.limit = 0;
  auto source = frames.makeSource();
  cv::Mat frame;
  try {
    readFrame(*source, kSize, frame);
    FAIL() << "accepted";
  } catch (const CameraStoppedError& e) {
    EXPECT_STREQ(e.what(), c.message);
  }
}

const BadFrameCase kBadFrames[] = {
    {"NoFrame", cv::Mat(), "the camera stopped delivering frames"},
    {"OtherSize", cv::Mat(3, 5, CV_8UC3),
     "the camera delivered a frame of 5x3 CV_8UC3 instead of 4x3 CV_8UC3"},
    {"Gray", cv::Mat(3, 4, CV_8UC1),
     "the camera delivered a frame of 4x3 CV_8UC1 instead of 4x3 CV_8UC3"},
    {"SixteenBit", cv::Mat(3, 4, CV_16UC3),
     "the camera delivered a frame of 4x3 CV_16UC3 instead of 4x3 CV_8UC3"},
};

INSTANTIATE_TEST_SUITE_P(FrameSource, BadFrame, ::testing::ValuesIn(kBadFrames),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(FrameSource, GoodFrameIsTheSourcesOwn) {
  const cv::Mat served(kSize, CV_8UC3, cv::Scalar(1, 2, 3));
  SyntheticFrames frames(std::vector<cv::Mat>{served});
  auto source = frames.makeSource();
  cv::Mat frame;

  readFrame(*source, kSize, frame);

  EXPECT_EQ(frame.data, served.data) << "a frame is read, not copied";
}

}  // namespace
}  // namespace fennock
