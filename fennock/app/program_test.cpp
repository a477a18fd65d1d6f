// Runs the real fennock binary on recorded sources that the test writes; no keys can be typed
// here, so each run ends by itself.
#include "app/command_line.h"
#include "core/test_support.h"

#include <gtest/gtest.h>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include <sys/wait.h>
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
  int frames;  // frames/0000.png .. written before the run
  int status;
  int learningLines;  // lines of the background collection on standard output, when out is null
  const char* out;    // the whole standard output
  const char* err;    // text the standard error must contain; "" for an empty one
};

void PrintTo(const ProgramCase& c, std::ostream* os) { *os << c.name; }

class Program : public ::testing::TestWithParam<ProgramCase> {
 protected:
  // Runs the binary in dir_ with `arguments`; returns its exit status.
  int run(const std::string& arguments) {
    const std::string command =
        "cd '" + dir_.path() + "' && '" FENNOCK_BINARY "' " + arguments + " >out.txt 2>err.txt";
    const int status = std::system(command.c_str());
    EXPECT_TRUE(WIFEXITED(status)) << command;
    return WEXITSTATUS(status);
  }

  void writeFrames(int count) {
    std::filesystem::create_directory(dir_.file("frames"));
    for (int i = 0; i < count; ++i) {
      cv::Mat frame(48, 64, CV_8UC3, cv::Scalar(100 + i % 2 * 4, 100, 100));
      char name[32];
      std::snprintf(name, sizeof name, "frames/%04d.png", i);
      ASSERT_TRUE(cv::imwrite(dir_.file(name), frame));
    }
  }

  TemporaryDirectory dir_;
};

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
     ""},
    {"MissingCamera", "--camera 63", 0, kNoCameraStatus, 0, "カメラが見つかりません\n", ""},
    {"Help", "--help", 0, 0, 0, kUsage, ""},
    {"UnknownOption", "--fast", 0, 2, 0, "", "fennock: unknown argument '--fast'\n\nUsage:"},
};

INSTANTIATE_TEST_SUITE_P(Fennock, Program, ::testing::ValuesIn(kProgramCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace fennock
