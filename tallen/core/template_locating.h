#pragma once

#include "core/image_viewer.h"

#include <opencv2/core.hpp>

#include <cstdio>

namespace tallen {

// Top-left corner of the latest best template match in picture pixels; (0, 0) at start.
extern cv::Point g_matchPoint;

// The best placement of a template: its top-left corner in picture pixels and its normalised
// cross-correlation score.
struct TemplateMatch {
  cv::Point point;
  double score = 0.0;
};

// Work images of a template search, kept by the caller so that repeated calls reuse them.
struct MatchBuffers {
  cv::Mat gray;
  cv::Mat templateGray;
  cv::Mat pictureMask;
  cv::Mat templateMask;
  cv::Mat scores;
};

// Finds `templ` in `picture` (both 8-bit BGR) by normalised cross-correlation of their Otsu masks,
// returns the best placement, prints "正規化相互相関関数=<score>" to `trace`
// unless it is null, draws the match rectangle and score into `picture` and shows it under
// "テンプレートマッチング". Throws InspectionError, touching nothing, when the template does not
// fit inside the picture.
// The caller publishes the point to g_matchPoint, so that concurrent calls share no state.
// `buffers` (may be null) holds the work images between calls.
TemplateMatch locateTemplate(cv::Mat& picture, const cv::Mat& templ, ImageViewer& viewer,
                             std::FILE* trace, MatchBuffers* buffers = nullptr);

// Throws InspectionError naming both sizes when a template does not fit inside the picture.
void requireTemplateFits(cv::Size templateSize, cv::Size pictureSize);

// The `size` window of `picture` centred on the match at `matchPoint` (its top-left corner),
// bilinearly sampled: its corner lies half a pixel right of and below the match point, so every
// pixel is the mean of a 2x2 block, the match rectangle's lines included.
void cutMatchedPatch(const cv::Mat& picture, cv::Point matchPoint, cv::Size size, cv::Mat& patch);

}  // namespace tallen
