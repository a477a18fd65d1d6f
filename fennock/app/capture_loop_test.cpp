#include "app/capture_loop.h"

#include "core/background_model.h"
#include "core/test_support.h"

#include <gtest/gtest.h>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include <algorithm>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

namespace fennock {
namespace {

using testing::AllocationCounter;
using testing::MemoryConsole;
using testing::RecordingViewer;
using testing::ScriptedKeys;
using testing::SyntheticFrames;
using testing::TemporaryDirectory;

constexpr int kWidth = 12;
constexpr int kHeight = 8;
constexpr int kLinesPerCollection = 52;
constexpr int kFramesPerCollection = 50;
// The first frame and the background.
constexpr int kStartFrames = 1 + kFramesPerCollection;
const cv::Rect kObject(2, 1, 6, 4);  // in the top half, so that a flip would show
const cv::Scalar kObjectColour(30, 200, 240);
constexpr int kNone = -1;

const std::vector<std::string> kCreated = {"create Capture", "create Result", "create ResultCl",
                                           "create Background", "create Threshold"};
const std::vector<std::string> kDestroyed = {"destroy Capture", "destroy Result",
                                             "destroy ResultCl", "destroy Background",
                                             "destroy Threshold"};

// An empty scene whose pixels alternate between 100 and 104 (background 102, tolerance 10),
// and the same scene with an object.
std::vector<cv::Mat> scene(bool withObject) {
  std::vector<cv::Mat> frames;
  for (int level : {100, 104}) {
    cv::Mat frame = testing::solid(kWidth, kHeight, cv::Scalar::all(level));
    if (withObject) frame(kObject).setTo(kObjectColour);
    frames.push_back(frame);
  }
  return frames;
}

// The object as the sample shows it: its colour, less the corners that the median removes.
cv::Mat expectedSample() {
  cv::Mat sample = testing::solid(kWidth, kHeight, cv::Scalar::all(0));
  sample(kObject).setTo(kObjectColour);
  for (cv::Point corner :
       {kObject.tl(), cv::Point(kObject.x + kObject.width - 1, kObject.y),
        cv::Point(kObject.x, kObject.y + kObject.height - 1), kObject.br() - cv::Point(1, 1)}) {
    sample.at<cv::Vec3b>(corner) = cv::Vec3b(0, 0, 0);
  }
  return sample;
}

std::vector<ScriptedKeys::Step> keysOf(const std::vector<int>& keys) {
  std::vector<ScriptedKeys::Step> steps;
  for (int key : keys) steps.push_back({key, nullptr});
  return steps;
}

bool isUniform(const cv::Mat& image, int value) {
  return !image.empty() && cv::countNonZero(image.reshape(1) != value) == 0;
}

int countLines(const std::vector<std::string>& lines, const std::string& line) {
  return static_cast<int>(std::count(lines.begin(), lines.end(), line));
}

std::vector<std::string> tail(const std::vector<std::string>& calls, std::size_t n) {
  return std::vector<std::string>(calls.end() - std::min(n, calls.size()), calls.end());
}

class CaptureLoopTest : public ::testing::Test {
 protected:
  CaptureLoopTest() : frames_(scene(false)) {
    settings_.sampleDirectory = dir_.path();
    settings_.out = out_.file();
    settings_.err = err_.file();
  }
  void TearDown() override {
    g_capture.reset();
    g_background.release();
    g_threshold.release();
  }

  int run(std::vector<ScriptedKeys::Step> steps) {
    g_capture = frames_.makeSource();
    ScriptedKeys keys(std::move(steps));
    return runCapture(keys, viewer_, settings_);
  }

  // The run ended as it should: everything released, the windows closed in order.
  void expectReleased() {
    EXPECT_TRUE(frames_.released());
    EXPECT_FALSE(g_capture);
    EXPECT_TRUE(g_background.empty());
    EXPECT_TRUE(g_threshold.empty());
    EXPECT_EQ(tail(viewer_.calls, kDestroyed.size()), kDestroyed);
  }

  std::string sampleFile(int n) const { return dir_.file("good_" + std::to_string(n) + ".jpg"); }

  // The numbers of `count` samples from good_1.jpg on, wrapping as the run does.
  static std::vector<int> savedNumbers(int count) {
    std::vector<int> numbers;
    for (int i = 0; i < count; ++i) numbers.push_back(i % 50 + 1);
    return numbers;
  }

  bool sampleExists(int n) const {
    return std::filesystem::exists(dir_.file("good_" + std::to_string(n) + ".jpg"));
  }

  TemporaryDirectory dir_;
  SyntheticFrames frames_;
  RecordingViewer viewer_;
  MemoryConsole out_, err_;
  CaptureSettings settings_;
};

TEST_F(CaptureLoopTest, QuitEndsWithEverythingReleased) {
  const int status = run(keysOf({'q'}));

  EXPECT_EQ(status, kExitQuit);
  std::vector<std::string> expected = kCreated;
  for (const char* call : {"show Capture", "show Result", "show Background", "show Threshold"}) {
    expected.push_back(call);
  }
  expected.insert(expected.end(), kDestroyed.begin(), kDestroyed.end());
  EXPECT_EQ(viewer_.calls, expected);
  EXPECT_EQ(frames_.reads(), kStartFrames + 1);
  EXPECT_EQ(out_.lines().size(), kLinesPerCollection);
  EXPECT_EQ(err_.text(), "");
  expectReleased();
}

TEST_F(CaptureLoopTest, WindowsShowTheLiveForegroundAndTheModel) {
  run({{kNone, [this] { frames_.frames() = scene(true); }}, {'q', nullptr}});

  cv::Mat expectedMask;
  cv::extractChannel(expectedSample(), expectedMask, 1);
  EXPECT_EQ(cv::norm(viewer_.latest["Result"], expectedMask != 0, cv::NORM_INF), 0.0);
  // Frame 52 (the first, 50 for the background, one pass) is the even one of the scene.
  EXPECT_EQ(cv::norm(viewer_.latest["Capture"], scene(true)[0], cv::NORM_INF), 0.0)
      << "the frame as delivered";
  EXPECT_TRUE(isUniform(viewer_.latest["Background"], 102));
  EXPECT_TRUE(isUniform(viewer_.latest["Threshold"], 30)) << "three times the tolerance";
  EXPECT_EQ(viewer_.shows.count("ResultCl"), 0u) << "no sample yet";
}

struct IgnoredKey {
  const char* name;
  int key;
};

void PrintTo(const IgnoredKey& c, std::ostream* os) { *os << c.name; }

class IgnoredKeys : public CaptureLoopTest, public ::testing::WithParamInterface<IgnoredKey> {};

TEST_P(IgnoredKeys, DoNothing) {
  const int status = run(keysOf({GetParam().key, 'q'}));

  EXPECT_EQ(status, kExitQuit);
  EXPECT_EQ(frames_.reads(), kStartFrames + 2) << "no collection ran";
  EXPECT_EQ(out_.lines().size(), kLinesPerCollection);
  EXPECT_TRUE(std::filesystem::is_empty(dir_.path()));
}

const IgnoredKey kIgnoredKeys[] = {
    {"UpperG", 'G'},      {"UpperB", 'B'},  {"UpperQ", 'Q'},
    {"OtherLetter", 'x'}, {"NoKey", kNone}, {"ShiftCode", 225},
};

INSTANTIATE_TEST_SUITE_P(CaptureLoop, IgnoredKeys, ::testing::ValuesIn(kIgnoredKeys),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(CaptureLoopTest, SampleIsTheForegroundOfTheMeanFrameUpright) {
  frames_.frames() = scene(false);
  const int status = run({{'g', [this] { frames_.frames() = scene(true); }}, {'q', nullptr}});

  EXPECT_EQ(status, kExitQuit);
  EXPECT_EQ(cv::norm(viewer_.latest["ResultCl"], expectedSample(), cv::NORM_INF), 0.0);
  const cv::Mat saved = cv::imread(dir_.file("good_1.jpg"), cv::IMREAD_COLOR);
  ASSERT_EQ(saved.size(), cv::Size(kWidth, kHeight));
  EXPECT_GT(cv::mean(saved(cv::Rect(3, 2, 4, 2)))[2], 180) << "object where Capture shows it";
  EXPECT_LT(cv::mean(saved(cv::Rect(0, 6, kWidth, 2)))[2], 20) << "black outside the object";

  const std::vector<std::string> lines = out_.lines();
  ASSERT_EQ(lines.size(), 2u * kLinesPerCollection);
  EXPECT_EQ(lines[kLinesPerCollection], "平均画像取得中...");
  EXPECT_EQ(lines.back(), "平均画像取得完了");
  EXPECT_EQ(frames_.reads(), kStartFrames + 2 + kFramesPerCollection);
}

TEST_F(CaptureLoopTest, RelearningKeepsTheNumbering) {
  const int status = run(keysOf({'g', 'b', 'g', 'q'}));

  EXPECT_EQ(status, kExitQuit);
  EXPECT_TRUE(sampleExists(1));
  EXPECT_TRUE(sampleExists(2));
  EXPECT_FALSE(sampleExists(3));
  const std::vector<std::string> lines = out_.lines();
  ASSERT_EQ(lines.size(), 4u * kLinesPerCollection + 1);
  EXPECT_EQ(lines[2 * kLinesPerCollection], "背景取得中...");
  EXPECT_EQ(lines[3 * kLinesPerCollection - 1], "背景取得完了");
  EXPECT_EQ(lines[3 * kLinesPerCollection], "背景情報更新");
  EXPECT_EQ(countLines(lines, "背景情報更新"), 1);
}

TEST_F(CaptureLoopTest, FiftyFirstSampleWritesTheFirstAgain) {
  std::vector<ScriptedKeys::Step> steps = keysOf(std::vector<int>(50, 'g'));
  steps.push_back({'g', [this] { std::filesystem::remove(dir_.file("good_1.jpg")); }});
  steps.push_back({'q', nullptr});

  const int status = run(steps);

  EXPECT_EQ(status, kExitQuit);
  for (int n = 1; n <= 50; ++n) EXPECT_TRUE(sampleExists(n)) << n;
  EXPECT_FALSE(sampleExists(51));
  std::string saved;
  for (int n : savedNumbers(51)) saved += "fennock: saved " + sampleFile(n) + "\n";
  EXPECT_EQ(err_.text(), saved);
}

TEST_F(CaptureLoopTest, NumberingGoesOnAfterThePreviousSample) {
  settings_.previousSample = 49;

  const int status = run(keysOf({'g', 'g', 'g', 'q'}));

  EXPECT_EQ(status, kExitQuit);
  EXPECT_EQ(err_.text(), "fennock: saved " + sampleFile(50) + "\nfennock: saved " + sampleFile(1) +
                             "\nfennock: saved " + sampleFile(2) + "\n");
  EXPECT_TRUE(sampleExists(50));
  EXPECT_TRUE(sampleExists(1));
  EXPECT_TRUE(sampleExists(2));
  EXPECT_FALSE(sampleExists(3));
}

TEST_F(CaptureLoopTest, UnwritableDirectoryTakesTheNumberBack) {
  const std::string missing = dir_.file("missing");
  settings_.sampleDirectory = missing;

  const int status = run(
      {{'g', nullptr}, {'g', [&] { std::filesystem::create_directory(missing); }}, {'q', nullptr}});

  EXPECT_EQ(status, kExitQuit);
  EXPECT_EQ(err_.text(), "fennock: cannot write sample " + missing +
                             "/good_1.jpg: No such file or directory; the next sample takes "
                             "number 1 again\nfennock: saved " +
                             missing + "/good_1.jpg\n");
  EXPECT_TRUE(std::filesystem::exists(missing + "/good_1.jpg"));
  EXPECT_FALSE(std::filesystem::exists(missing + "/good_2.jpg"));
}

// Frames that stop or change in the middle of the run.
struct StopCase {
  const char* name;
  int limit;        // frames delivered before the source runs out
  int otherSizeAt;  // index of a frame one pixel wider; -1 for none
  std::vector<int> keys;
  const char* message;
};

void PrintTo(const StopCase& c, std::ostream* os) { *os << c.name; }

class CameraStops : public CaptureLoopTest, public ::testing::WithParamInterface<StopCase> {};

TEST_P(CameraStops, EndsTheRunWithStatusOne) {
  const StopCase& c = GetParam();
  frames_.limit = c.limit;
  if (c.otherSizeAt >= 0) {
    frames_.overrides[c.otherSizeAt] = testing::solid(kWidth + 1, kHeight, cv::Scalar::all(100));
  }

  const int status = run(keysOf(c.keys));

  EXPECT_EQ(status, kExitCameraStopped);
  EXPECT_EQ(err_.text(), std::string("fennock: ") + c.message + "; ending the run\n");
  EXPECT_TRUE(std::filesystem::is_empty(dir_.path()));
  expectReleased();
}

const StopCase kStopCases[] = {
    {"DuringTheFirstLearning",
     20,
     -1,
     {},
     "the camera stopped delivering frames while learning the background"},
    {"InTheLiveView",
     kStartFrames + 3,
     -1,
     {kNone, kNone, kNone},
     "the camera stopped delivering frames in the live view"},
    {"WhileAveragingASample",
     kStartFrames + 1 + 30,
     -1,
     {'g'},
     "the camera stopped delivering frames while averaging a sample"},
    {"WhileRelearning",
     kStartFrames + 1 + 49,
     -1,
     {'b'},
     "the camera stopped delivering frames while learning the background"},
    {"FrameSizeChanges",
     1000,
     kStartFrames + 2,
     {kNone, kNone},
     "the camera delivered a frame of 13x8 CV_8UC3 instead of 12x8 CV_8UC3 in the live view"},
};

INSTANTIATE_TEST_SUITE_P(CaptureLoop, CameraStops, ::testing::ValuesIn(kStopCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(CaptureLoopTest, NoFirstFrameIsNoCamera) {
  frames_.limit = 0;

  const int status = run({});

  EXPECT_EQ(status, kExitNoCamera);
  EXPECT_EQ(out_.text(), "カメラが見つかりません\n");
  EXPECT_TRUE(viewer_.calls.empty()) << "no window opens";
  EXPECT_TRUE(frames_.released());
}

TEST_F(CaptureLoopTest, NoCameraAtAll) {
  ScriptedKeys keys({});

  const int status = runCapture(keys, viewer_, settings_);

  EXPECT_EQ(status, kExitNoCamera);
  EXPECT_EQ(out_.text(), "カメラが見つかりません\n");
  EXPECT_TRUE(viewer_.calls.empty());
}

TEST_F(CaptureLoopTest, GrayCameraIsRefused) {
  frames_.frames() = {cv::Mat(kHeight, kWidth, CV_8UC1, cv::Scalar(5))};

  const int status = run({});

  EXPECT_EQ(status, kExitCameraStopped);
  EXPECT_EQ(err_.text(),
            "fennock: the camera delivers 12x8 CV_8UC1 frames, 8-bit colour is needed\n");
  EXPECT_TRUE(viewer_.calls.empty());
}

TEST_F(CaptureLoopTest, LivePassesAllocateNothing) {
  RecordingViewer quietViewer(false);
  auto allocationsFor = [&](int passes) {
    std::vector<int> keys(passes - 1, kNone);
    keys.push_back('q');
    g_capture = frames_.makeSource();
    ScriptedKeys script(keysOf(keys));
    AllocationCounter counter;
    EXPECT_EQ(runCapture(script, quietViewer, settings_), kExitQuit);
    return counter.allocations();
  };

  EXPECT_EQ(allocationsFor(40), allocationsFor(2));
}

}  // namespace
}  // namespace fennock
