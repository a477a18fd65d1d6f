#include "core/working_folder.h"

#include "core/procedure.h"
#include "core/procedure_error.h"
#include "core/recording_viewer.h"
#include "core/test_support.h"
#include "generator/product_scene.h"
#include "storage/folder_lock.h"
#include "storage/test_support.h"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <string>

namespace tallen {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using storage::testing::folderContents;
using testing::ScopedWorkingDirectory;
using Contents = std::map<std::string, std::string>;

const cv::Size kPictureSize(320, 240);

cv::Mat goodPicture(double angle, cv::Point2d shift, unsigned seed) {
  return demo::drawProductPicture(kPictureSize, {angle, shift, demo::Defect::kNone, seed});
}

// Sets an environment variable for the guard's lifetime.
class ScopedVariable {
 public:
  ScopedVariable(const char* name, const char* value) : name_(name) {
    if (const char* old = ::getenv(name)) previous_ = old;
    ::setenv(name, value, 1);
  }
  ~ScopedVariable() {
    if (previous_) {
      ::setenv(name_, previous_->c_str(), 1);
    } else {
      ::unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::optional<std::string> previous_;
};

// A working folder with a template and a model of two good samples.
class WorkingFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    const cv::Size size = demo::templateSizeFor(kPictureSize);
    dir_.writeTemplateSize(size.width, size.height);
    run(goodPicture(0, {0, 0}, 1), kTemplateMode);
    run(goodPicture(12, {8, -5}, 2), 1);
    run(goodPicture(-9, {-6, 4}, 3), 2);
  }

  ProcedureResult run(const cv::Mat& picture, int mode) {
    RecordingViewer viewer;
    return processImage(picture, mode, viewer, Console{nullptr, nullptr});
  }

  static void restore(const Contents& contents) {
    for (const auto& entry : fs::directory_iterator(".")) fs::remove_all(entry.path());
    for (const auto& [name, bytes] : contents) storage::testing::writeText(name, bytes);
  }

  // The model record's clock stands still, so that two saves compare byte for byte.
  ScopedVariable fixedClock_{"SOURCE_DATE_EPOCH", "1700000000"};
  ScopedWorkingDirectory dir_;
};

struct CrashCase {
  const char* name;
  int mode;
};

class WorkingFolderCrash : public WorkingFolder, public ::testing::WithParamInterface<CrashCase> {};

// A call killed at any file operation of its save leaves, for the next call, either the whole
// previous set of working files or the whole new one, byte for byte, and no stray file.
TEST_P(WorkingFolderCrash, NextCallFindsTheWholeOldOrNewModel) {
  const cv::Mat picture = goodPicture(4, {3, 7}, 4);
  const cv::Mat inspected = goodPicture(7, {-4, -3}, 5);
  const auto call = [&] { run(picture, GetParam().mode); };
  const Contents before = folderContents(".");
  const std::vector<std::string> operations = storage::testing::recordOperations(call);
  const Contents after = folderContents(".");
  ASSERT_NE(after, before);

  bool sawNew = false;
  for (std::size_t k = 0; k < operations.size(); ++k) {
    SCOPED_TRACE("killed before " + operations[k]);
    restore(before);
    ASSERT_TRUE(storage::testing::killedAt(static_cast<int>(k), call));
    EXPECT_TRUE(run(inspected, kInspectMode).defectRatio.has_value());
    const Contents now = folderContents(".");
    EXPECT_TRUE(now == before || now == after) << ::testing::PrintToString(now).substr(0, 300);
    EXPECT_FALSE(sawNew && now == before) << "the new model was lost again";
    sawNew = sawNew || now == after;
  }
  EXPECT_TRUE(sawNew);
}

INSTANTIATE_TEST_SUITE_P(WorkingFolder, WorkingFolderCrash,
                         ::testing::ValuesIn(std::vector<CrashCase>{
                             {"template", kTemplateMode}, {"firstSample", 1}, {"nextSample", 3}}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(WorkingFolder, SecondWriterGivesUpAfterTheTimeoutAndChangesNothing) {
  storage::testing::Gate gate;
  const int other = storage::testing::startChild([&] {
    const storage::FolderLock lock(".", storage::LockMode::kExclusive);
    gate.arriveAndWait();
    return 0;
  });
  gate.awaitArrival();
  const Contents before = folderContents(".");
  const std::string busy = fs::current_path().string() +
                           ": in use by another program (gave up after waiting 0.2 s); nothing "
                           "was changed";
  for (int mode : {kTemplateMode, 3, kInspectMode}) {
    SCOPED_TRACE(mode);
    const ScopedVariable timeout(kLockTimeoutVariable, "0.2");
    try {
      run(goodPicture(4, {3, 7}, 4), mode);
      ADD_FAILURE() << "no error";
    } catch (const InspectionError& e) {
      EXPECT_EQ(std::string(e.what()), busy);
    }
  }
  EXPECT_EQ(folderContents("."), before);
  gate.open();
  EXPECT_EQ(storage::testing::waitChild(other), 0);
}

TEST_F(WorkingFolder, ABatchHoldsTheLockAroundItsCalls) {
  const WorkingFolderLock batch(WorkingFolderLock::Mode::kWrite, 0ms);
  run(goodPicture(4, {3, 7}, 4), 3);
  EXPECT_TRUE(run(goodPicture(7, {-4, -3}, 5), kInspectMode).defectRatio.has_value());
  const int other = storage::testing::startChild([] {
    try {
      const WorkingFolderLock lock(WorkingFolderLock::Mode::kRead, 0ms);
    } catch (const InspectionError&) {
      return 0;
    }
    return 1;
  });
  EXPECT_EQ(storage::testing::waitChild(other), 0) << "another program got in during the batch";
}

TEST_F(WorkingFolder, ReadOnlyFolderIsReportedWithTheSystemsReason) {
  fs::permissions(dir_.root(), fs::perms::owner_all | fs::perms::group_read |
                                   fs::perms::group_exec | fs::perms::others_read |
                                   fs::perms::others_exec);
  const fs::perms readOnly = fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                             fs::perms::group_exec | fs::perms::others_read |
                             fs::perms::others_exec;
  fs::permissions(".", readOnly);
  const Contents before = folderContents(".");
  const std::string registering = storage::testing::failureWithoutPrivileges([&] {
    run(goodPicture(4, {3, 7}, 4), 3);
  });
  const std::string inspecting = storage::testing::failureWithoutPrivileges([&] {
    run(goodPicture(7, {-4, -3}, 5), kInspectMode);
  });
  fs::permissions(".", fs::perms::owner_write, fs::perm_options::add);
  EXPECT_EQ(registering, fs::current_path().string() +
                             "/.kit.lock: cannot be opened to lock the folder (Permission "
                             "denied); nothing was changed");
  EXPECT_EQ(inspecting, "") << "a model on a read-only folder can still be inspected";
  EXPECT_EQ(folderContents("."), before);
}

struct TimeoutCase {
  const char* value;
  long milliseconds;  // -1: refused
};

class LockTimeoutSetting : public ::testing::TestWithParam<TimeoutCase> {};

TEST_P(LockTimeoutSetting, IsReadInSeconds) {
  const ScopedVariable variable(kLockTimeoutVariable, GetParam().value);
  if (GetParam().milliseconds < 0) {
    try {
      workingFolderLockTimeout();
      ADD_FAILURE() << "accepted";
    } catch (const InspectionError& e) {
      EXPECT_EQ(std::string(e.what()), std::string(kLockTimeoutVariable) + "=" + GetParam().value +
                                           ": not a number of seconds from 0 up");
    }
  } else {
    EXPECT_EQ(workingFolderLockTimeout().count(), GetParam().milliseconds);
  }
}

INSTANTIATE_TEST_SUITE_P(WorkingFolder, LockTimeoutSetting,
                         ::testing::ValuesIn(std::vector<TimeoutCase>{{"", 30000},
                                                                      {"0", 0},
                                                                      {"2.5", 2500},
                                                                      {"120", 120000},
                                                                      {"-1", -1},
                                                                      {"ten", -1},
                                                                      {"5s", -1},
                                                                      {"nan", -1},
                                                                      {"1e300", -1}}));

}  // namespace
}  // namespace tallen
