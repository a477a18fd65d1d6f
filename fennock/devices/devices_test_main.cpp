// The device tests need the QApplication that the program creates before any highgui call.
#include "devices/backend_logs.h"

#include <gtest/gtest.h>
#include <QApplication>

#include <cstdlib>

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  // Test discovery runs this binary at build time, outside ctest's environment.
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  fennock::silenceBackendLogs();
  QApplication application(argc, argv);
  return RUN_ALL_TESTS();
}
