#include "core/working_files.h"

#include "core/procedure_error.h"
#include "core/test_support.h"
#include "storage/fault_injection.h"

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>

namespace tallen {
namespace {

namespace fs = std::filesystem;
using testing::fileBytes;
using testing::ScopedWorkingDirectory;

// The names in the working directory, sorted: no temporary file may stay behind.
std::vector<std::string> filesHere() {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(".")) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

std::string errorOf(const std::string& path, cv::Size size) {
  try {
    loadWorkingImage(path, size);
  } catch (const InspectionError& e) {
    return e.what();
  }
  return "";
}

TEST(WorkingFiles, LoadReportsMissingUnreadableAndMismatchedFilesByName) {
  ScopedWorkingDirectory dir;
  std::ofstream("garbage.jpg") << "not a picture";
  cv::imwrite("gray.jpg", cv::Mat(48, 64, CV_8UC1, cv::Scalar(9)));
  cv::imwrite("small.jpg", cv::Mat(40, 64, CV_8UC3, cv::Scalar(9, 9, 9)));
  cv::imwrite("good.jpg", cv::Mat(48, 64, CV_8UC3, cv::Scalar(9, 9, 9)));
  const cv::Size size(64, 48);

  EXPECT_EQ(errorOf("templImage.jpg", size).rfind("templImage.jpg: missing", 0), 0u);
  EXPECT_EQ(errorOf("garbage.jpg", size).rfind("garbage.jpg: unreadable", 0), 0u);
  EXPECT_EQ(errorOf("gray.jpg", size).rfind("gray.jpg: wrong kind", 0), 0u);
  const std::string mismatch = errorOf("small.jpg", size);
  EXPECT_EQ(mismatch.rfind("small.jpg: wrong size 64x40, expected 64x48", 0), 0u) << mismatch;
  EXPECT_EQ(loadWorkingImage("good.jpg", size).type(), CV_8UC3);
}

// A cut JPEG decodes partly without an error in OpenCV; as a model it would silently give
// wrong ratios, so it is refused like a file that does not decode at all.
TEST(WorkingFiles, LoadRefusesACutOrOversizedFileAsUnreadable) {
  ScopedWorkingDirectory dir;
  const cv::Size size(64, 48);
  cv::Mat picture(size, CV_8UC3);
  cv::setRNGSeed(3);
  cv::randu(picture, 0, 256);
  std::vector<uchar> bytes;
  ASSERT_TRUE(cv::imencode(".jpg", picture, bytes));
  auto write = [](const std::string& path, const std::vector<uchar>& content) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(content.data()),
               static_cast<std::streamsize>(content.size()));
  };
  write("whole.jpg", bytes);
  write("half.jpg", std::vector<uchar>(bytes.begin(), bytes.begin() + bytes.size() / 2));
  write("noEnd.jpg", std::vector<uchar>(bytes.begin(), bytes.end() - 2));
  ASSERT_FALSE(cv::imread("half.jpg", cv::IMREAD_ANYDEPTH | cv::IMREAD_ANYCOLOR).empty());

  EXPECT_EQ(
      cv::norm(loadWorkingImage("whole.jpg", size),
               cv::imread("whole.jpg", cv::IMREAD_ANYDEPTH | cv::IMREAD_ANYCOLOR), cv::NORM_INF),
      0.0);
  for (const char* name : {"half.jpg", "noEnd.jpg"}) {
    const std::string error = errorOf(name, size);
    EXPECT_EQ(error.rfind(std::string(name) + ": unreadable", 0), 0u) << error;
  }
  // Declaring another size is refused from the header, before any pixel is decoded.
  cv::imwrite("large.png", cv::Mat(4800, 6400, CV_8UC3, cv::Scalar::all(0)));
  EXPECT_EQ(errorOf("large.png", size).rfind("large.png: wrong size 6400x4800, expected 64x48", 0),
            0u);
}

TEST(WorkingFiles, SavesJpegsThroughTemporaryFiles) {
  ScopedWorkingDirectory dir;
  const cv::Mat a(10, 12, CV_8UC3, cv::Scalar(10, 20, 30));
  const cv::Mat b(10, 12, CV_8UC3, cv::Scalar(200, 100, 50));
  saveWorkingImages({{"a.jpg", a}, {"b.jpg", b}});
  saveWorkingImages({{"a.jpg", b}, {"b.jpg", a}});
  EXPECT_LE(cv::norm(cv::imread("a.jpg"), b, cv::NORM_INF), 2.0);
  EXPECT_LE(cv::norm(cv::imread("b.jpg"), a, cv::NORM_INF), 2.0);
  EXPECT_EQ(filesHere(), (std::vector<std::string>{"a.jpg", "b.jpg"}));
}

TEST(WorkingFiles, FailedSaveOfTheSecondFileLeavesBothAsTheyWere) {
  ScopedWorkingDirectory dir;
  const cv::Mat old(10, 12, CV_8UC3, cv::Scalar(10, 20, 30));
  saveWorkingImages({{"mean.jpg", old}});
  const std::string meanBefore = fileBytes("mean.jpg");
  const cv::Mat fresh(10, 12, CV_8UC3, cv::Scalar(90, 90, 90));

  // A folder in the way of the second file, then a second file whose folder does not exist.
  fs::create_directory("threshold.jpg");
  EXPECT_THROW(saveWorkingImages({{"mean.jpg", fresh}, {"threshold.jpg", fresh}}), InspectionError);
  EXPECT_EQ(fileBytes("mean.jpg"), meanBefore);
  EXPECT_THROW(saveWorkingImages({{"mean.jpg", fresh}, {"no/such/dir.jpg", fresh}}),
               InspectionError);
  EXPECT_EQ(fileBytes("mean.jpg"), meanBefore);

  EXPECT_EQ(filesHere(), (std::vector<std::string>{"mean.jpg", "threshold.jpg"}));
}

TEST(WorkingFiles, UnencodableImageIsReported) {
  ScopedWorkingDirectory dir;
  EXPECT_THROW(saveWorkingImages({{"x.jpg", cv::Mat()}}), InspectionError);
  EXPECT_FALSE(fs::exists("x.jpg"));
  EXPECT_FALSE(fs::exists("x.jpg.tmp"));
}

// Names at which older versions opened their temporaries and backups: a link planted there
// (by anyone who may write in the folder) must never be written through. A link at a working
// file itself is refused.
struct PlantedLink {
  const char* link;
  bool refused;
};

class WorkingFilesPlantedLink : public ::testing::TestWithParam<PlantedLink> {};

TEST_P(WorkingFilesPlantedLink, IsNeverWrittenThrough) {
  ScopedWorkingDirectory dir;
  const fs::path victim = dir.root() / "victim";
  std::ofstream(victim) << "precious";
  const cv::Mat image(10, 12, CV_8UC3, cv::Scalar(10, 20, 30));
  saveWorkingImages(
      {{"templImage.jpg", image}, {"gdaccnumI.jpg", image}, {"gdThresholdImageI.jpg", image}});
  fs::remove(GetParam().link);
  fs::create_symlink(victim, GetParam().link);
  const cv::Mat fresh(10, 12, CV_8UC3, cv::Scalar(90, 90, 90));
  bool refused = false;
  try {
    saveWorkingImages({{"templImage.jpg", fresh}});
    saveWorkingImages({{"gdaccnumI.jpg", fresh}, {"gdThresholdImageI.jpg", fresh}});
  } catch (const InspectionError& e) {
    refused = true;
    EXPECT_EQ(std::string(e.what()),
              std::string(GetParam().link) + ": cannot be replaced (not a regular file)");
  }
  EXPECT_EQ(refused, GetParam().refused);
  EXPECT_EQ(fileBytes(victim), "precious");
  EXPECT_TRUE(fs::is_symlink(GetParam().link));
}

INSTANTIATE_TEST_SUITE_P(WorkingFiles, WorkingFilesPlantedLink,
                         ::testing::ValuesIn(std::vector<PlantedLink>{
                             {"templImage.jpg.tmp", false},
                             {"templImage.jpg.bak", false},
                             {"gdaccnumI.jpg.tmp", false},
                             {"gdaccnumI.jpg.bak", false},
                             {"gdThresholdImageI.jpg.tmp", false},
                             {"gdThresholdImageI.jpg.bak", false},
                             {"gdThresholdImageI.jpg", true},
                             {"templImage.jpg", true}}),
                         [](const auto& info) {
                           std::string name = info.param.link;
                           for (char& c : name)
                             c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
                           return name;
                         });

TEST(WorkingFiles, FullDiskIsReportedWithTheSystemsReason) {
  ScopedWorkingDirectory dir;
  const cv::Mat old(10, 12, CV_8UC3, cv::Scalar(10, 20, 30));
  saveWorkingImages({{"gdaccnumI.jpg", old}, {"gdThresholdImageI.jpg", old}});
  const auto before = filesHere();
  const std::string meanBefore = fileBytes("gdaccnumI.jpg");
  int writes = 0;
  // The second file's data does not fit any more.
  storage::setFaultHook([&](storage::FileOperation operation, const std::string&) {
    return operation == storage::FileOperation::kWrite && ++writes == 2 ? ENOSPC : 0;
  });
  std::string message;
  try {
    saveWorkingImages({{"gdaccnumI.jpg", cv::Mat(10, 12, CV_8UC3, cv::Scalar(90, 90, 90))},
                       {"gdThresholdImageI.jpg", old}});
  } catch (const InspectionError& e) {
    message = e.what();
  }
  storage::setFaultHook(nullptr);
  EXPECT_EQ(message, "gdThresholdImageI.jpg: cannot be written (No space left on device)");
  EXPECT_EQ(filesHere(), before);
  EXPECT_EQ(fileBytes("gdaccnumI.jpg"), meanBefore);
}

}  // namespace
}  // namespace tallen
