// Runs the real fennock binary on recorded sources that the test writes; no keys can be typed
// here, so each run ends by itself.
#include "app/command_line.h"
#include "core/test_support.h"

#include <gtest/gtest.h>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <string>

namespace fennock {
namespace {

using testing::TemporaryDirectory;

constexpr int kNoCameraStatus = 255;  // -1 as the shell sees it
constexpr int kSizeChange = 55;       // a frame of the live view after the 51 of the start

std::string contents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

int countLines(const std::string& text) {
  return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

struct ProgramCase {
  const char* name;
  const char* arguments;
  int frames;  // frames/0000.png .. written before the run; see writeFrames
  int status;
  int learningLines;  // lines of the background collection on standard output, when out is null
  const char* out;    // the whole standard output
  const char* err;    // text the standard error must contain; "" for an empty one
};

void PrintTo(const ProgramCase& c, std::ostream* os) { *os << c.name; }

class ProgramTest : public ::testing::Test {
 protected:
  // Runs the binary in dir_ with `arguments`, after the variable settings `environment`; returns
  // its exit status.
  int run(const std::string& arguments, const std::string& environment = "") {
    const std::string command = "cd '" + dir_.path() + "' && " + environment +
                                " '" FENNOCK_BINARY "' " + arguments + " >out.txt 2>err.txt";
    const int status = std::system(command.c_str());
    EXPECT_TRUE(WIFEXITED(status)) << command;
    return WEXITSTATUS(status);
  }

  // `count` frames of 64x48; for a negative count -count frames, those from kSizeChange on of
  // half the size.
  void writeFrames(int count) {
    std::filesystem::create_directory(dir_.file("frames"));
    const bool changing = count < 0;
    count = std::abs(count);
    for (int i = 0; i < count; ++i) {
      const bool small = changing && i >= kSizeChange;
      cv::Mat frame(small ? 24 : 48, small ? 32 : 64, CV_8UC3,
                    cv::Scalar(100 + i % 2 * 4, 100, 100));
      char name[32];
      std::snprintf(name, sizeof name, "frames/%04d.png", i);
      ASSERT_TRUE(cv::imwrite(dir_.file(name), frame));
    }
  }

  TemporaryDirectory dir_;
};

class Program : public ProgramTest, public ::testing::WithParamInterface<ProgramCase> {};

TEST_P(Program, EndsWithItsStatusAndMessages) {
  const ProgramCase& c = GetParam();
  writeFrames(c.frames);

  EXPECT_EQ(run(c.arguments), c.status);

  const std::string out = contents(dir_.file("out.txt"));
  const std::string err = contents(dir_.file("err.txt"));
  if (c.out != nullptr) {
    EXPECT_EQ(out, c.out);
  } else {
    EXPECT_EQ(countLines(out), c.learningLines);
    EXPECT_EQ(out.rfind("背景取得中...\n50 枚中 1 枚目\n", 0), 0u) << out;
  }
  if (*c.err == '\0') {
    EXPECT_EQ(err, "");
  } else {
    EXPECT_NE(err.find(c.err), std::string::npos) << err;
  }
  EXPECT_FALSE(std::filesystem::exists(dir_.file("good_1.jpg")));
}

const ProgramCase kProgramCases[] = {
    {"RecordedSourceRunsOut", "--source=frames/%04d.png", 60, 1, 52, nullptr,
     "fennock: the camera stopped delivering frames in the live view; ending the run\n"},
    {"RecordedSourceTooShortToLearn", "--source 'frames/%04d.png'", 30, 1, 30, nullptr,
     "while learning the background; ending the run\n"},
    {"MissingSource", "--source missing.avi", 0, kNoCameraStatus, 0, "カメラが見つかりません\n",
     "fennock: cannot open the source missing.avi: No such file or directory\n"},
    {"SourceIsAFolder", "--source frames", 1, kNoCameraStatus, 0, "カメラが見つかりません\n",
     "fennock: cannot open the source frames: it is a directory\n"},
    {"MissingSequence", "--source 'none/%04d.png'", 0, kNoCameraStatus, 0,
     "カメラが見つかりません\n",
     "fennock: cannot open the source none/%04d.png: no frame of the image sequence can be read\n"},
    {"FrameSizeChangesMidway", "--source 'frames/%04d.png'", -60, 1, 52, nullptr,
     "fennock: the camera delivered a frame of 32x24 CV_8UC3 instead of 64x48 CV_8UC3 in the "
     "live view; ending the run\n"},
    {"MissingCamera", "--camera 63", 0, kNoCameraStatus, 0, "カメラが見つかりません\n", ""},
    {"Help", "--help", 0, 0, 0, kUsage, ""},
    {"Version", "--version", 0, 0, 0, "fennock " KIT_VERSION "\n", ""},
    {"UnknownOption", "--fast", 0, 2, 0, "",
     "fennock: unknown argument '--fast'\nTry 'fennock --help' for more information.\n"},
    {"OutputInTheWay", "--source=frames/%04d.png --output frames/0000.png", 60, 1, 0, "",
     "fennock: cannot use frames/0000.png as the output folder: Not a directory\n"},
};

INSTANTIATE_TEST_SUITE_P(Fennock, Program, ::testing::ValuesIn(kProgramCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Without a display Qt aborts when the application is made; the program says so first. --help
// and --version need none (the manual pages are made from them on a build machine).
TEST_F(ProgramTest, NoDisplayIsOneLineAndStatusOne) {
  writeFrames(60);
  for (const char* environment :
       {"env -u DISPLAY -u QT_QPA_PLATFORM", "DISPLAY= QT_QPA_PLATFORM=xcb",
        "DISPLAY=:987 QT_QPA_PLATFORM=xcb", "QT_QPA_PLATFORM=wayland XDG_RUNTIME_DIR=."}) {
    for (const char* arguments : {"", "--source frames/%04d.png"}) {
      SCOPED_TRACE(std::string(environment) + " " + arguments);
      EXPECT_EQ(run(arguments, environment), 1);
      EXPECT_EQ(contents(dir_.file("out.txt")), "");
      EXPECT_EQ(contents(dir_.file("err.txt")),
                "fennock: no display: set DISPLAY, or QT_QPA_PLATFORM=offscreen for a run "
                "without windows\n");
    }
    EXPECT_EQ(run("--help", environment), 0);
    EXPECT_EQ(contents(dir_.file("out.txt")), kUsage);
    EXPECT_EQ(run("--version", environment), 0);
  }
}

// Progress reaches a pipe line by line. The recorded source lasts thousands of frames of live
// view after the background is learnt (each at least one millisecond of event loop), so the
// program still runs a good while after the last learning line; lines held back in a buffer
// would arrive only as it ends. It is killed there.
TEST_F(ProgramTest, ProgressReachesAPipeBeforeTheEnd) {
  constexpr int kStartFrames = 51;  // the first frame and the 50 of the background
  constexpr int kLiveFrames = 3000;
  constexpr int kPatienceMs = 60000;
  constexpr useconds_t kAfterLinesUs = 500000;  // far less than the live view's 3000 frames
  writeFrames(kStartFrames + kLiveFrames);

  int output[2];
  ASSERT_EQ(::pipe(output), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::dup2(output[1], STDOUT_FILENO);
    ::close(output[0]);
    ::close(output[1]);
    if (::chdir(dir_.path().c_str()) != 0) ::_exit(127);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ::execl(FENNOCK_BINARY, FENNOCK_BINARY, "--source", "frames/%04d.png",
            static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(output[1]);

  const std::string last = "背景取得完了\n";
  std::string received;
  char buffer[4096];
  while (received.size() < last.size() ||
         received.compare(received.size() - last.size(), last.size(), last) != 0) {
    pollfd ready{output[0], POLLIN, 0};
    if (::poll(&ready, 1, kPatienceMs) <= 0) break;
    const ssize_t n = ::read(output[0], buffer, sizeof buffer);
    if (n <= 0) break;  // the program ended without the line
    received.append(buffer, static_cast<std::size_t>(n));
  }
  ::usleep(kAfterLinesUs);
  const bool stillRunning = ::waitpid(child, nullptr, WNOHANG) == 0;
  ::kill(child, SIGKILL);
  ::waitpid(child, nullptr, 0);
  ::close(output[0]);

  EXPECT_TRUE(stillRunning) << "the lines came only when the program ended";
  EXPECT_EQ(countLines(received), kStartFrames + 1) << received;
  EXPECT_EQ(received.rfind("背景取得中...\n", 0), 0u) << received;
}

}  // namespace
}  // namespace fennock
