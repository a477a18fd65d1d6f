#include "cli/watch_loop.h"

#include "cli/cli_test_support.h"
#include "cli/watch_test_support.h"
#include "core/procedure_error.h"

#include <opencv2/core.hpp>

#include <gtest/gtest.h>

#include <signal.h>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

namespace tallen {
namespace {

namespace fs = std::filesystem;
using cli_testing::InspectionArea;
using namespace watch_testing;

// Everything written to a temporary FILE*.
std::string contentOf(std::FILE* file) {
  std::fflush(file);
  std::rewind(file);
  std::string text;
  for (int c; (c = std::fgetc(file)) != EOF;) text += static_cast<char>(c);
  return text;
}

class WatchLoop : public ::testing::Test {
 protected:
  WatchLoop() : err_(std::tmpfile()) {
    options_.directory = area_.path("incoming");
    fs::create_directory(options_.directory);
    for (const char* name : {"a.jpg", "b.jpg", "c.jpg"}) {
      writeWhole(options_.directory + "/" + name, testBytes(16, 1));
    }
  }
  ~WatchLoop() override { std::fclose(err_); }

  // Runs the watch with `inspect` called on the picture names, recording them.
  void run(const std::function<bool(const std::string& name)>& inspect) {
    DelayedSignal watchdog(SIGTERM, kPatience);
    runWatch(
        options_,
        [&](const std::string& path) {
          const std::string name = fs::path(path).filename().string();
          inspected_.push_back(name);
          return inspect(name);
        },
        [&](const std::string& line) { progress_.push_back(line); }, err_);
  }

  InspectionArea area_;
  WatchOptions options_;
  std::FILE* err_;
  std::vector<std::string> inspected_;
  std::vector<std::string> progress_;
};

TEST_F(WatchLoop, ReportsAFailedPictureAndGoesOn) {
  run([](const std::string& name) {
    if (name == "a.jpg") throw InspectionError("cannot read the image a.jpg: damaged");
    if (name == "b.jpg") throw cv::Exception(cv::Error::StsError, "bad data", "decode", "x", 1);
    ::raise(SIGTERM);
    return true;
  });
  EXPECT_EQ(inspected_, (std::vector<std::string>{"a.jpg", "b.jpg", "c.jpg"}));
  const std::string err = contentOf(err_);
  const std::string a = options_.directory + "/a.jpg";
  const std::string b = options_.directory + "/b.jpg";
  EXPECT_NE(err.find("tallen: error: cannot read the image a.jpg: damaged (" + a + " skipped)\n"),
            std::string::npos)
      << err;
  EXPECT_NE(err.find("tallen: error in the image library: "), std::string::npos) << err;
  EXPECT_NE(err.find(b + " skipped)\n"), std::string::npos) << err;
  ASSERT_EQ(progress_.size(), 1u);
  EXPECT_NE(progress_[0].find("watching " + options_.directory), std::string::npos);
}

TEST_F(WatchLoop, ASignalDuringAPictureEndsTheWatchAfterIt) {
  run([](const std::string&) {
    ::raise(SIGINT);
    return true;
  });
  EXPECT_EQ(inspected_, std::vector<std::string>{"a.jpg"});
  EXPECT_EQ(contentOf(err_), "");
}

TEST_F(WatchLoop, EndsWhenThePictureSaysSo) {
  run([](const std::string& name) { return name != "b.jpg"; });
  EXPECT_EQ(inspected_, (std::vector<std::string>{"a.jpg", "b.jpg"}));
}

TEST_F(WatchLoop, PassesOnOtherErrors) {
  EXPECT_THROW(run([](const std::string&) -> bool { throw std::runtime_error("disk gone"); }),
               std::runtime_error);
  EXPECT_EQ(inspected_, std::vector<std::string>{"a.jpg"});
}

TEST_F(WatchLoop, PassesOnAFolderThatCannotBeWatched) {
  options_.directory = area_.path("none");
  EXPECT_THROW(run([](const std::string&) { return true; }), InspectionError);
  EXPECT_TRUE(inspected_.empty());
  EXPECT_TRUE(progress_.empty());
}

}  // namespace
}  // namespace tallen
