// A whole capture run as the program makes it from its command line, on a recorded image
// sequence, with scripted keys instead of typed ones.
#include "app/capture_loop.h"
#include "app/command_line.h"
#include "app/output_folder.h"
#include "core/background_model.h"
#include "core/test_support.h"
#include "devices/video_capture_source.h"

#include <gtest/gtest.h>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fennock {
namespace {

using testing::MemoryConsole;
using testing::RecordingViewer;
using testing::ScriptedKeys;
using testing::TemporaryDirectory;

// The first frame, 50 to learn, and per key one live pass plus 50 for a sample.
constexpr int kFrames = 1 + 50 + 3 * (1 + 50);

class RecordedRun : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directory(dir_.file("frames"));
    for (int i = 0; i < kFrames; ++i) {
      // An object appears in the second half of the frames, so samples are not black.
      cv::Mat frame(24, 32, CV_8UC3, cv::Scalar(100 + i % 2 * 4, 100, 100));
      if (i > 60) cv::rectangle(frame, cv::Rect(8, 6, 10, 8), cv::Scalar(250, 250, 250), -1);
      char name[32];
      std::snprintf(name, sizeof name, "frames/%04d.png", i);
      ASSERT_TRUE(cv::imwrite(dir_.file(name), frame));
    }
  }
  void TearDown() override {
    g_capture.reset();
    g_background.release();
    g_threshold.release();
  }

  // Runs `fennock ARGUMENTS --source frames/%04d.png` with the keys g, g, q.
  int run(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), {"fennock", "--source", dir_.file("frames/%04d.png")});
    std::vector<const char*> argv;
    for (const std::string& argument : arguments) argv.push_back(argument.c_str());
    const CommandLine line = parseCommandLine(static_cast<int>(argv.size()), argv.data());
    CaptureSettings settings = prepareOutput(line);
    settings.out = out_.file();
    settings.err = err_.file();
    g_capture = VideoCaptureSource::openSource(line.source);
    EXPECT_TRUE(g_capture);
    ScriptedKeys keys({{'g', nullptr}, {'g', nullptr}, {'q', nullptr}});
    RecordingViewer viewer;
    return runCapture(keys, viewer, settings);
  }

  TemporaryDirectory dir_;
  MemoryConsole out_, err_;
};

TEST_F(RecordedRun, OutputFolderIsMadeAndEverySampleNamed) {
  const std::string output = dir_.file("line/samples");

  EXPECT_EQ(run({"--output", output}), kExitQuit);

  EXPECT_EQ(err_.text(),
            "fennock: saved " + output + "/good_1.jpg\nfennock: saved " + output + "/good_2.jpg\n");
  for (const char* name : {"good_1.jpg", "good_2.jpg"}) {
    const cv::Mat sample = cv::imread(output + "/" + name, cv::IMREAD_COLOR);
    ASSERT_EQ(sample.size(), cv::Size(32, 24)) << name;
    EXPECT_GT(sample.at<cv::Vec3b>(10, 12)[0], 200) << "the object is in the sample";
  }
}

TEST_F(RecordedRun, ContinueNumbersAfterTheHighestSampleAndKeepsTheOthers) {
  const std::string output = dir_.file("samples");
  std::filesystem::create_directory(output);
  for (const char* name : {"good_1.jpg", "good_2.jpg", "good_10.jpg", "good_9.jpg"}) {
    std::ofstream(output + "/" + name) << "earlier run";
  }

  EXPECT_EQ(run({"--output=" + output, "--continue"}), kExitQuit);

  EXPECT_EQ(err_.text(), "fennock: saved " + output + "/good_11.jpg\nfennock: saved " + output +
                             "/good_12.jpg\n");
  for (const char* name : {"good_1.jpg", "good_2.jpg", "good_9.jpg", "good_10.jpg"}) {
    std::ifstream in(output + "/" + name);
    std::string text;
    std::getline(in, text);
    EXPECT_EQ(text, "earlier run") << name;
  }
}

TEST_F(RecordedRun, WithoutContinueTheNumberingStartsAgain) {
  const std::string output = dir_.file("samples");
  std::filesystem::create_directory(output);
  std::ofstream(output + "/good_7.jpg") << "earlier run";

  EXPECT_EQ(run({"--output", output}), kExitQuit);

  EXPECT_EQ(err_.text(),
            "fennock: saved " + output + "/good_1.jpg\nfennock: saved " + output + "/good_2.jpg\n");
}

}  // namespace
}  // namespace fennock
