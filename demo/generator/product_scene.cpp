#include "generator/product_scene.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <vector>

namespace demo {
namespace {

// Lengths below are in pixels of a 640-pixel-wide picture.
constexpr double kUnitWidth = 640.0;
constexpr double kPlateWidth = 170.0;
constexpr double kPlateHeight = 290.0;
constexpr double kTemplateWidth = 210.0;
constexpr double kTemplateHeight = 330.0;

const cv::Scalar kTable(35, 30, 28);
const cv::Scalar kPlate(188, 198, 210);
const cv::Scalar kHole(48, 44, 40);
const cv::Scalar kLabel(150, 160, 168);
const cv::Scalar kScratch(95, 95, 100);
const cv::Scalar kStain(70, 78, 92);
constexpr double kNoiseSigma = 5.0;
// Brightness falls off across the plate as under a lamp to one side.
constexpr double kShading = 16.0;

// Draws the upright plate on the table, `s` picture pixels per unit, into `canvas` (float BGR);
// the plate's top-left corner sits at `origin`.
void drawPlate(double s, cv::Point2d origin, Defect defect, cv::Mat& canvas) {
  const auto at = [&](double x, double y) {
    return cv::Point(cvRound(origin.x + x * s), cvRound(origin.y + y * s));
  };
  const auto radius = [&](double r) { return std::max(1, cvRound(r * s)); };
  const cv::Rect body(at(0, 0), at(kPlateWidth, kPlateHeight));

  canvas.setTo(kTable);
  cv::Mat ramp(1, body.width, CV_32F);
  for (int x = 0; x < body.width; ++x) {
    ramp.at<float>(x) = static_cast<float>(kShading * (0.5 - static_cast<double>(x) / body.width));
  }
  cv::Mat shaded(body.size(), CV_32FC3, kPlate);
  cv::Mat rampBgr;
  cv::merge(std::vector<cv::Mat>(3, cv::repeat(ramp, body.height, 1)), rampBgr);
  shaded += rampBgr;
  shaded.copyTo(canvas(body));

  cv::circle(canvas, at(55, 60), radius(22), kHole, cv::FILLED, cv::LINE_AA);
  if (defect != Defect::kMissingFeature) {
    cv::circle(canvas, at(115, 60), radius(22), kHole, cv::FILLED, cv::LINE_AA);
  }
  cv::rectangle(canvas, cv::Rect(at(40, 118), at(130, 148)), kHole, cv::FILLED, cv::LINE_AA);
  for (double x : {45.0, 85.0, 125.0}) {
    cv::circle(canvas, at(x, 195), radius(8), kHole, cv::FILLED, cv::LINE_AA);
  }
  cv::rectangle(canvas, cv::Rect(at(35, 225), at(135, 268)), kLabel, cv::FILLED, cv::LINE_AA);

  if (defect == Defect::kScratch) {
    cv::line(canvas, at(30, 160), at(140, 240), kScratch, radius(3), cv::LINE_AA);
  } else if (defect == Defect::kBlob) {
    cv::ellipse(canvas, at(62, 168), cv::Size(radius(22), radius(13)), 20, 0, 360, kStain,
                cv::FILLED, cv::LINE_AA);
  }
}

}  // namespace

cv::Mat drawProductPicture(cv::Size pictureSize, const ProductShot& shot) {
  const double s = pictureSize.width / kUnitWidth;
  // The plate is drawn upright on a square canvas large enough for any rotation, then turned and
  // moved into place, so that its edges are antialiased like a photograph's.
  const int side = cvCeil(std::hypot(kPlateWidth, kPlateHeight) * s) + 8;
  const cv::Point2d canvasCentre(side / 2.0, side / 2.0);
  const cv::Point2d origin(canvasCentre.x - kPlateWidth * s / 2,
                           canvasCentre.y - kPlateHeight * s / 2);
  cv::Mat canvas(side, side, CV_32FC3);
  drawPlate(s, origin, shot.defect, canvas);

  cv::Mat transform = cv::getRotationMatrix2D(canvasCentre, shot.angleDegrees, 1.0);
  const cv::Point2d centre(pictureSize.width / 2.0 + shot.shift.x * s,
                           pictureSize.height / 2.0 + shot.shift.y * s);
  transform.at<double>(0, 2) += centre.x - canvasCentre.x;
  transform.at<double>(1, 2) += centre.y - canvasCentre.y;
  // The canvas around the plate is table already, so the warp's fill completes the scene.
  cv::Mat picture;
  cv::warpAffine(canvas, picture, transform, pictureSize, cv::INTER_LINEAR, cv::BORDER_CONSTANT,
                 kTable);

  cv::RNG rng(shot.seed);
  cv::Mat noise(pictureSize, CV_32FC3);
  rng.fill(noise, cv::RNG::NORMAL, 0.0, kNoiseSigma);
  picture += noise;

  cv::Mat result;
  picture.convertTo(result, CV_8UC3);
  return result;
}

cv::Size templateSizeFor(cv::Size pictureSize) {
  const double s = pictureSize.width / kUnitWidth;
  return cv::Size(cvRound(kTemplateWidth * s), cvRound(kTemplateHeight * s));
}

}  // namespace demo
