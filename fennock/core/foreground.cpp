#include "core/foreground.h"

#include <opencv2/core/hal/intrin.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cstdlib>

namespace fennock {

namespace {

constexpr int kMedianAperture = 3;
constexpr double kMaskValue = 255.0;
constexpr double kViewFactor = 3.0;
constexpr uchar kForeground = 255;

// OpenCV's 8-bit BGR2GRAY is exactly (3735 B + 19235 G + 9798 R + 16384) >> 15, which is above 0
// exactly when the weighted sum reaches 16384: any green, red of 2 or more, blue of 5 or more,
// or red 1 with blue 2 or more. The mask follows from comparisons, without forming the gray.
inline bool grayAboveZero(int b, int g, int r) {
  return g > 0 || r > 1 || b > 4 || (r == 1 && b > 1);
}

inline int excess(uchar value, uchar reference, uchar tolerance) {
  return std::max(0, std::abs(value - reference) - tolerance);
}

void markRow(const uchar* frame, const uchar* background, const uchar* twice, uchar* mask,
             int width) {
  int x = 0;
#if CV_SIMD
  const int lanes = cv::v_uint8::nlanes;
  const cv::v_uint8 one = cv::vx_setall_u8(1);
  const cv::v_uint8 four = cv::vx_setall_u8(4);
  const cv::v_uint8 zero = cv::vx_setzero_u8();
  // The excess is computed on the interleaved bytes, which needs no shuffling; only the excess
  // is then split into its channels, through a small buffer that stays in L1.
  alignas(64) uchar excessBytes[3 * cv::v_uint8::nlanes];
  for (; x <= width - lanes; x += lanes) {
    for (int part = 0; part < 3; ++part) {
      const int offset = 3 * x + part * lanes;
      // Unsigned 8-bit subtraction of universal intrinsics saturates at 0.
      const cv::v_uint8 excessPart =
          cv::v_absdiff(cv::vx_load(frame + offset), cv::vx_load(background + offset)) -
          cv::vx_load(twice + offset);
      cv::v_store_aligned(excessBytes + part * lanes, excessPart);
    }
    cv::v_uint8 eb, eg, er;
    cv::v_load_deinterleave(excessBytes, eb, eg, er);
    const cv::v_uint8 marked = (eg > zero) | (er > one) | (eb > four) | ((er == one) & (eb > one));
    cv::v_store(mask + x, marked);
  }
  cv::vx_cleanup();
#endif
  for (; x < width; ++x) {
    const int i = 3 * x;
    const bool marked = grayAboveZero(excess(frame[i], background[i], twice[i]),
                                      excess(frame[i + 1], background[i + 1], twice[i + 1]),
                                      excess(frame[i + 2], background[i + 2], twice[i + 2]));
    mask[x] = marked ? kForeground : 0;
  }
}

}  // namespace

WorkImages::WorkImages(cv::Size size)
    : diffImage(size, CV_8UC3),
      maskImage(size, CV_8UC1),
      grayImage(size, CV_8UC1),
      sampleImage(size, CV_8UC3),
      meanFrame(size, CV_8UC3),
      twiceThreshold(size, CV_8UC3),
      thresholdView(size, CV_8UC3) {}

void refreshModelViews(const cv::Mat& threshold, WorkImages& work) {
  // Two saturating subtractions of t equal one of min(255, 2t).
  cv::add(threshold, threshold, work.twiceThreshold);
  threshold.convertTo(work.thresholdView, -1, kViewFactor);
}

void markForeground(const cv::Mat& frame, const cv::Mat& background, const cv::Mat& twiceThreshold,
                    cv::Mat& rawMask) {
  CV_Assert(frame.type() == CV_8UC3 && background.type() == CV_8UC3 &&
            twiceThreshold.type() == CV_8UC3);
  CV_Assert(background.size() == frame.size() && twiceThreshold.size() == frame.size());
  rawMask.create(frame.size(), CV_8UC1);

  cv::Size size = frame.size();
  if (frame.isContinuous() && background.isContinuous() && twiceThreshold.isContinuous() &&
      rawMask.isContinuous()) {
    size.width *= size.height;
    size.height = 1;
  }
  for (int y = 0; y < size.height; ++y) {
    markRow(frame.ptr<uchar>(y), background.ptr<uchar>(y), twiceThreshold.ptr<uchar>(y),
            rawMask.ptr<uchar>(y), size.width);
  }
}

void computeLiveMask(const cv::Mat& frame, const cv::Mat& background, WorkImages& work) {
  markForeground(frame, background, work.twiceThreshold, work.grayImage);
  cv::medianBlur(work.grayImage, work.maskImage, kMedianAperture);
}

void computeLiveMaskPlain(const cv::Mat& frame, const cv::Mat& background, const cv::Mat& threshold,
                          WorkImages& work) {
  cv::absdiff(frame, background, work.diffImage);
  cv::subtract(work.diffImage, threshold, work.diffImage);
  cv::subtract(work.diffImage, threshold, work.diffImage);
  cv::cvtColor(work.diffImage, work.grayImage, cv::COLOR_BGR2GRAY);
  cv::threshold(work.grayImage, work.maskImage, 0, kMaskValue, cv::THRESH_BINARY);
  cv::medianBlur(work.maskImage, work.maskImage, kMedianAperture);
}

void cutSample(const cv::Mat& background, const cv::Mat& threshold, WorkImages& work) {
  cv::absdiff(work.meanFrame, background, work.diffImage);
  cv::subtract(work.diffImage, threshold, work.diffImage);
  cv::cvtColor(work.diffImage, work.grayImage, cv::COLOR_BGR2GRAY);
  cv::threshold(work.grayImage, work.maskImage, 0, kMaskValue, cv::THRESH_BINARY);
  work.sampleImage.setTo(cv::Scalar::all(0));
  work.meanFrame.copyTo(work.sampleImage, work.maskImage);
  cv::medianBlur(work.sampleImage, work.sampleImage, kMedianAperture);
}

}  // namespace fennock
