#include "generator/product_scene.h"

#include "generator/demo_set.h"

#include <opencv2/imgproc.hpp>

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace demo {
namespace {

const cv::Size kPicture(640, 480);

cv::Mat absDiffGray(const cv::Mat& a, const cv::Mat& b) {
  cv::Mat diff;
  cv::absdiff(a, b, diff);
  cv::cvtColor(diff, diff, cv::COLOR_BGR2GRAY);
  return diff;
}

TEST(ProductScene, SameShotGivesTheSamePixels) {
  const ProductShot shot{7.0, {12.5, -8.0}, Defect::kNone, 42};
  const cv::Mat a = drawProductPicture(kPicture, shot);
  ASSERT_EQ(a.type(), CV_8UC3);
  ASSERT_EQ(a.size(), kPicture);
  EXPECT_EQ(cv::norm(a, drawProductPicture(kPicture, shot), cv::NORM_INF), 0.0);

  ProductShot reseeded = shot;
  reseeded.seed = 43;
  const cv::Mat noiseOnly = absDiffGray(a, drawProductPicture(kPicture, reseeded));
  EXPECT_GT(cv::countNonZero(noiseOnly), 0);
  EXPECT_LT(cv::norm(noiseOnly, cv::NORM_INF), 50.0);  // noise, not a moved plate
}

TEST(ProductScene, BrightPlateOnDarkTable) {
  const cv::Mat picture = drawProductPicture(kPicture, {0.0, {0.0, 0.0}, Defect::kNone, 1});
  cv::Mat gray;
  cv::cvtColor(picture, gray, cv::COLOR_BGR2GRAY);
  EXPECT_LT(cv::mean(gray(cv::Rect(0, 0, 60, 60)))[0], 50.0);
  EXPECT_GT(cv::mean(gray(cv::Rect(320 - 60, 240 + 70, 20, 20)))[0], 170.0);  // plate, no feature
}

std::string defectName(const ::testing::TestParamInfo<Defect>& info) {
  switch (info.param) {
    case Defect::kScratch:
      return "scratch";
    case Defect::kMissingFeature:
      return "missing_feature";
    case Defect::kBlob:
      return "blob";
    case Defect::kNone:
      break;
  }
  return "none";
}

// Each flaw changes a patch of the plate that is large against the template, and nothing else.
class DefectVariant : public ::testing::TestWithParam<Defect> {};

TEST_P(DefectVariant, ChangesOnlyAPartOfThePlate) {
  const ProductShot good{-4.0, {5.0, 3.0}, Defect::kNone, 9};
  ProductShot flawed = good;
  flawed.defect = GetParam();
  const cv::Mat changed =
      absDiffGray(drawProductPicture(kPicture, good), drawProductPicture(kPicture, flawed)) > 40;
  const cv::Size templ = templateSizeFor(kPicture);
  const int area = templ.width * templ.height;
  EXPECT_GT(cv::countNonZero(changed), area / 100);
  EXPECT_LT(cv::countNonZero(changed), area / 10);
  // The plate of this shot lies within the template-sized box around its centre.
  const cv::Rect plate(325 - templ.width / 2, 243 - templ.height / 2, templ.width, templ.height);
  const cv::Rect box = cv::boundingRect(changed);
  EXPECT_EQ(plate & box, box);
}

INSTANTIATE_TEST_SUITE_P(ProductScene, DefectVariant,
                         ::testing::Values(Defect::kScratch, Defect::kMissingFeature,
                                           Defect::kBlob),
                         defectName);

// The flow needs the template inside every picture, at every size the bench uses.
TEST(ProductScene, TemplateFitsTheSizesInUse) {
  for (const cv::Size size : {cv::Size(640, 480), cv::Size(2592, 1944), cv::Size(4000, 3000)}) {
    const cv::Size templ = templateSizeFor(size);
    EXPECT_GT(templ.width, 0);
    EXPECT_LT(templ.width, size.width);
    EXPECT_LT(templ.height, size.height);
  }
}

TEST(DemoSet, NamesAreUniqueAndEveryDefectIsThere) {
  std::vector<NamedShot> all = goodSamples();
  const std::vector<NamedShot> checks = inspectionPictures();
  all.insert(all.end(), checks.begin(), checks.end());
  std::set<std::string> names;
  std::set<Defect> defects;
  for (const NamedShot& shot : all) {
    EXPECT_TRUE(names.insert(shot.name).second) << shot.name;
    defects.insert(shot.shot.defect);
  }
  EXPECT_EQ(defects.size(), 4u);
  for (const NamedShot& shot : goodSamples()) EXPECT_EQ(shot.shot.defect, Defect::kNone);
}

}  // namespace
}  // namespace demo
