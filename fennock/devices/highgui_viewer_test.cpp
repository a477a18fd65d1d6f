#include "devices/highgui_viewer.h"

#include <gtest/gtest.h>
#include <QApplication>
#include <QWidget>
#include <opencv2/core.hpp>
#include <opencv2/highgui.hpp>

namespace fennock {
namespace {

QWidget* visibleWindow(const QString& title) {
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    if (widget->windowTitle() == title && widget->isVisible()) return widget;
  }
  return nullptr;
}

TEST(HighguiViewer, OpensShowsAndClosesWindowsByName) {
  HighguiViewer viewer;
  viewer.createWindow("Result");
  viewer.show("Result", cv::Mat(30, 40, CV_8UC1, cv::Scalar(255)));
  cv::waitKey(1);
  ASSERT_NE(visibleWindow("Result"), nullptr);

  viewer.destroyWindow("Result");
  cv::waitKey(1);

  EXPECT_EQ(visibleWindow("Result"), nullptr);
}

}  // namespace
}  // namespace fennock
