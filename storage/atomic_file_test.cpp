#include "storage/atomic_file.h"

#include "storage/fault_injection.h"
#include "storage/file_operations.h"
#include "storage/file_set.h"
#include "storage/storage_error.h"
#include "storage/test_support.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <filesystem>
#include <functional>
#include <map>
#include <string>

namespace storage {
namespace {

namespace fs = std::filesystem;
using testing::bytesOf;
using testing::fileText;
using testing::folderContents;
using testing::ScratchFolder;
using testing::writeText;

TEST(AtomicFile, WritesEveryByteAndLeavesNothingBeside) {
  ScratchFolder folder;
  const std::string path = folder.file("a.jpg");
  const std::string binary("\xff\xd8\0\n\r\x7f end", 10);
  writeFileAtomically(path, bytesOf(binary));
  EXPECT_EQ(fileText(path), binary);
  writeFileAtomically(path, {});
  EXPECT_EQ(fileText(path), "");
  EXPECT_EQ(folderContents(folder.path()), (std::map<std::string, std::string>{{"a.jpg", ""}}));
}

TEST(AtomicFile, NewFileGetsTheUsualPermissions) {
  ScratchFolder folder;
  const mode_t previous = ::umask(022);
  writeFileAtomically(folder.file("a.jpg"), bytesOf("x"));
  ::umask(previous);
  EXPECT_EQ(fs::status(folder.file("a.jpg")).permissions(),
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                fs::perms::others_read);
}

TEST(AtomicFile, TemporaryNamesAreRecognisable) {
  EXPECT_TRUE(detail::isTemporaryNameOf(".good_1.jpg.aZ09xY.tmp", "good_1.jpg"));
  EXPECT_TRUE(detail::isTemporaryNameOf(".kit.journal.aZ09xY.tmp", ".kit.journal"));
  EXPECT_FALSE(detail::isTemporaryNameOf(".good_1.jpg.aZ09xY.tmp", "good_2.jpg"));
  EXPECT_FALSE(detail::isTemporaryName("good_1.jpg.tmp"));
  EXPECT_FALSE(detail::isTemporaryName(".good_1.jpg.a-09xY.tmp"));
  EXPECT_FALSE(detail::isTemporaryName(".good_1.jpg.aZ09x.tmp"));
  EXPECT_FALSE(detail::isTemporaryName(".aZ09xY.tmp"));
}

// Whatever an attacker plants where an older writer put its temporary or backup, or at a
// target itself, nothing is written through it; a link at a target is refused.
struct PlantedLink {
  const char* target;  // of the single write; the set replaces a.jpg and b.jpg
  const char* link;
};

class PlantedLinkTest : public ::testing::TestWithParam<PlantedLink> {};

TEST_P(PlantedLinkTest, NothingIsWrittenThroughIt) {
  const PlantedLink& c = GetParam();
  ScratchFolder folder;
  ScratchFolder elsewhere;
  const std::string victim = elsewhere.file("victim");
  writeText(victim, "precious");
  writeText(folder.file("a.jpg"), "old a");
  writeText(folder.file("b.jpg"), "old b");
  fs::remove(folder.file(c.link));
  fs::create_symlink(victim, folder.file(c.link));
  const std::string link = c.link;

  struct Save {
    std::function<void()> run;
    bool linkIsTarget;
  };
  const Save saves[] = {
      {[&] { writeFileAtomically(folder.file(c.target), bytesOf("new")); }, link == c.target},
      {[&] {
         replaceFiles(
             {{folder.file("a.jpg"), bytesOf("new a")}, {folder.file("b.jpg"), bytesOf("new b")}});
       },
       link == "a.jpg" || link == "b.jpg"},
  };
  for (const Save& save : saves) {
    const auto before = folderContents(folder.path());
    if (save.linkIsTarget) {
      try {
        save.run();
        ADD_FAILURE() << "a link at the target was replaced";
      } catch (const StorageError& e) {
        EXPECT_NE(std::string(e.what()).find("not a regular file"), std::string::npos) << e.what();
      }
      EXPECT_EQ(folderContents(folder.path()), before);
    } else {
      save.run();
    }
  }
  EXPECT_EQ(fileText(victim), "precious");
  EXPECT_TRUE(fs::is_symlink(folder.file(c.link)));
  if (link != "b.jpg") EXPECT_EQ(fileText(folder.file("b.jpg")), "new b");
}

const PlantedLink kPlantedLinks[] = {
    {"good_1.jpg", "good_1.jpg.part"},
    {"a.jpg", "a.jpg.tmp"},
    {"a.jpg", "a.jpg.bak"},
    {"b.jpg", "b.jpg.tmp"},
    {"b.jpg", "b.jpg.bak"},
    {"a.jpg", "a.jpg.tmp12345"},
    {"map.png", "map.png"},
    {"a.jpg", "b.jpg"},
};

std::string caseName(const char* text) {
  std::string name;
  for (const char* c = text; *c; ++c)
    name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
  return name;
}

INSTANTIATE_TEST_SUITE_P(AtomicFile, PlantedLinkTest, ::testing::ValuesIn(kPlantedLinks),
                         [](const auto& info) {
                           return caseName(info.param.target) + "_" + caseName(info.param.link);
                         });

TEST(AtomicFile, RefusesToReplaceWhatIsNotARegularFile) {
  ScratchFolder folder;
  fs::create_directory(folder.file("dir.jpg"));
  ASSERT_EQ(::mkfifo(folder.file("fifo.jpg").c_str(), 0600), 0);
  const auto before = folderContents(folder.path());
  for (const char* name : {"dir.jpg", "fifo.jpg"}) {
    const std::string path = folder.file(name);
    try {
      writeFileAtomically(path, bytesOf("new"));
      ADD_FAILURE() << name;
    } catch (const StorageError& e) {
      EXPECT_EQ(std::string(e.what()), path + ": cannot be replaced (not a regular file)");
    }
  }
  EXPECT_EQ(folderContents(folder.path()), before);
}

// The system's reason reaches the message, naming the file being saved.
struct InjectedFailure {
  FileOperation operation;
  int error;
  const char* message;
};

class InjectedFailureTest : public ::testing::TestWithParam<InjectedFailure> {};

TEST_P(InjectedFailureTest, IsReportedWithTheSystemsReasonAndChangesNothing) {
  const InjectedFailure& c = GetParam();
  ScratchFolder folder;
  const std::string path = folder.file("gdaccnumI.jpg");
  writeText(path, "old");
  setFaultHook([&](FileOperation operation, const std::string&) {
    return operation == c.operation ? c.error : 0;
  });
  std::string message;
  try {
    writeFileAtomically(path, bytesOf("new"));
  } catch (const StorageError& e) {
    message = e.what();
  }
  setFaultHook(nullptr);
  EXPECT_EQ(message, path + ": " + c.message);
  if (c.operation != FileOperation::kSyncFolder) {
    EXPECT_EQ(folderContents(folder.path()),
              (std::map<std::string, std::string>{{"gdaccnumI.jpg", "old"}}));
  }
}

const InjectedFailure kInjectedFailures[] = {
    {FileOperation::kCreate, ENOSPC, "cannot be written (No space left on device)"},
    {FileOperation::kCreate, EACCES, "cannot be written (Permission denied)"},
    {FileOperation::kWrite, ENOSPC, "cannot be written (No space left on device)"},
    {FileOperation::kWrite, EDQUOT, "cannot be written (Disk quota exceeded)"},
    {FileOperation::kSyncFile, EIO, "cannot be written (Input/output error)"},
    {FileOperation::kRename, EROFS, "cannot be replaced (Read-only file system)"},
};

INSTANTIATE_TEST_SUITE_P(AtomicFile, InjectedFailureTest, ::testing::ValuesIn(kInjectedFailures),
                         [](const auto& info) {
                           return caseName(operationName(info.param.operation)) + "_" +
                                  std::to_string(info.param.error);
                         });

TEST(AtomicFile, ReadOnlyFolderGivesPermissionDenied) {
  ScratchFolder folder;
  const std::string path = folder.file("good_1.jpg");
  fs::permissions(folder.path(), fs::perms::owner_all | fs::perms::group_read |
                                     fs::perms::group_exec | fs::perms::others_read |
                                     fs::perms::others_exec);
  fs::permissions(folder.path(), fs::perms::owner_write, fs::perm_options::remove);
  const std::string message =
      testing::failureWithoutPrivileges([&] { writeFileAtomically(path, bytesOf("new")); });
  EXPECT_EQ(message, path + ": cannot be written (Permission denied)");
}

TEST(AtomicFile, KilledAtAnyOperationLeavesTheOldOrTheNewFileAndARecognisableStray) {
  ScratchFolder folder;
  const std::string path = folder.file("good_1.jpg");
  const auto save = [&] { writeFileAtomically(path, bytesOf("new contents")); };
  writeText(path, "old contents");
  const std::vector<std::string> operations = testing::recordOperations(save);
  ASSERT_GE(operations.size(), 5u);

  bool sawNew = false;
  for (std::size_t k = 0; k < operations.size(); ++k) {
    SCOPED_TRACE("killed before " + operations[k]);
    writeText(path, "old contents");
    ASSERT_TRUE(testing::killedAt(static_cast<int>(k), save));
    const std::string now = fileText(path);
    EXPECT_TRUE(now == "old contents" || now == "new contents") << now;
    EXPECT_FALSE(sawNew && now == "old contents") << "the new file was lost again";
    sawNew = now == "new contents";
    for (const auto& [name, bytes] : folderContents(folder.path())) {
      EXPECT_TRUE(name == "good_1.jpg" || detail::isTemporaryNameOf(name, "good_1.jpg")) << name;
    }
    recoverFolder(folder.path());
    EXPECT_EQ(folderContents(folder.path()),
              (std::map<std::string, std::string>{{"good_1.jpg", now}}));
  }
  EXPECT_TRUE(sawNew);
}

}  // namespace
}  // namespace storage
