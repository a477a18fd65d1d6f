#include "core/sample_stats.h"

#include "core/procedure_error.h"

#include <opencv2/imgproc.hpp>

namespace tallen {
namespace {

constexpr double kThresholdToDeviation = 0.2;
constexpr double kDeviationToThreshold = 5.0;
constexpr double kDeviationExponent = 0.5;

void requireModelImage(const cv::Mat& image, cv::Size size, const char* what) {
  if (image.type() != CV_8UC3 || image.size() != size) {
    throw InspectionError(std::string(what) + " image must be 8-bit colour of the sample's size");
  }
}

}  // namespace

void accumulateSampleStats(int n, const cv::Mat& sample, cv::Mat& mean, cv::Mat& threshold,
                           SampleStatsBuffers* buffers) {
  if (n < 1) throw InspectionError("sample number must be at least 1");
  if (sample.type() != CV_32FC3) throw InspectionError("sample must be a float colour image");

  SampleStatsBuffers local;
  SampleStatsBuffers& work = buffers != nullptr ? *buffers : local;
  // Every step is elementwise, so the work images are overwritten in place.
  cv::Mat& sum = work.sum;
  cv::Mat& squareSum = work.squareSum;
  cv::Mat& floatMean = work.mean;
  cv::Mat& spread = work.spread;
  cv::Mat& square = work.square;
  if (n == 1) {
    sum.create(sample.size(), CV_32FC3);
    sum.setTo(cv::Scalar::all(0));
    squareSum.create(sample.size(), CV_32FC3);
    squareSum.setTo(cv::Scalar::all(0));
  } else {
    requireModelImage(mean, sample.size(), "mean");
    requireModelImage(threshold, sample.size(), "threshold");
    // Rebuild the sums of the previous n - 1 samples from the stored mean and tolerance.
    const double previous = n - 1;
    mean.convertTo(floatMean, CV_32F, 1.0, 0.0);
    floatMean.convertTo(sum, CV_32F, previous, 0.0);
    threshold.convertTo(spread, CV_32F, 1.0, 0.0);
    spread.convertTo(spread, CV_32F, kThresholdToDeviation, 0.0);
    cv::multiply(spread, spread, spread, 1.0);
    cv::multiply(floatMean, floatMean, square, 1.0);
    cv::add(spread, square, squareSum);
    squareSum.convertTo(squareSum, CV_32F, previous, 0.0);
  }

  cv::accumulate(sample, sum);
  cv::accumulateSquare(sample, squareSum);

  const double r = 1.0 / n;
  sum.convertTo(floatMean, CV_32F, r, 0.0);
  cv::Mat& meanOfSquares = spread;
  squareSum.convertTo(meanOfSquares, CV_32F, r, 0.0);
  floatMean.convertTo(mean, CV_8U, 1.0, 0.0);

  cv::multiply(floatMean, floatMean, square, 1.0);
  cv::Mat& variance = meanOfSquares;
  cv::subtract(meanOfSquares, square, variance);
  // Rounding can leave a variance just below zero; its magnitude is raised, never a NaN.
  cv::absdiff(variance, cv::Scalar::all(0), variance);
  cv::pow(variance, kDeviationExponent, variance);
  variance.convertTo(threshold, CV_8U, kDeviationToThreshold, 0.0);
}

}  // namespace tallen
