#include "core/background_model.h"

#include <opencv2/imgproc.hpp>

namespace fennock {

std::unique_ptr<FrameSource> g_capture;
cv::Mat g_background;
cv::Mat g_threshold;

namespace {

constexpr int kFramesPerRun = 50;
constexpr double kAveragingFactor = 0.02;  // 1 / kFramesPerRun, applied as a scale factor
constexpr double kDeviationExponent = 0.5;
constexpr double kThresholdFactor = 5.0;

constexpr char kProgressFormat[] = "%d 枚中 %d 枚目\n";

// Adds the next kFramesPerRun frames into `sum` (and their squares into `sqSum` when given).
void accumulateFrames(cv::Size size, cv::Mat& sum, cv::Mat* sqSum, std::FILE* console) {
  cv::Mat frame;
  for (int i = 1; i <= kFramesPerRun; ++i) {
    readFrame(*g_capture, size, frame);
    cv::accumulate(frame, sum);
    if (sqSum != nullptr) cv::accumulateSquare(frame, *sqSum);
    std::fprintf(console, kProgressFormat, kFramesPerRun, i);
  }
}

}  // namespace

void buildBackgroundModel(int width, int height, std::FILE* console) {
  g_background.release();
  g_threshold.release();

  const cv::Size size(width, height);
  cv::Mat sumImage = cv::Mat::zeros(size, CV_32FC3);
  cv::Mat sqSumImage = cv::Mat::zeros(size, CV_32FC3);
  std::fputs("背景取得中...\n", console);
  accumulateFrames(size, sumImage, &sqSumImage, console);
  std::fputs("背景取得完了\n", console);

  sumImage.convertTo(sumImage, -1, kAveragingFactor);
  sqSumImage.convertTo(sqSumImage, -1, kAveragingFactor);
  cv::Mat background(size, CV_8UC3);
  sumImage.convertTo(background, CV_8U);

  // The mean is squared in place, so the background above must be taken first.
  cv::multiply(sumImage, sumImage, sumImage);
  cv::Mat varianceImage;
  cv::subtract(sqSumImage, sumImage, varianceImage);
  // Rounding can leave a variance slightly negative; its magnitude is raised, so the deviation
  // is small instead of NaN.
  cv::Mat deviationImage;
  cv::pow(cv::abs(varianceImage), kDeviationExponent, deviationImage);
  cv::Mat threshold(size, CV_8UC3);
  deviationImage.convertTo(threshold, CV_8U, kThresholdFactor);

  g_background = background;
  g_threshold = threshold;
}

void captureMeanFrame(cv::Mat& dst, int width, int height, std::FILE* console) {
  const cv::Size size(width, height);
  cv::Mat sumImage = cv::Mat::zeros(size, CV_32FC3);
  std::fputs("平均画像取得中...\n", console);
  accumulateFrames(size, sumImage, nullptr, console);
  std::fputs("平均画像取得完了\n", console);

  sumImage.convertTo(sumImage, -1, kAveragingFactor);
  dst.create(size, CV_8UC3);
  sumImage.convertTo(dst, CV_8U);
}

}  // namespace fennock
