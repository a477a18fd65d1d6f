#include "core/template_locating.h"

#include "core/procedure_error.h"
#include "core/recording_viewer.h"
#include "core/test_support.h"

#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

namespace tallen {
namespace {

using testing::CapturedStream;

// A 100 x 50 template: a bright bar with a dark frame around it.
cv::Mat barTemplate() {
  cv::Mat templ(50, 100, CV_8UC3, cv::Scalar(20, 20, 20));
  cv::rectangle(templ, cv::Rect(10, 10, 80, 30), cv::Scalar(230, 230, 230), cv::FILLED);
  return templ;
}

cv::Mat pictureWithTemplateAt(cv::Size size, cv::Point at) {
  cv::Mat picture(size, CV_8UC3, cv::Scalar(20, 20, 20));
  barTemplate().copyTo(picture(cv::Rect(at, cv::Size(100, 50))));
  return picture;
}

TEST(LocateTemplate, ReturnsTheBestMatchAndMarksIt) {
  cv::Mat picture = pictureWithTemplateAt(cv::Size(320, 480), cv::Point(30, 40));
  const cv::Mat templ = barTemplate();
  const cv::Mat templBefore = templ.clone();
  RecordingViewer viewer;
  CapturedStream trace;
  const TemplateMatch match = locateTemplate(picture, templ, viewer, trace.stream());

  EXPECT_EQ(match.point, cv::Point(30, 40));
  EXPECT_NEAR(match.score, 1.0, 1e-6);
  EXPECT_EQ(trace.text(), "正規化相互相関関数=1.000000\n");
  const cv::Vec3b red(0, 0, 255);
  EXPECT_EQ(picture.at<cv::Vec3b>(40, 30), red);
  EXPECT_EQ(picture.at<cv::Vec3b>(90, 130), red);  // one pixel outside the window
  EXPECT_EQ(picture.at<cv::Vec3b>(65, 130), red);
  // The score text sits at the bottom left, its baseline 10 pixels above the bottom edge.
  cv::Mat white;
  cv::inRange(picture, cv::Scalar(255, 255, 255), cv::Scalar(255, 255, 255), white);
  const cv::Rect text = cv::boundingRect(white);
  EXPECT_GE(text.x, 10);  // the glyph's own left bearing comes on top
  EXPECT_LE(text.x, 16);
  EXPECT_NEAR(text.y + text.height, 472, 3);
  EXPECT_EQ(cv::norm(templ, templBefore, cv::NORM_INF), 0.0);
  ASSERT_EQ(viewer.names(), std::vector<std::string>{"テンプレートマッチング"});
  EXPECT_EQ(cv::norm(viewer.shown().front().image, picture, cv::NORM_INF), 0.0);
}

TEST(LocateTemplate, TemplateAsLargeAsThePictureMatchesAtTheOrigin) {
  cv::Mat picture = barTemplate();
  RecordingViewer viewer;
  EXPECT_EQ(locateTemplate(picture, barTemplate(), viewer, nullptr).point, cv::Point(0, 0));
}

TEST(LocateTemplate, TemplateLargerThanThePictureIsReportedAndTouchesNothing) {
  for (cv::Size size : {cv::Size(99, 200), cv::Size(200, 49)}) {
    cv::Mat picture(size, CV_8UC3, cv::Scalar(20, 20, 20));
    const cv::Mat before = picture.clone();
    RecordingViewer viewer;
    try {
      locateTemplate(picture, barTemplate(), viewer, nullptr);
      FAIL() << "no error";
    } catch (const InspectionError& e) {
      const std::string message = e.what();
      EXPECT_NE(message.find("100x50"), std::string::npos) << message;
      EXPECT_NE(message.find(std::to_string(size.width) + "x" + std::to_string(size.height)),
                std::string::npos)
          << message;
    }
    EXPECT_EQ(cv::norm(picture, before, cv::NORM_INF), 0.0);
    EXPECT_TRUE(viewer.shown().empty());
  }
}

TEST(CutMatchedPatch, StartsHalfAPixelPastTheMatchPoint) {
  // Columns and rows numbered by value, so that a sample's position can be read off its value.
  cv::Mat picture(120, 160, CV_8UC3);
  for (int y = 0; y < picture.rows; ++y) {
    for (int x = 0; x < picture.cols; ++x) picture.at<cv::Vec3b>(y, x) = cv::Vec3b(x, y, 0);
  }
  cv::Mat patch;
  cutMatchedPatch(picture, cv::Point(30, 40), cv::Size(100, 50), patch);
  ASSERT_EQ(patch.size(), cv::Size(100, 50));
  // Sampled at (30.5, 40.5): the mean of columns 30 and 31 and of rows 40 and 41, rounded up.
  EXPECT_EQ(patch.at<cv::Vec3b>(0, 0), cv::Vec3b(31, 41, 0));
  EXPECT_EQ(patch.at<cv::Vec3b>(0, 1), cv::Vec3b(32, 41, 0));
  EXPECT_EQ(patch.at<cv::Vec3b>(49, 99), cv::Vec3b(130, 90, 0));
}

}  // namespace
}  // namespace tallen
