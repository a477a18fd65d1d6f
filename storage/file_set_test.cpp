#include "storage/file_set.h"

#include "storage/fault_injection.h"
#include "storage/file_operations.h"
#include "storage/folder_lock.h"
#include "storage/storage_error.h"
#include "storage/test_support.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace storage {
namespace {

namespace fs = std::filesystem;
using testing::bytesOf;
using testing::fileText;
using testing::folderContents;
using testing::ScratchFolder;
using testing::writeText;
using Contents = std::map<std::string, std::string>;

// A save of a set of files, from `before` (missing names: no previous file) to `after`.
struct SetCase {
  const char* name;
  Contents before;
  Contents after;
};

std::vector<FileContents> filesOf(const ScratchFolder& folder, const Contents& contents) {
  std::vector<FileContents> files;
  for (const auto& [name, text] : contents) files.push_back({folder.file(name), bytesOf(text)});
  return files;
}

void lay(const ScratchFolder& folder, const Contents& contents) {
  for (const auto& entry : fs::directory_iterator(folder.path())) fs::remove_all(entry.path());
  for (const auto& [name, text] : contents) writeText(folder.file(name), text);
}

class FileSetCrash : public ::testing::TestWithParam<SetCase> {};

// Killed at every file operation in turn, a save leaves after recovery either the whole previous
// set or the whole new one, byte for byte, and nothing else.
TEST_P(FileSetCrash, LeavesTheOldOrTheNewSetAfterRecovery) {
  const SetCase& c = GetParam();
  ScratchFolder folder;
  const auto save = [&] { replaceFiles(filesOf(folder, c.after)); };
  lay(folder, c.before);
  const std::vector<std::string> operations = testing::recordOperations(save);
  ASSERT_EQ(folderContents(folder.path()), c.after);

  bool sawNew = false;
  for (std::size_t k = 0; k < operations.size(); ++k) {
    SCOPED_TRACE("killed before operation " + std::to_string(k) + ": " + operations[k]);
    lay(folder, c.before);
    ASSERT_TRUE(testing::killedAt(static_cast<int>(k), save));
    recoverFolder(folder.path());
    const Contents now = folderContents(folder.path());
    EXPECT_TRUE(now == c.before || now == c.after) << ::testing::PrintToString(now);
    EXPECT_FALSE(sawNew && now == c.before) << "the new set was lost again";
    sawNew = sawNew || now == c.after;
    // The next save of a live program goes through whatever was left.
    save();
    EXPECT_EQ(folderContents(folder.path()), c.after);
  }
  EXPECT_TRUE(sawNew);
}

// The same when an operation fails instead (a full disk, an I/O error): the call reports it and,
// after the next call's recovery, the folder holds one whole set.
TEST_P(FileSetCrash, FailingAtAnyOperationReportsAndLeavesOneWholeSet) {
  const SetCase& c = GetParam();
  ScratchFolder folder;
  const auto save = [&] { replaceFiles(filesOf(folder, c.after)); };
  lay(folder, c.before);
  const std::size_t count = testing::recordOperations(save).size();
  for (std::size_t k = 0; k < count; ++k) {
    SCOPED_TRACE("failing operation " + std::to_string(k));
    lay(folder, c.before);
    std::size_t seen = 0;
    setFaultHook([&](FileOperation, const std::string&) { return seen++ == k ? ENOSPC : 0; });
    std::string message;
    try {
      save();
    } catch (const StorageError& e) {
      message = e.what();
    }
    setFaultHook(nullptr);
    // A failed removal of the finished journal or a failed last folder sync still replaced all.
    if (!message.empty()) {
      EXPECT_NE(message.find("(No space left on device)"), std::string::npos) << message;
    }
    recoverFolder(folder.path());
    const Contents now = folderContents(folder.path());
    EXPECT_TRUE(now == c.before || now == c.after) << ::testing::PrintToString(now);
  }
}

const SetCase kSetCases[] = {
    {"template", {{"templImage.jpg", "old template"}}, {{"templImage.jpg", "new template"}}},
    {"pair",
     {{"gdaccnumI.jpg", "old mean"}, {"gdThresholdImageI.jpg", "old threshold"}},
     {{"gdaccnumI.jpg", "new mean"}, {"gdThresholdImageI.jpg", "new threshold"}}},
    {"firstPair", {}, {{"gdaccnumI.jpg", "mean"}, {"gdThresholdImageI.jpg", "threshold"}}},
    {"fourFiles",
     {{"a", "a1"}, {"b", "b1"}, {"c", "c1"}, {"d", "d1"}},
     {{"a", "a2"}, {"b", ""}, {"c", "c2"}, {"d", "d2 longer"}}},
};

INSTANTIATE_TEST_SUITE_P(FileSet, FileSetCrash, ::testing::ValuesIn(kSetCases),
                         [](const auto& info) { return std::string(info.param.name); });

// A crash of the machine (not just of the program) must not lose what a rename made visible:
// every file is on disk before it replaces the old one, every temporary's name before the
// journal that names it, and the journal before the first rename.
TEST(FileSet, MakesEachStepDurableBeforeTheNext) {
  ScratchFolder folder;
  const std::vector<std::string> ops = testing::recordOperations([&] {
    replaceFiles({{folder.file("a"), bytesOf("1")}, {folder.file("b"), bytesOf("2")}});
  });
  const auto first = [&](const std::string& prefix, std::size_t from = 0) {
    for (std::size_t i = from; i < ops.size(); ++i) {
      if (ops[i].rfind(prefix, 0) == 0) return i;
    }
    return ops.size();
  };
  const std::string journal = folder.file(kJournalFileName);
  const std::size_t commit = first("rename " + journal);
  const std::size_t firstRename = first("rename " + folder.file(""));
  ASSERT_LT(commit, ops.size()) << ::testing::PrintToString(ops);
  EXPECT_EQ(firstRename, commit) << "a file was replaced before the commit";
  EXPECT_LT(first("sync folder " + folder.path()), commit);
  const std::size_t afterCommit = first("sync folder " + folder.path(), commit);
  EXPECT_LT(afterCommit, first("rename " + folder.file("a"))) << "the commit is not durable";
  for (std::size_t i = 0; i < commit; ++i) {
    if (ops[i].rfind("create ", 0) != 0) continue;
    const std::string temporary = ops[i].substr(7);
    EXPECT_LT(first("sync file " + temporary), commit) << temporary;
  }
  const std::size_t lastRename = first("rename " + folder.file("b"));
  EXPECT_LT(first("sync folder " + folder.path(), lastRename), first("remove " + journal));
}

TEST(FileSet, JournalThatNamesForeignFilesIsRefusedAndMovesNothing) {
  ScratchFolder folder;
  ScratchFolder elsewhere;
  writeText(elsewhere.file("victim"), "precious");
  writeText(folder.file("a.jpg"), "old a");
  writeText(folder.file("notes.txt"), "the operator's");
  const std::string lines[] = {
      "notes.txt\ta.jpg\n",
      ".a.jpg.abcdef.tmp\t../victim\n",
      ".b.jpg.abcdef.tmp\ta.jpg\n",
      "garbage",
  };
  for (const std::string& line : lines) {
    SCOPED_TRACE(line);
    writeText(folder.file(".b.jpg.abcdef.tmp"), "planted");
    writeText(folder.file(kJournalFileName), std::string("kit file set 1\n") + line + "end\n");
    const Contents before = folderContents(folder.path());
    try {
      recoverFolder(folder.path());
      ADD_FAILURE() << "a foreign journal was followed";
    } catch (const StorageError& e) {
      EXPECT_EQ(e.path(), folder.file(kJournalFileName));
    }
    EXPECT_EQ(folderContents(folder.path()), before);
  }
  EXPECT_EQ(fileText(elsewhere.file("victim")), "precious");
}

TEST(FileSet, FilesOfOneSetMustShareTheirFolder) {
  ScratchFolder folder;
  fs::create_directory(folder.file("sub"));
  EXPECT_THROW(
      replaceFiles({{folder.file("a"), bytesOf("1")}, {folder.file("sub/b"), bytesOf("2")}}),
      StorageError);
  EXPECT_THROW(replaceFiles({{folder.file("a"), bytesOf("1")}, {folder.file("a"), bytesOf("2")}}),
               StorageError);
  EXPECT_EQ(folderContents(folder.path()), (Contents{{"sub", "<dir>"}}));
}

TEST(FileSet, RecoveryLeavesTheTemporaryOfALiveWriter) {
  ScratchFolder folder;
  writeText(folder.file(".x.jpg.abcdef.tmp"), "stray");
  const detail::TemporaryFile live(folder.file("map.png"));
  EXPECT_TRUE(folderNeedsRecovery(folder.path()));
  EXPECT_TRUE(recoverFolder(folder.path()));
  EXPECT_FALSE(folderNeedsRecovery(folder.path()));
  EXPECT_EQ(folderContents(folder.path()), (Contents{{detail::nameOf(live.path()), ""}}));
}

// Writers in several processes each add to a counter kept twice, in a pair of files, by a
// read-modify-write under the lock; a reader checks the pair as it goes. No increment is lost
// and no reader sees the pair torn.
TEST(FileSet, ConcurrentWritersLoseNothingAndReadersNeverSeeATornPair) {
  constexpr int kWriters = 4;
  constexpr int kIncrements = 15;
  constexpr int kReads = 60;
  ScratchFolder folder;
  const std::string a = folder.file("a");
  const std::string b = folder.file("b");
  replaceFiles({{a, bytesOf("0")}, {b, bytesOf("0")}});

  std::vector<int> children;
  for (int w = 0; w < kWriters; ++w) {
    children.push_back(testing::startChild([&] {
      for (int i = 0; i < kIncrements; ++i) {
        const FolderLock lock(folder.path(), LockMode::kExclusive);
        const std::string next = std::to_string(std::stoi(fileText(a)) + 1);
        replaceFiles({{a, bytesOf(next)}, {b, bytesOf(next)}});
      }
      return 0;
    }));
  }
  const int reader = testing::startChild([&] {
    for (int i = 0; i < kReads; ++i) {
      const FolderLock lock(folder.path(), LockMode::kShared);
      if (fileText(a) != fileText(b)) return 1;
    }
    return 0;
  });
  for (int pid : children) EXPECT_EQ(testing::waitChild(pid), 0);
  EXPECT_EQ(testing::waitChild(reader), 0) << "a reader saw a torn pair";
  EXPECT_EQ(fileText(a), std::to_string(kWriters * kIncrements));
  EXPECT_EQ(fileText(b), fileText(a));
  EXPECT_FALSE(folderNeedsRecovery(folder.path()));
}

}  // namespace
}  // namespace storage
