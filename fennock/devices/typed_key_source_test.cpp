#include "devices/typed_key_source.h"

#include "devices/highgui_viewer.h"

#include <gtest/gtest.h>
#include <QApplication>
#include <QGuiApplication>
#include <QTest>
#include <QWindow>
#include <opencv2/core.hpp>

#include <string>

namespace fennock {
namespace {

constexpr char kWindow[] = "Capture";

// A real highgui window to type into, as the operator does.
class TypedKeySourceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    viewer_.createWindow(kWindow);
    viewer_.show(kWindow, cv::Mat(48, 64, CV_8UC3, cv::Scalar(10, 20, 30)));
    for (QWindow* window : QGuiApplication::topLevelWindows()) {
      if (window->title() == kWindow && window->isVisible()) window_ = window;
    }
    ASSERT_NE(window_, nullptr) << "highgui opened no Qt window titled " << kWindow;
    while (keys_.waitKey() != -1) {
    }
  }
  void TearDown() override { viewer_.destroyWindow(kWindow); }

  HighguiViewer viewer_;
  TypedKeySource keys_{*QApplication::instance()};
  QWindow* window_ = nullptr;
};

TEST_F(TypedKeySourceTest, LowerCaseKeysArriveOnceEach) {
  QTest::keyClick(window_, 'g');
  EXPECT_EQ(keys_.waitKey(), 'g');
  EXPECT_EQ(keys_.waitKey(), -1) << "one key press is one key";
}

TEST_F(TypedKeySourceTest, ShiftedLetterIsTheUpperCaseCharacter) {
  // Shift goes down as a key of its own first; highgui's own code would then read 225, 103.
  QTest::keyClick(window_, 'G', Qt::ShiftModifier);
  EXPECT_EQ(keys_.waitKey(), 'G');
  EXPECT_EQ(keys_.waitKey(), -1);
}

TEST_F(TypedKeySourceTest, KeysTypedBetweenWaitsComeInOrder) {
  for (char key : std::string("bqg")) QTest::keyClick(window_, key);
  EXPECT_EQ(keys_.waitKey(), 'b');
  EXPECT_EQ(keys_.waitKey(), 'q');
  EXPECT_EQ(keys_.waitKey(), 'g');
  EXPECT_EQ(keys_.waitKey(), -1);
}

TEST_F(TypedKeySourceTest, NoKeyIsMinusOne) { EXPECT_EQ(keys_.waitKey(), -1); }

}  // namespace
}  // namespace fennock
