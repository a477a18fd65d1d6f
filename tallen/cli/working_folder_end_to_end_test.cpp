// Drives the real program as two scripts on one line PC would: at the same time, on one folder.
#include "cli/cli_test_support.h"
#include "generator/demo_set.h"
#include "storage/folder_lock.h"
#include "storage/test_support.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace tallen {
namespace {

namespace fs = std::filesystem;
using cli_testing::InspectionArea;
using cli_testing::readFile;
using storage::testing::folderContents;
using Contents = std::map<std::string, std::string>;

constexpr int kTrials = 4;

// A shell command that runs the program in the working folder with `arguments`, its standard
// error into root/<tag>.err and its exit status into root/<tag>.status. The clock of the model
// record is fixed, so that runs compare byte for byte.
std::string programCommand(const InspectionArea& area, const std::string& arguments,
                           const std::string& tag, const std::string& wrapper = "") {
  return "{ cd '" + area.work() + "' && SOURCE_DATE_EPOCH=1700000000 " + wrapper + "'" TALLEN_PROGRAM "' " + arguments +
         " >/dev/null 2>'" + area.path(tag + ".err") + "'; echo $? >'" +
         area.path(tag + ".status") + "'; }";
}

void runShell(const std::string& command) {
  const int raw = std::system(command.c_str());
  ASSERT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 0) << command;
}

class ProgramWorkingFolder : public ::testing::Test {
 protected:
  ProgramWorkingFolder() {
    const std::vector<demo::NamedShot> goods = demo::goodSamples();
    for (size_t i = 0; i < 3; ++i) area_.writePicture(goods[i].name, goods[i].shot);
  }

  void run(const std::string& arguments) {
    runShell(programCommand(area_, arguments, "run"));
    EXPECT_EQ(readFile(area_.path("run.status")), "0\n")
        << readFile(area_.path("run.err"))->c_str();
  }

  void restore(const Contents& contents) const {
    for (const auto& entry : fs::directory_iterator(area_.work())) fs::remove_all(entry.path());
    for (const auto& [name, bytes] : contents) area_.writeFile("work/" + name, bytes);
  }

  InspectionArea area_;
};

// Two registrations started together: each waits for the other, so the model is the one that
// the two give one after the other, in either order; no sample is lost, no pair is mixed.
TEST_F(ProgramWorkingFolder, TwoRegistrationsAtOnceLoseNoSampleAndNeverMixThePair) {
  const std::string first = "register --start 2 ../pictures/good_2.jpg";
  const std::string second = "register --start 3 ../pictures/good_3.jpg";
  run("template ../pictures/good_1.jpg");
  run("register ../pictures/good_1.jpg");
  const Contents base = folderContents(area_.work());
  run(first);
  run(second);
  const Contents firstThenSecond = folderContents(area_.work());
  restore(base);
  run(second);
  run(first);
  const Contents secondThenFirst = folderContents(area_.work());
  ASSERT_NE(firstThenSecond, secondThenFirst);

  for (int trial = 0; trial < kTrials; ++trial) {
    SCOPED_TRACE(trial);
    restore(base);
    runShell(programCommand(area_, first, "a") + " & " + programCommand(area_, second, "b") +
             " & wait");
    EXPECT_EQ(readFile(area_.path("a.status")), "0\n") << readFile(area_.path("a.err"))->c_str();
    EXPECT_EQ(readFile(area_.path("b.status")), "0\n") << readFile(area_.path("b.err"))->c_str();
    const Contents now = folderContents(area_.work());
    EXPECT_TRUE(now == firstThenSecond || now == secondThenFirst);
  }
}

TEST_F(ProgramWorkingFolder, WriterGivesUpAfterTheTimeoutWithAClearErrorAndChangesNothing) {
  run("template ../pictures/good_1.jpg");
  const auto before = area_.snapshot();
  {
    const storage::FolderLock other(area_.work(), storage::LockMode::kExclusive);
    runShell(
        programCommand(area_, "register ../pictures/good_1.jpg ../pictures/good_2.jpg", "timeout")
            .insert(1, " export TALLEN_LOCK_TIMEOUT=0.3;"));
  }
  EXPECT_EQ(readFile(area_.path("timeout.status")), "1\n");
  EXPECT_EQ(readFile(area_.path("timeout.err")),
            "tallen: error: " + fs::canonical(area_.work()).string() +
                ": in use by another program (gave up after waiting 0.3 s); nothing was "
                "changed\n");
  for (const char* tag : {"timeout.status", "timeout.err"}) fs::remove(area_.path(tag));
  EXPECT_EQ(area_.snapshot(), before);
}

bool haveStrace() { return std::system("strace -V >/dev/null 2>&1") == 0; }

// The system calls at which the real program is killed, each in turn at every call it makes.
struct KillCalls {
  const char* name;
  const char* calls;
};

class ProgramKilled : public ProgramWorkingFolder,
                      public ::testing::WithParamInterface<KillCalls> {};

// The program killed at its n-th such call, for every n: the next call finds the whole previous
// model or the whole new one, byte for byte, and leaves nothing else.
TEST_P(ProgramKilled, NextCallFindsTheWholeOldOrNewModel) {
  if (!haveStrace()) GTEST_SKIP() << "strace is not installed";
  constexpr int kMaxCalls = 40;
  const std::string registration = "register --start 3 ../pictures/good_3.jpg";
  run("template ../pictures/good_1.jpg");
  run("register ../pictures/good_1.jpg ../pictures/good_2.jpg");
  const Contents before = folderContents(area_.work());
  run(registration);
  const Contents after = folderContents(area_.work());

  int kills = 0;
  bool finished = false;
  for (int n = 1; n <= kMaxCalls && !finished; ++n) {
    SCOPED_TRACE(std::string(GetParam().calls) + " number " + std::to_string(n));
    restore(before);
    const std::string strace = std::string("strace -f -qq -o /dev/null -e trace=") +
                               GetParam().calls + " -e inject=" + GetParam().calls +
                               ":signal=SIGKILL:when=" + std::to_string(n) + " ";
    runShell(programCommand(area_, registration, "killed", strace));
    const auto status = readFile(area_.path("killed.status"));
    finished = status == "0\n";
    if (!finished) {
      ASSERT_EQ(status, "137\n") << readFile(area_.path("killed.err"))->c_str();
      ++kills;
    }
    run("--quiet inspect ../pictures/good_1.jpg");
    const Contents now = folderContents(area_.work());
    EXPECT_TRUE(now == before || now == after) << "files: " << now.size();
    if (finished) EXPECT_EQ(now, after);
  }
  EXPECT_TRUE(finished);
  EXPECT_GT(kills, 0);
}

INSTANTIATE_TEST_SUITE_P(ProgramWorkingFolder, ProgramKilled,
                         ::testing::ValuesIn(std::vector<KillCalls>{
                             {"rename", "rename,renameat,renameat2"},
                             {"fsync", "fsync,fdatasync"},
                             {"unlink", "unlink,unlinkat"},
                             {"flock", "flock"}}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tallen
