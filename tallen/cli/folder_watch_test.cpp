#include "cli/folder_watch.h"

#include "cli/cli_test_support.h"
#include "cli/watch_test_support.h"
#include "core/procedure_error.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <ostream>
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

constexpr size_t kPictureBytes = 64 * 1024;
constexpr int kSlowChunks = 8;
constexpr auto kSlowPause = 40ms;

class FolderWatchTest : public ::testing::Test {
 protected:
  FolderWatchTest() : folder_(area_.path("incoming")) { fs::create_directory(folder_); }

  std::string in(const std::string& name) const { return folder_ + "/" + name; }
  void put(const std::string& name, unsigned seed = 1) {
    writeWhole(in(name), testBytes(kPictureBytes, seed));
  }

  InspectionArea area_;
  std::string folder_;
};

TEST_F(FolderWatchTest, TakesThePicturesAlreadyThereInNameOrderThenNewOnes) {
  for (const char* name : {"b.jpg", "notes.txt", "c.PNG", "a.tif", ".a.jpg"}) put(name);
  FolderWatch watch(folder_, false);
  DelayedSignal watchdog(SIGTERM, kPatience);
  EXPECT_EQ(watch.next(), in("a.tif"));
  EXPECT_EQ(watch.next(), in("b.jpg"));
  EXPECT_EQ(watch.next(), in("c.PNG"));
  put("0_new.jpg");
  EXPECT_EQ(watch.next(), in("0_new.jpg"));
}

TEST_F(FolderWatchTest, NewOnlyLeavesThePicturesAlreadyThereUntilTheyChange) {
  put("a.jpg");
  FolderWatch watch(folder_, true);
  DelayedSignal watchdog(SIGTERM, kPatience);
  put("b.jpg");
  EXPECT_EQ(watch.next(), in("b.jpg"));
  put("a.jpg", 2);
  EXPECT_EQ(watch.next(), in("a.jpg"));
}

TEST_F(FolderWatchTest, TakesAFileWrittenInChunksOnceWhenItIsClosed) {
  FolderWatch watch(folder_, false);
  DelayedSignal watchdog(SIGTERM, kPatience);
  const std::string bytes = testBytes(kPictureBytes, 7);
  std::thread writer([&] { writeInChunks(in("slow.jpg"), bytes, kSlowChunks, kSlowPause); });
  const std::optional<std::string> taken = watch.next();
  // Taken before the writer closed, the file would still be short here.
  const std::optional<std::string> content = readFile(in("slow.jpg"));
  writer.join();
  EXPECT_EQ(taken, in("slow.jpg"));
  EXPECT_TRUE(content == bytes) << "taken while still being written";
  put("sentinel.jpg");
  EXPECT_EQ(watch.next(), in("sentinel.jpg"));
}

TEST_F(FolderWatchTest, TakesAFileMovedIntoTheFolder) {
  FolderWatch watch(folder_, false);
  DelayedSignal watchdog(SIGTERM, kPatience);
  const std::string outside = area_.path("pictures/moved.jpg");
  writeWhole(outside, testBytes(kPictureBytes, 3));
  fs::rename(outside, in("moved.jpg"));
  EXPECT_EQ(watch.next(), in("moved.jpg"));
}

TEST_F(FolderWatchTest, TakesATemporaryNameOnlyOnceRenamedToItsRealName) {
  FolderWatch watch(folder_, false);
  DelayedSignal watchdog(SIGTERM, kPatience);
  writeInChunks(in("shot.jpg.part"), testBytes(kPictureBytes, 4), kSlowChunks, kSlowPause);
  writeWhole(in(".shot.jpg"), testBytes(kPictureBytes, 5));
  fs::rename(in("shot.jpg.part"), in("shot.jpg"));
  EXPECT_EQ(watch.next(), in("shot.jpg"));
  put("sentinel.jpg");
  EXPECT_EQ(watch.next(), in("sentinel.jpg"));
}

TEST_F(FolderWatchTest, TakesAFileAgainOnlyWhenItChanged) {
  FolderWatch watch(folder_, false);
  DelayedSignal watchdog(SIGTERM, kPatience);
  put("a.jpg");
  EXPECT_EQ(watch.next(), in("a.jpg"));
  // Opened for writing and closed without a change.
  ::close(::open(in("a.jpg").c_str(), O_WRONLY | O_CLOEXEC));
  put("b.jpg");
  EXPECT_EQ(watch.next(), in("b.jpg"));
  put("a.jpg", 2);
  EXPECT_EQ(watch.next(), in("a.jpg"));
}

class FolderWatchAtStart : public FolderWatchTest, public ::testing::WithParamInterface<bool> {};

TEST_P(FolderWatchAtStart, WaitsForAPictureStillBeingWrittenAtStart) {
  const bool newOnly = GetParam();
  const std::string bytes = testBytes(kPictureBytes, 9);
  std::ofstream growing(in("a_growing.jpg"), std::ios::binary);
  growing.write(bytes.data(), static_cast<std::streamsize>(bytes.size() / 2));
  growing.flush();
  put("b_done.jpg");
  FolderWatch watch(folder_, newOnly);
  DelayedSignal watchdog(SIGTERM, kPatience);
  if (!newOnly) EXPECT_EQ(watch.next(), in("b_done.jpg"));
  growing.write(bytes.data() + bytes.size() / 2,
                static_cast<std::streamsize>(bytes.size() - bytes.size() / 2));
  growing.close();
  EXPECT_EQ(watch.next(), in("a_growing.jpg"));
  EXPECT_TRUE(readFile(in("a_growing.jpg")) == bytes);
}

INSTANTIATE_TEST_SUITE_P(FolderWatch, FolderWatchAtStart, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "NewOnly" : "All"; });

struct NameCase {
  const char* name;
  bool taken;
};

void PrintTo(const NameCase& c, std::ostream* os) { *os << c.name; }

class FolderWatchNames : public FolderWatchTest, public ::testing::WithParamInterface<NameCase> {};

TEST_P(FolderWatchNames, TakesPicturesAndIgnoresTheRest) {
  FolderWatch watch(folder_, false);
  DelayedSignal watchdog(SIGTERM, kPatience);
  put(GetParam().name);
  put("zz_sentinel.png");
  EXPECT_EQ(watch.next(), in(GetParam().taken ? GetParam().name : "zz_sentinel.png"));
}

const NameCase kNameCases[] = {
    {"shot.jpg", true},
    {"SHOT.JPG", true},
    {"shot.jpeg", true},
    {"shot.Png", true},
    {"shot.bmp", true},
    {"shot.tif", true},
    {"shot.tiff", true},
    {"a.b.png", true},
    {"notes.txt", false},
    {"shot", false},
    {"jpg", false},
    {".shot.jpg", false},
    {"shot.jpg.tmp", false},
    {"shot.jpg.part", false},
    {"shot.jpg.PART", false},
    {"shot.jpg~", false},
    {"shot.jpg.crdownload", false},
};

INSTANTIATE_TEST_SUITE_P(FolderWatch, FolderWatchNames, ::testing::ValuesIn(kNameCases),
                         [](const ::testing::TestParamInfo<NameCase>& info) {
                           std::string label;
                           for (char c : std::string(info.param.name)) {
                             label += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
                           }
                           return label + "_" + std::to_string(info.index);
                         });

TEST_F(FolderWatchTest, IgnoresFoldersWithPictureNames) {
  FolderWatch watch(folder_, false);
  DelayedSignal watchdog(SIGTERM, kPatience);
  fs::create_directory(area_.path("pictures/album.jpg"));
  fs::rename(area_.path("pictures/album.jpg"), in("album.jpg"));
  put("sentinel.jpg");
  EXPECT_EQ(watch.next(), in("sentinel.jpg"));
}

// A flood of events beyond the kernel's queue loses the picture's own event.
TEST_F(FolderWatchTest, FindsPicturesWhoseEventsWereLost) {
  const std::optional<std::string> limitText = readFile("/proc/sys/fs/inotify/max_queued_events");
  const long limit = limitText ? std::stol(*limitText) : 0;
  if (limit <= 0 || limit > 100000) GTEST_SKIP() << "queue limit " << limit;
  put("old.jpg");
  FolderWatch watch(folder_, true);
  DelayedSignal watchdog(SIGTERM, kPatience);
  // Opened for writing and closed, two names in turn: the kernel merges a repeat of the event
  // just before.
  for (long i = 0; i <= limit; ++i) {
    ::close(::open(in(i % 2 ? "flood_a.txt" : "flood_b.txt").c_str(),
                   O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
  }
  put("new.jpg");
  EXPECT_EQ(watch.next(), in("new.jpg"));
  put("sentinel.jpg");
  EXPECT_EQ(watch.next(), in("sentinel.jpg"));  // not old.jpg, which was there at start
}

class FolderWatchSignal : public FolderWatchTest, public ::testing::WithParamInterface<int> {};

int g_previousHandlerCalls = 0;
extern "C" void countCall(int) { ++g_previousHandlerCalls; }

TEST_P(FolderWatchSignal, EndsTheWatchAndRestoresThePreviousHandler) {
  struct sigaction counting = {};
  counting.sa_handler = countCall;
  sigemptyset(&counting.sa_mask);
  struct sigaction original = {};
  ASSERT_EQ(::sigaction(GetParam(), &counting, &original), 0);
  g_previousHandlerCalls = 0;
  {
    FolderWatch watch(folder_, false);
    DelayedSignal stop(GetParam(), 200ms);  // while next() waits
    EXPECT_EQ(watch.next(), std::nullopt);
    EXPECT_TRUE(stop.fired());
    put("late.jpg");
    EXPECT_EQ(watch.next(), std::nullopt);  // the stop stays
  }
  EXPECT_EQ(g_previousHandlerCalls, 0);
  ::raise(GetParam());
  EXPECT_EQ(g_previousHandlerCalls, 1);
  ::sigaction(GetParam(), &original, nullptr);
}

TEST_P(FolderWatchSignal, WinsOverPicturesWaitingToBeTaken) {
  put("a.jpg");
  put("b.jpg");
  FolderWatch watch(folder_, false);
  EXPECT_EQ(watch.next(), in("a.jpg"));
  ::raise(GetParam());
  EXPECT_EQ(watch.next(), std::nullopt);
}

INSTANTIATE_TEST_SUITE_P(FolderWatch, FolderWatchSignal, ::testing::Values(SIGINT, SIGTERM),
                         [](const auto& info) { return info.param == SIGINT ? "INT" : "TERM"; });

TEST_F(FolderWatchTest, AllowsOneWatchAtATime) {
  FolderWatch watch(folder_, false);
  EXPECT_THROW(FolderWatch(folder_, false), std::logic_error);
}

struct ErrorCase {
  const char* label;
  const char* folder;  // below the area's root
  const char* messagePart;
};

void PrintTo(const ErrorCase& c, std::ostream* os) { *os << c.label; }

class FolderWatchError : public FolderWatchTest, public ::testing::WithParamInterface<ErrorCase> {};

TEST_P(FolderWatchError, NamesTheFolderAndTheProblem) {
  area_.writeFile("a_file", "not a folder");
  const std::string folder = area_.path(GetParam().folder);
  try {
    FolderWatch watch(folder, false);
    FAIL() << "no InspectionError";
  } catch (const InspectionError& error) {
    const std::string message = error.what();
    EXPECT_NE(message.find(folder), std::string::npos) << message;
    EXPECT_NE(message.find(GetParam().messagePart), std::string::npos) << message;
  }
}

const ErrorCase kErrorCases[] = {
    {"missing", "none", "no such folder"},
    {"missing_parent", "none/deeper", "no such folder"},
    {"a_file", "a_file", "not a folder"},
};

INSTANTIATE_TEST_SUITE_P(FolderWatch, FolderWatchError, ::testing::ValuesIn(kErrorCases),
                         [](const auto& info) { return std::string(info.param.label); });

TEST_F(FolderWatchTest, RunningOutOfDescriptorsIsAnErrorNamingTheFolder) {
  rlimit original = {};
  ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &original), 0);
  // The lowest free descriptor becomes the limit, so that no new one can be opened.
  const int lowestFree = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  ASSERT_GE(lowestFree, 0);
  ::close(lowestFree);
  rlimit tight = original;
  tight.rlim_cur = static_cast<rlim_t>(lowestFree);
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &tight), 0);
  std::string message;
  try {
    FolderWatch watch(folder_, false);
  } catch (const InspectionError& error) {
    message = error.what();
  }
  ::setrlimit(RLIMIT_NOFILE, &original);
  EXPECT_NE(message.find("cannot watch the folder " + folder_), std::string::npos) << message;
}

struct GoneCase {
  const char* label;
  bool moved;  // else removed
};

void PrintTo(const GoneCase& c, std::ostream* os) { *os << c.label; }

class FolderWatchGone : public FolderWatchTest, public ::testing::WithParamInterface<GoneCase> {};

TEST_P(FolderWatchGone, IsAnErrorNamingTheFolder) {
  FolderWatch watch(folder_, false);
  DelayedSignal watchdog(SIGTERM, kPatience);
  if (GetParam().moved) {
    fs::rename(folder_, area_.path("elsewhere"));
  } else {
    fs::remove_all(folder_);
  }
  try {
    watch.next();
    FAIL() << "no InspectionError";
  } catch (const InspectionError& error) {
    EXPECT_NE(std::string(error.what()).find(folder_), std::string::npos) << error.what();
  }
}

const GoneCase kGoneCases[] = {{"removed", false}, {"moved_away", true}};

INSTANTIATE_TEST_SUITE_P(FolderWatch, FolderWatchGone, ::testing::ValuesIn(kGoneCases),
                         [](const auto& info) { return std::string(info.param.label); });

}  // namespace
}  // namespace tallen
