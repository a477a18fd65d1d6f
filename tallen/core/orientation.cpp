#include "core/orientation.h"

#include "core/bright_mask.h"

#include <opencv2/imgproc.hpp>

#include <cmath>

namespace tallen {
namespace {

constexpr char kSourceWindow[] = "ソースイメージ";
constexpr double kCannyLow = 50.0;
constexpr double kCannyHigh = 80.0;
constexpr int kCannyAperture = 3;
constexpr double kHoughRho = 1.0;
constexpr double kHoughTheta = CV_PI / 180.0;
constexpr int kHoughVotes = 50;
constexpr double kMinSegmentLength = 50.0;
constexpr double kMaxSegmentGap = 10.0;

cv::Point2f brightCentroid(const cv::Mat& mask) {
  const cv::Moments m = cv::moments(mask, false);
  // No bright pixel: there are no edges either, so the turn is 0 and any centre will do.
  if (m.m00 == 0.0) return cv::Point2f(mask.cols / 2.0f, mask.rows / 2.0f);
  return cv::Point2f(static_cast<float>(m.m10 / m.m00), static_cast<float>(m.m01 / m.m00));
}

}  // namespace

LongestSegment findLongestSegment(const std::vector<cv::Vec4i>& segments, std::FILE* trace) {
  LongestSegment longest;
  for (std::size_t i = 0; i < segments.size(); ++i) {
    const cv::Vec4i& s = segments[i];
    const double dx = static_cast<double>(s[2]) - s[0];
    const double dy = static_cast<double>(s[3]) - s[1];
    const double length = std::sqrt(std::pow(dy, 2.0) + std::pow(dx, 2.0));
    const double angle = std::atan2(dy, dx) / CV_PI * 180.0;
    if (length >= longest.length) {
      longest.found = true;
      longest.length = length;
      longest.angle = angle;
    }
    if (trace != nullptr) std::fprintf(trace, "%d,%lf,%lf\n", static_cast<int>(i), angle, length);
  }
  return longest;
}

double rotationAngleFor(const LongestSegment& longest) {
  if (!longest.found) return 0.0;
  const double a = longest.angle;
  if (a < 0.0) return a + 90.0;
  return -(90.0 - a);
}

void alignOrientation(const cv::Mat& source, cv::Mat& destination, ImageViewer& viewer,
                      std::FILE* trace, AlignmentBuffers* buffers) {
  AlignmentBuffers local;
  AlignmentBuffers& work = buffers != nullptr ? *buffers : local;
  const cv::Mat& bright = work.bright;
  brightMask(source, work.gray, work.bright);
  cv::Mat& edges = work.gray;
  cv::Canny(bright, edges, kCannyLow, kCannyHigh, kCannyAperture);
  std::vector<cv::Vec4i> segments;
  cv::HoughLinesP(edges, segments, kHoughRho, kHoughTheta, kHoughVotes, kMinSegmentLength,
                  kMaxSegmentGap);
  const LongestSegment longest = findLongestSegment(segments, trace);

  if (!longest.found) {
    source.copyTo(destination);
  } else {
    const cv::Point2f centre = brightCentroid(bright);
    cv::Mat& transform = work.transform;
    // The transform is single precision; warping with the doubles would move pixels.
    cv::getRotationMatrix2D(centre, rotationAngleFor(longest), 1.0).convertTo(transform, CV_32F);
    cv::warpAffine(source, destination, transform, source.size(), cv::INTER_LINEAR,
                   cv::BORDER_CONSTANT, cv::Scalar(0, 0, 0, 0));
  }
  viewer.show(kSourceWindow, source);
}

}  // namespace tallen
