#pragma once

#include "core/image_viewer.h"

#include <opencv2/core.hpp>

#include <cstdio>
#include <vector>

namespace tallen {

// The longest of the probabilistic Hough segments, as the orientation step picks it.
struct LongestSegment {
  bool found = false;
  double angle = 0.0;   // degrees, atan2(dy, dx) of start to end point
  double length = 0.0;  // pixels
};

// Scans `segments` (x1, y1, x2, y2) in order; of equally long ones the later wins. Writes one
// line "i,angle,length" per segment to `trace` unless it is null.
LongestSegment findLongestSegment(const std::vector<cv::Vec4i>& segments, std::FILE* trace);

// Degrees to turn the picture (counter-clockwise positive, y down) so that the longest segment
// stands vertical. An angle of exactly 0 turns like the positive ones (-90); no segment: 0.
double rotationAngleFor(const LongestSegment& longest);

// Work images of an alignment, kept by the caller so that repeated calls reuse them.
// The edge image is written over the gray one, which the mask no longer needs.
struct AlignmentBuffers {
  cv::Mat gray;
  cv::Mat bright;
  cv::Mat transform;
};

// Rotates `source` (8-bit BGR) about the centroid of its bright (Otsu) area so that its longest
// straight edge stands vertical. `destination` is allocated to the source's size and type and
// fully overwritten; `source` stays unchanged and is shown under "ソースイメージ".
// `buffers` (may be null) holds the work images between calls.
void alignOrientation(const cv::Mat& source, cv::Mat& destination, ImageViewer& viewer,
                      std::FILE* trace, AlignmentBuffers* buffers = nullptr);

}  // namespace tallen
