#include "core/working_file_cache.h"

#include "core/procedure_error.h"
#include "core/test_support.h"
#include "core/working_files.h"

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include <fcntl.h>
#include <sys/stat.h>

#include <fstream>
#include <string>

namespace tallen {
namespace {

using testing::ScopedWorkingDirectory;

const cv::Size kSize(24, 16);

cv::Mat plain(int value) { return cv::Mat(kSize, CV_8UC3, cv::Scalar(value, value, value)); }

// Pixel 0 of the decoded file: plain images stay within a few levels of their value in JPEG.
int level(const cv::Mat& image) { return image.at<cv::Vec3b>(0, 0)[0]; }

// Sets the modification time without changing the bytes or the inode.
void touch(const char* path, long seconds) {
  const timespec times[2] = {{seconds, 0}, {seconds, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, path, times, 0), 0);
}

TEST(WorkingFileCache, DecodesAFileOnceWhileItStaysTheSame) {
  ScopedWorkingDirectory dir;
  saveWorkingImages({{"model.jpg", plain(100)}});
  WorkingFileCache cache;
  const cv::Mat first = cache.load("model.jpg", kSize);
  const cv::Mat second = cache.load("model.jpg", kSize);
  EXPECT_EQ(cache.decodeCount(), 1);
  EXPECT_EQ(first.data, second.data);
  EXPECT_EQ(cv::norm(first, loadWorkingImage("model.jpg", kSize), cv::NORM_INF), 0.0);
}

// Each way a working file can change gives the new bytes on the next load.
struct Change {
  const char* name;
  void (*apply)();
  int expectedLevel;
  friend void PrintTo(const Change& c, std::ostream* os) { *os << c.name; }
};

const Change kChanges[] = {
    {"ReplacedByRename",
     [] {
       saveWorkingImages({{"model.jpg", plain(200)}});
     },
     200},
    {"RewrittenInPlace",
     [] {
       const std::vector<uchar> bytes = encodeWorkingImage("model.jpg", plain(50));
       std::ofstream out("model.jpg", std::ios::binary | std::ios::trunc);
       out.write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
     },
     50},
    {"TouchedOnly", [] { touch("model.jpg", 1000000); }, 100},
};

class WorkingFileCacheChange : public ::testing::TestWithParam<Change> {};

TEST_P(WorkingFileCacheChange, ChangedFileIsDecodedAgain) {
  ScopedWorkingDirectory dir;
  saveWorkingImages({{"model.jpg", plain(100)}});
  WorkingFileCache cache;
  EXPECT_NEAR(level(cache.load("model.jpg", kSize)), 100, 2);
  GetParam().apply();
  EXPECT_NEAR(level(cache.load("model.jpg", kSize)), GetParam().expectedLevel, 2);
  EXPECT_EQ(cache.decodeCount(), 2);
  cache.load("model.jpg", kSize);
  EXPECT_EQ(cache.decodeCount(), 2);
}

INSTANTIATE_TEST_SUITE_P(Changes, WorkingFileCacheChange, ::testing::ValuesIn(kChanges),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(WorkingFileCache, ReportsWhatTheLoaderReportsAfterACachedLoad) {
  ScopedWorkingDirectory dir;
  saveWorkingImages({{"model.jpg", plain(100)}});
  WorkingFileCache cache;
  cache.load("model.jpg", kSize);
  // The template size setting changed: the cached image is of the old size.
  try {
    cache.load("model.jpg", cv::Size(10, 10));
    FAIL() << "a cached image of another size was returned";
  } catch (const InspectionError& e) {
    EXPECT_EQ(std::string(e.what()).rfind("model.jpg: wrong size 24x16, expected 10x10", 0), 0u)
        << e.what();
  }
  std::remove("model.jpg");
  EXPECT_THROW(cache.load("model.jpg", kSize), InspectionError);
}

}  // namespace
}  // namespace tallen
