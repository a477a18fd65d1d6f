#pragma once

#include <opencv2/core.hpp>

namespace fennock {

// The images one capture run works in, all at the frame size, allocated once before the loop.
struct WorkImages {
  // Allocates every image at `size`.
  explicit WorkImages(cv::Size size);

  cv::Mat diffImage;       // 8UC3: by how much the mean frame exceeds background + threshold
  cv::Mat maskImage;       // 8UC1: 255 foreground, 0 background
  cv::Mat grayImage;       // 8UC1: gray of diffImage, or the live mask before its median
  cv::Mat sampleImage;     // 8UC3: the cut-out sample that is saved
  cv::Mat meanFrame;       // 8UC3: mean of 50 frames
  cv::Mat twiceThreshold;  // 8UC3: 2 x threshold, saturated; follows the model
  cv::Mat thresholdView;   // 8UC3: 3 x threshold, saturated, for display; follows the model
};

// Refreshes the images derived from the tolerance image `threshold` (8UC3): twiceThreshold and
// thresholdView of `work`. Called after every model build.
void refreshModelViews(const cv::Mat& threshold, WorkImages& work);

// One fused pass over 8UC3 `frame`, `background` and `twiceThreshold`: `rawMask` (8UC1, same
// size, reused) becomes 255 where the gray value of max(0, |frame - background| - twiceThreshold)
// is above 0, else 0. Equal bit for bit to absdiff, subtract, BGR2GRAY and a binary threshold
// at 0.
void markForeground(const cv::Mat& frame, const cv::Mat& background, const cv::Mat& twiceThreshold,
                    cv::Mat& rawMask);

// The live foreground mask of `frame` against `background` with twice the tolerance, into
// work.maskImage (8UC1, 255/0): markForeground then a 3x3 median. Needs refreshModelViews
// first; allocates nothing.
void computeLiveMask(const cv::Mat& frame, const cv::Mat& background, WorkImages& work);

// The same live mask as computeLiveMask, into work.maskImage, computed the plain way: absolute
// difference, two saturating subtractions of `threshold`, gray, threshold at 0, median.
void computeLiveMaskPlain(const cv::Mat& frame, const cv::Mat& background, const cv::Mat& threshold,
                          WorkImages& work);

// Cuts the sample out of work.meanFrame: work.maskImage becomes 255 where the gray value of
// max(0, |meanFrame - background| - threshold) is above 0 (no median), and work.sampleImage the
// mean frame there and black elsewhere, then 3x3 median-filtered per channel. Uses diffImage and
// grayImage as scratch.
void cutSample(const cv::Mat& background, const cv::Mat& threshold, WorkImages& work);

}  // namespace fennock
