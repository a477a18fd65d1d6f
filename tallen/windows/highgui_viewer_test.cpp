#include "windows/highgui_viewer.h"

#include <gtest/gtest.h>
#include <QApplication>
#include <QWidget>
#include <opencv2/core.hpp>

#include <cstdlib>
#include <string>

namespace {

int visibleWindowsTitled(const QString& title) {
  int count = 0;
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (w->isVisible() && w->windowTitle() == title) ++count;
  }
  return count;
}

TEST(HighguiViewer, JapaneseNameShownTwiceLeavesOneWindowTitledWithTheName) {
  tallen::HighguiViewer viewer;
  const std::string name = "テンプレートマッチング";
  viewer.show(name, cv::Mat(40, 60, CV_8UC3, cv::Scalar(0, 0, 255)));
  viewer.show(name, cv::Mat(40, 60, CV_8UC3, cv::Scalar(255, 0, 0)));
  QApplication::processEvents();

  EXPECT_EQ(visibleWindowsTitled(QString::fromStdString(name)), 1);
  EXPECT_EQ(visibleWindowsTitled(QStringLiteral("?????")), 0);

  viewer.closeAll();
  QApplication::processEvents();
  EXPECT_EQ(visibleWindowsTitled(QString::fromStdString(name)), 0);
}

TEST(HighguiViewer, WindowIdIsAsciiAndDistinctPerName) {
  const std::string a = tallen::HighguiViewer::windowId("平均");
  const std::string b = tallen::HighguiViewer::windowId("白黒判定");
  EXPECT_NE(a, b);
  for (char c : a + b) EXPECT_LT(static_cast<unsigned char>(c), 0x80);
}

}  // namespace

int main(int argc, char** argv) {
  // No display in CI; a developer may still point it at a real one.
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  // Created first so that highgui's windows live in this application.
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
