// Drives `tallen inspect --watch` as a line would: pictures arrive while it runs, SIGTERM ends it.
#include "cli/cli_test_support.h"
#include "cli/watch_test_support.h"
#include "generator/demo_set.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace tallen {
namespace {

namespace fs = std::filesystem;
using cli_testing::InspectionArea;
using cli_testing::readFile;
using namespace watch_testing;
using namespace std::chrono_literals;

constexpr int kSlowChunks = 8;
constexpr auto kSlowPause = 50ms;
constexpr auto kPollInterval = 20ms;
constexpr char kTemplateName[] = "templImage.jpg";

std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);) lines.push_back(line);
  return lines;
}

// The program watching a folder, started in the area's working directory with its standard
// output and error in files. Killed if a test leaves it running.
class WatchingProgram {
 public:
  WatchingProgram(const InspectionArea& area, const std::vector<std::string>& arguments)
      : out_(area.path("watch_stdout.txt")), err_(area.path("watch_stderr.txt")) {
    std::vector<std::string> argv = {"tallen"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    std::vector<char*> pointers;
    for (std::string& argument : argv) pointers.push_back(argument.data());
    pointers.push_back(nullptr);
    const std::string work = area.work();
    pid_ = ::fork();
    if (pid_ == 0) {
      const int out = ::open(out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      const int err = ::open(err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (out < 0 || err < 0 || ::dup2(out, 1) < 0 || ::dup2(err, 2) < 0 ||
          ::chdir(work.c_str()) != 0) {
        ::_exit(127);
      }
      ::execv(TALLEN_PROGRAM, pointers.data());
      ::_exit(127);
    }
  }

  ~WatchingProgram() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }

  // Standard output once it holds `count` lines, or as it is after kPatience.
  std::vector<std::string> awaitLines(size_t count) const {
    return linesOf(
        await(out_, [&](const std::string& text) { return linesOf(text).size() >= count; }));
  }

  // Standard output once it holds `part`, or as it is after kPatience.
  std::string awaitOutput(const std::string& part) const { return awaitText(out_, part); }

  // Standard error once it holds `part`, or as it is after kPatience.
  std::string awaitError(const std::string& part) const { return awaitText(err_, part); }

  // Sends SIGTERM and returns the exit status, or -1 when it did not exit by itself in time.
  int terminate() {
    ::kill(pid_, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    int raw = 0;
    while (std::chrono::steady_clock::now() < deadline) {
      if (::waitpid(pid_, &raw, WNOHANG) == pid_) {
        pid_ = -1;
        return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
      }
      std::this_thread::sleep_for(kPollInterval);
    }
    return -1;
  }

  std::string out() const { return readFile(out_).value_or(""); }
  std::string err() const { return readFile(err_).value_or(""); }

 private:
  // Leaves an ended program to be reaped by terminate().
  bool running() const {
    siginfo_t info = {};
    return pid_ > 0 && ::waitid(P_PID, pid_, &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
           info.si_pid == 0;
  }

  // The file's text once `done` holds for it, the program ended, or kPatience passed.
  template <typename Done>
  std::string await(const std::string& file, Done done) const {
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    std::string text;
    while (!done(text = readFile(file).value_or("")) &&
           std::chrono::steady_clock::now() < deadline && running()) {
      std::this_thread::sleep_for(kPollInterval);
    }
    return readFile(file).value_or("");
  }

  std::string awaitText(const std::string& file, const std::string& part) const {
    return await(file,
                 [&](const std::string& text) { return text.find(part) != std::string::npos; });
  }

  std::string out_;
  std::string err_;
  pid_t pid_ = -1;
};

class WatchProgram : public ::testing::Test {
 protected:
  WatchProgram() : incoming_(area_.path("incoming")) {
    const std::vector<demo::NamedShot> goods = demo::goodSamples();
    for (size_t i = 0; i < 3; ++i) area_.writePicture(goods[i].name, goods[i].shot);
    for (const demo::NamedShot& shot : demo::inspectionPictures()) {
      area_.writePicture(shot.name, shot.shot);
    }
    fs::create_directory(incoming_);
    fs::create_directory(area_.path("staging"));
  }

  // Runs the program to the end in the working directory; its status.
  int runToEnd(const std::string& arguments) const {
    const std::string command =
        "cd '" + area_.work() + "' && '" TALLEN_PROGRAM "' " + arguments + " >/dev/null 2>&1";
    const int raw = std::system(command.c_str());
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  }

  void makeModel() const {
    ASSERT_EQ(runToEnd("template ../pictures/good_1.jpg"), 0);
    ASSERT_EQ(runToEnd("register ../pictures/good_1.jpg ../pictures/good_2.jpg "
                       "../pictures/good_3.jpg"),
              0);
  }

  // The defect ratio text of a picture inspected the ordinary way.
  std::string ratioOf(const std::string& picture) const {
    const std::string out = area_.path("reference.txt");
    const std::string command = "cd '" + area_.work() +
                                "' && '" TALLEN_PROGRAM "' --quiet inspect '" + picture + "' >'" +
                                out + "'";
    if (std::system(command.c_str()) != 0) return "<failed>";
    const std::string line = readFile(out).value_or("");
    return line.substr(0, line.find('\t'));
  }

  std::string picture(const std::string& name) const {
    return readFile(area_.path("pictures/" + name + ".jpg")).value();
  }

  InspectionArea area_;
  std::string incoming_;
};

TEST_F(WatchProgram, InspectsArrivingPicturesUntilTerminated) {
  makeModel();
  std::map<std::string, std::string> expected;
  for (const char* name : {"check_good_1", "check_blob", "check_scratch"}) {
    expected[name] = ratioOf("../pictures/" + std::string(name) + ".jpg");
  }
  writeWhole(incoming_ + "/check_good_1.jpg", picture("check_good_1"));

  WatchingProgram program(area_,
                          {"--quiet", "inspect", "--watch", "../incoming", "--map", "../maps"});
  std::vector<std::string> lines = program.awaitLines(1);
  ASSERT_EQ(lines.size(), 1u) << program.err();
  EXPECT_EQ(lines[0], expected["check_good_1"] + "\t../incoming/check_good_1.jpg");

  // A slow copy: taken half-written, the picture would not decode or give another ratio.
  writeInChunks(incoming_ + "/check_blob.jpg", picture("check_blob"), kSlowChunks, kSlowPause);
  lines = program.awaitLines(2);
  ASSERT_EQ(lines.size(), 2u) << program.err();
  EXPECT_EQ(lines[1], expected["check_blob"] + "\t../incoming/check_blob.jpg");

  // Neither a note nor a writer's temporary file is a picture; a rename in is.
  writeWhole(incoming_ + "/notes.txt", "shift 2\n");
  writeWhole(incoming_ + "/.check_scratch.jpg.part", picture("check_scratch").substr(0, 1000));
  writeWhole(area_.path("staging/check_scratch.jpg"), picture("check_scratch"));
  fs::rename(area_.path("staging/check_scratch.jpg"), incoming_ + "/check_scratch.jpg");
  lines = program.awaitLines(3);
  ASSERT_EQ(lines.size(), 3u) << program.err();
  EXPECT_EQ(lines[2], expected["check_scratch"] + "\t../incoming/check_scratch.jpg");

  EXPECT_EQ(program.terminate(), 0);
  EXPECT_EQ(linesOf(program.out()).size(), 3u);
  EXPECT_EQ(program.err(), "");
  for (const char* name : {"check_good_1", "check_blob", "check_scratch"}) {
    EXPECT_TRUE(fs::exists(area_.path("maps/" + std::string(name) + "_defects.png"))) << name;
  }
}

TEST_F(WatchProgram, GoesOnAfterAFailedPictureAndUsesAModelRegisteredMeanwhile) {
  WatchingProgram program(area_, {"inspect", "--watch", "../incoming", "--new-only"});
  // With --new-only a picture must come after the watch started.
  ASSERT_NE(program.awaitError("tallen: watching ../incoming").find("watching"), std::string::npos);
  writeWhole(incoming_ + "/check_good_1.jpg", picture("check_good_1"));
  const std::string err = program.awaitError("skipped)\n");
  EXPECT_NE(err.find("tallen: error: ../incoming/check_good_1.jpg: " + std::string(kTemplateName)),
            std::string::npos)
      << err;
  EXPECT_NE(err.find("(../incoming/check_good_1.jpg skipped)"), std::string::npos) << err;

  makeModel();
  writeWhole(incoming_ + "/check_good_2.jpg", picture("check_good_2"));
  const std::string line = "\t../incoming/check_good_2.jpg\n";
  const std::string out = program.awaitOutput(line);
  // Without --quiet the trace lines come first.
  EXPECT_NE(out.find("\n" + ratioOf("../pictures/check_good_2.jpg") + line), std::string::npos)
      << out;
  EXPECT_EQ(program.terminate(), 0);
  EXPECT_EQ(program.out(), out);  // nothing after
}

TEST_F(WatchProgram, ExitsWithAnErrorForWhatItCannotWatch) {
  EXPECT_EQ(runToEnd("inspect --watch ../incoming --map ../incoming/"), 1);
  EXPECT_EQ(runToEnd("inspect --watch ../none"), 1);
  EXPECT_EQ(runToEnd("inspect --watch ../incoming ../pictures/check_good_1.jpg"), 2);
}

}  // namespace
}  // namespace tallen
