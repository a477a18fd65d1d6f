#include "cli/defect_map_file.h"

#include "cli/cli_test_support.h"
#include "core/procedure_error.h"

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace tallen {
namespace {

namespace fs = std::filesystem;
using cli_testing::InspectionArea;

struct NameCase {
  const char* image;
  const char* map;
};

class DefectMapName : public ::testing::TestWithParam<NameCase> {};

TEST_P(DefectMapName, DropsDirectoryAndExtension) {
  EXPECT_EQ(defectMapFileName(GetParam().image), GetParam().map);
}

const NameCase kNameCases[] = {
    {"good_1.jpg", "good_1_defects.png"},
    {"../pictures/unit 7.png", "unit 7_defects.png"},
    {"/abs/dir/scan.v2.bmp", "scan.v2_defects.png"},
    {"noextension", "noextension_defects.png"},
    {"白黒.jpg", "白黒_defects.png"},
};

INSTANTIATE_TEST_SUITE_P(DefectMapFile, DefectMapName, ::testing::ValuesIn(kNameCases));

cv::Mat sampleMap() {
  cv::Mat map(48, 64, CV_8UC1, cv::Scalar(0));
  cv::rectangle(map, cv::Rect(10, 12, 9, 7), cv::Scalar(255), cv::FILLED);
  cv::putText(map, "0.0371", cv::Point(5, 43), cv::FONT_HERSHEY_SIMPLEX, 0.5, cv::Scalar(255), 2);
  return map;
}

TEST(DefectMapFile, WritesThePixelsLosslesslyAndLeavesNoTemporary) {
  InspectionArea area;
  const std::string path = area.path("maps/deep/a_defects.png");
  const cv::Mat map = sampleMap();
  writeDefectMap(map, path);

  const cv::Mat back = cv::imread(path, cv::IMREAD_UNCHANGED);
  ASSERT_EQ(back.type(), CV_8UC1);
  EXPECT_EQ(cv::norm(back, map, cv::NORM_INF), 0.0);
  int entries = 0;
  for (const auto& entry : fs::directory_iterator(area.path("maps/deep"))) {
    (void)entry;
    ++entries;
  }
  EXPECT_EQ(entries, 1);
}

TEST(DefectMapFile, ReplacesAnOlderMap) {
  InspectionArea area;
  const std::string path = area.writeFile("a_defects.png", "old");
  writeDefectMap(sampleMap(), path);
  EXPECT_EQ(cv::norm(cv::imread(path, cv::IMREAD_UNCHANGED), sampleMap(), cv::NORM_INF), 0.0);
}

// A failed write must leave what was there and add nothing beside it.
TEST(DefectMapFile, FailureLeavesEverythingAsItWas) {
  InspectionArea area;
  area.writeFile("blocker", "a file where a directory is needed");
  fs::create_directories(area.path("taken_defects.png"));
  const auto before = area.snapshot();

  for (const std::string& path :
       {area.path("blocker/a_defects.png"), area.path("taken_defects.png")}) {
    try {
      writeDefectMap(sampleMap(), path);
      ADD_FAILURE() << "no error for " << path;
    } catch (const InspectionError& error) {
      EXPECT_NE(std::string(error.what()).find(path), std::string::npos) << error.what();
    }
  }
  EXPECT_THROW(writeDefectMap(cv::Mat(), area.path("empty_defects.png")), InspectionError);
  EXPECT_EQ(area.snapshot(), before);
}

}  // namespace
}  // namespace tallen
