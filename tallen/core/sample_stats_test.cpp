#include "core/sample_stats.h"

#include <gtest/gtest.h>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <cmath>

namespace tallen {
namespace {

const cv::Size kSize(7, 5);

struct StatsCase {
  int n;
  double storedMean;
  double storedThreshold;
  double sample;
  int mean;
  int threshold;
  friend void PrintTo(const StatsCase& c, std::ostream* os) { *os << "n=" << c.n; }
};

class SampleStatsUpdate : public ::testing::TestWithParam<StatsCase> {};

TEST_P(SampleStatsUpdate, GivesMeanAndFiveSigma) {
  const StatsCase& c = GetParam();
  const cv::Mat sample(kSize, CV_32FC3, cv::Scalar::all(c.sample));
  cv::Mat mean(kSize, CV_8UC3, cv::Scalar::all(c.storedMean));
  cv::Mat threshold(kSize, CV_8UC3, cv::Scalar::all(c.storedThreshold));
  accumulateSampleStats(c.n, sample, mean, threshold);
  EXPECT_EQ(cv::countNonZero(mean.reshape(1) != c.mean), 0) << mean.at<cv::Vec3b>(0, 0);
  EXPECT_EQ(cv::countNonZero(threshold.reshape(1) != c.threshold), 0)
      << threshold.at<cv::Vec3b>(0, 0);
}

INSTANTIATE_TEST_SUITE_P(Cases, SampleStatsUpdate,
                         ::testing::ValuesIn(std::vector<StatsCase>{
                             {1, 77, 99, 110, 110, 0},  // n = 1 ignores what was stored
                             {2, 100, 0, 110, 105, 25},
                             {3, 100, 25, 100, 100, 20},
                             {5, 200, 0, 200, 200, 0},
                             {2, 0, 0, 255, 128, 255},  // 127.5 rounds up, 637.5 saturates
                             {1001, 50, 255, 50, 50, 255},
                         }));

TEST(SampleStats, MatchesTheClosedFormOnRandomSamplesAndLeavesTheSampleAlone) {
  cv::RNG rng(12345);
  cv::Mat sample(kSize, CV_32FC3);
  cv::Mat bytes(kSize, CV_8UC3);
  rng.fill(bytes, cv::RNG::UNIFORM, 0, 256);
  bytes.convertTo(sample, CV_32F);
  const cv::Mat before = sample.clone();
  cv::Mat storedMean(kSize, CV_8UC3);
  cv::Mat storedThreshold(kSize, CV_8UC3);
  rng.fill(storedMean, cv::RNG::UNIFORM, 0, 256);
  rng.fill(storedThreshold, cv::RNG::UNIFORM, 0, 120);
  cv::Mat mean = storedMean.clone();
  cv::Mat threshold = storedThreshold.clone();
  const int n = 4;
  accumulateSampleStats(n, sample, mean, threshold);

  EXPECT_EQ(cv::norm(sample, before, cv::NORM_INF), 0.0);
  for (int y = 0; y < kSize.height; ++y) {
    for (int x = 0; x < kSize.width; ++x) {
      for (int ch = 0; ch < 3; ++ch) {
        const double x0 = sample.at<cv::Vec3f>(y, x)[ch];
        const double m0 = storedMean.at<cv::Vec3b>(y, x)[ch];
        const double s0 = storedThreshold.at<cv::Vec3b>(y, x)[ch] / 5.0;
        const double m = ((n - 1) * m0 + x0) / n;
        const double var = (n - 1.0) / n * s0 * s0 + (n - 1.0) / (n * n) * (x0 - m0) * (x0 - m0);
        EXPECT_NEAR(mean.at<cv::Vec3b>(y, x)[ch], std::min(255.0, m), 0.51);
        EXPECT_NEAR(threshold.at<cv::Vec3b>(y, x)[ch], std::min(255.0, 5 * std::sqrt(var)), 0.51);
      }
    }
  }
}

TEST(SampleStats, FirstSampleFillsFreshImages) {
  const cv::Mat sample(kSize, CV_32FC3, cv::Scalar(1, 2, 3));
  cv::Mat mean;
  cv::Mat threshold;
  accumulateSampleStats(1, sample, mean, threshold);
  ASSERT_EQ(mean.type(), CV_8UC3);
  ASSERT_EQ(mean.size(), kSize);
  EXPECT_EQ(mean.at<cv::Vec3b>(4, 6), cv::Vec3b(1, 2, 3));
  EXPECT_EQ(cv::countNonZero(threshold.reshape(1)), 0);
}

// The accumulation written as plain library calls on fresh images, one per step.
void referenceStats(int n, const cv::Mat& sample, cv::Mat& mean, cv::Mat& threshold) {
  cv::Mat sum;
  cv::Mat squareSum;
  if (n == 1) {
    sum = cv::Mat::zeros(sample.size(), CV_32FC3);
    squareSum = cv::Mat::zeros(sample.size(), CV_32FC3);
  } else {
    const double previous = n - 1;
    cv::Mat previousMean;
    mean.convertTo(previousMean, CV_32F, 1.0, 0.0);
    previousMean.convertTo(sum, CV_32F, previous, 0.0);
    cv::Mat previousThreshold;
    threshold.convertTo(previousThreshold, CV_32F, 1.0, 0.0);
    cv::Mat previousDeviation;
    previousThreshold.convertTo(previousDeviation, CV_32F, 0.2, 0.0);
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
  cv::Mat deviation;
  cv::pow(cv::abs(variance), 0.5, deviation);
  deviation.convertTo(threshold, CV_8U, 5.0, 0.0);
}

// Twelve samples folded in one after the other, with buffers kept across calls (and across a
// change of size), give bit for bit the model of the plain calls.
TEST(SampleStats, KeptBuffersGiveTheModelOfPlainCalls) {
  cv::setRNGSeed(20261211);
  cv::Mat mean;
  cv::Mat threshold;
  SampleStatsBuffers buffers;
  for (const cv::Size size : {cv::Size(61, 47), cv::Size(33, 20)}) {
    cv::Mat expectedMean;
    cv::Mat expectedThreshold;
    for (int n = 1; n <= 12; ++n) {
      cv::Mat bytes(size, CV_8UC3);
      // Narrow ranges leave variances near zero, where rounding can make them negative.
      cv::randu(bytes, cv::Scalar::all(n % 3 == 0 ? 120 : 0),
                cv::Scalar::all(n % 3 == 0 ? 123 : 256));
      cv::Mat sample;
      bytes.convertTo(sample, CV_32F);
      if (n == 1) {
        expectedMean.create(size, CV_8UC3);
        expectedThreshold.create(size, CV_8UC3);
      }
      referenceStats(n, sample, expectedMean, expectedThreshold);
      accumulateSampleStats(n, sample, mean, threshold, &buffers);
      ASSERT_EQ(cv::norm(mean, expectedMean, cv::NORM_INF), 0.0) << "n=" << n;
      ASSERT_EQ(cv::norm(threshold, expectedThreshold, cv::NORM_INF), 0.0) << "n=" << n;
    }
  }
}

}  // namespace
}  // namespace tallen
