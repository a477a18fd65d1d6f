#include "storage/folder_lock.h"

#include "storage/storage_error.h"
#include "storage/test_support.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <string>
#include <thread>

namespace storage {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::Gate;
using testing::ScratchFolder;

constexpr std::chrono::milliseconds kShort = 200ms;

// A child process that holds `folder`'s lock in `mode` until the gate opens.
class OtherProgram {
 public:
  OtherProgram(const std::string& folder, LockMode mode) {
    pid_ = testing::startChild([&, folder, mode] {
      const FolderLock lock(folder, mode);
      gate_.arriveAndWait();
      return 0;
    });
    gate_.awaitArrival();
  }
  ~OtherProgram() { release(); }
  void release() {
    if (pid_ < 0) return;
    gate_.open();
    EXPECT_EQ(testing::waitChild(pid_), 0);
    pid_ = -1;
  }

 private:
  Gate gate_;
  int pid_ = -1;
};

std::string lockFailure(const std::string& folder, LockMode mode,
                        std::chrono::milliseconds timeout = kShort) {
  try {
    const FolderLock lock(folder, mode, timeout);
  } catch (const StorageError& e) {
    return e.what();
  }
  return "";
}

TEST(FolderLock, GivesUpAfterTheTimeoutNamingTheFolder) {
  ScratchFolder folder;
  const std::string canonical = fs::canonical(folder.path());
  const std::string busy = canonical + ": in use by another program (gave up after waiting 0.2 s)";
  {
    OtherProgram writer(folder.path(), LockMode::kExclusive);
    EXPECT_EQ(lockFailure(folder.path(), LockMode::kExclusive), busy);
    EXPECT_EQ(lockFailure(folder.path(), LockMode::kShared), busy);
  }
  {
    OtherProgram reader(folder.path(), LockMode::kShared);
    EXPECT_EQ(lockFailure(folder.path(), LockMode::kShared), "");
    EXPECT_EQ(lockFailure(folder.path(), LockMode::kExclusive), busy);
  }
  EXPECT_EQ(lockFailure(folder.path(), LockMode::kExclusive, 0ms), "");
}

TEST(FolderLock, SecondWriterWaitsForTheFirst) {
  ScratchFolder folder;
  OtherProgram writer(folder.path(), LockMode::kExclusive);
  auto second = std::async(std::launch::async, [&] {
    const FolderLock lock(folder.path(), LockMode::kExclusive, 20s);
    return true;
  });
  EXPECT_EQ(second.wait_for(300ms), std::future_status::timeout);
  writer.release();
  EXPECT_TRUE(second.get());
}

TEST(FolderLock, NestedLocksOfOneThreadShareTheHeldOne) {
  ScratchFolder folder;
  {
    const FolderLock outer(folder.path(), LockMode::kExclusive, 0ms);
    const FolderLock again(folder.path() + "/.", LockMode::kExclusive, 0ms);
    const FolderLock weaker(folder.path(), LockMode::kShared, 0ms);
    EXPECT_EQ(weaker.mode(), LockMode::kExclusive);
    EXPECT_TRUE(holdsFolderLock(folder.path(), LockMode::kExclusive));
    // Another thread does not share it.
    auto other = std::async(std::launch::async,
                            [&] { return lockFailure(folder.path(), LockMode::kShared, 50ms); });
    EXPECT_NE(other.get(), "");
  }
  EXPECT_FALSE(holdsFolderLock(folder.path(), LockMode::kShared));
  {
    const FolderLock reading(folder.path(), LockMode::kShared, 0ms);
    const FolderLock again(folder.path(), LockMode::kShared, 0ms);
    EXPECT_NE(lockFailure(folder.path(), LockMode::kExclusive, 0ms).find("for reading"),
              std::string::npos);
    auto other = std::async(std::launch::async,
                            [&] { return lockFailure(folder.path(), LockMode::kShared, 0ms); });
    EXPECT_EQ(other.get(), "");
  }
  // Everything released: another process gets it at once.
  const int pid = testing::startChild(
      [&] { return lockFailure(folder.path(), LockMode::kExclusive, 0ms).empty() ? 0 : 1; });
  EXPECT_EQ(testing::waitChild(pid), 0);
  EXPECT_TRUE(testing::folderContents(folder.path()).empty()) << "the lock file stayed";
}

TEST(FolderLock, ThreadsWaitForEachOther) {
  ScratchFolder folder;
  auto writer = std::make_unique<FolderLock>(folder.path(), LockMode::kExclusive);
  auto reader = std::async(std::launch::async, [&] {
    const FolderLock lock(folder.path(), LockMode::kShared, 20s);
    return true;
  });
  EXPECT_EQ(reader.wait_for(200ms), std::future_status::timeout);
  writer.reset();
  EXPECT_TRUE(reader.get());
}

TEST(FolderLock, PlantedLinkAtTheLockFileIsRefused) {
  ScratchFolder folder;
  ScratchFolder elsewhere;
  testing::writeText(elsewhere.file("victim"), "precious");
  fs::create_symlink(elsewhere.file("victim"), folder.file(kLockFileName));
  const std::string message = lockFailure(folder.path(), LockMode::kExclusive);
  EXPECT_NE(message.find(std::string(kLockFileName) +
                         ": cannot be opened to lock the folder (not a regular file)"),
            std::string::npos)
      << message;
  EXPECT_EQ(testing::fileText(elsewhere.file("victim")), "precious");
}

TEST(FolderLock, ReadOnlyFolder) {
  ScratchFolder folder;
  fs::permissions(folder.path(), fs::perms::owner_read | fs::perms::owner_exec |
                                     fs::perms::group_read | fs::perms::group_exec |
                                     fs::perms::others_read | fs::perms::others_exec);
  const std::string canonical = fs::canonical(folder.path());
  // Nobody can write there, so readers go without the lock file; a writer is told why not.
  EXPECT_EQ(testing::failureWithoutPrivileges(
                [&] { const FolderLock lock(folder.path(), LockMode::kShared, 0ms); }),
            "");
  EXPECT_EQ(testing::failureWithoutPrivileges(
                [&] { const FolderLock lock(folder.path(), LockMode::kExclusive, 0ms); }),
            canonical + "/" + kLockFileName +
                ": cannot be opened to lock the folder (Permission denied)");
}

}  // namespace
}  // namespace storage
