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

void accumulateSampleStats(int n, const cv::Mat& sample, cv::Mat& mean, cv::Mat& threshold) {
  if (n < 1) throw InspectionError("sample number must be at least 1");
  if (sample.type() != CV_32FC3) throw InspectionError("sample must be a float colour image");

  cv::Mat sum;
  cv::Mat squareSum;
  if (n == 1) {
    sum = cv::Mat::zeros(sample.size(), CV_32FC3);
    squareSum = cv::Mat::zeros(sample.size(), CV_32FC3);
  } else {
    requireModelImage(mean, sample.size(), "mean");
    requireModelImage(threshold, sample.size(), "threshold");
    // Rebuild the sums of the previous n - 1 samples from the stored mean and tolerance.
    const double previous = n - 1;
    cv::Mat previousMean;
    mean.convertTo(previousMean, CV_32F, 1.0, 0.0);
    previousMean.convertTo(sum, CV_32F, previous, 0.0);
    cv::Mat previousThreshold;
    threshold.convertTo(previousThreshold, CV_32F, 1.0, 0.0);
    cv::Mat previousDeviation;
    previousThreshold.convertTo(previousDeviation, CV_32F, kThresholdToDeviation, 0.0);
    cv::Mat previousVariance;
    cv::multiply(previousDeviation, previousDeviation, previousVariance, 1.0);
    cv::Mat meanSquare;
    cv::multiply(previousMean, previousMean, meanSquare, 1.0);
    cv::add(previousVariance, meanSquare, squareSum);
    squareSum.convertTo(squareSum, CV_32F, previous, 0.0);
  }

  cv::accumulate(sample, sum);
  cv::accumulateSquare(sample, squareSum);

  const double r = 1.0 / n;
  cv::Mat floatMean;
  sum.convertTo(floatMean, CV_32F, r, 0.0);
  cv::Mat meanOfSquares;
  squareSum.convertTo(meanOfSquares, CV_32F, r, 0.0);
  floatMean.convertTo(mean, CV_8U, 1.0, 0.0);

  cv::Mat squareOfMean;
  cv::multiply(floatMean, floatMean, squareOfMean, 1.0);
  cv::Mat variance;
  cv::subtract(meanOfSquares, squareOfMean, variance);
  // Rounding can leave a variance just below zero; its magnitude is raised, never a NaN.
  cv::Mat deviation;
  cv::pow(cv::abs(variance), kDeviationExponent, deviation);
  deviation.convertTo(threshold, CV_8U, kDeviationToThreshold, 0.0);
}

}  // namespace tallen
