#pragma once

#include <opencv2/core.hpp>

#include <cstdint>

namespace demo {

// What is wrong with the product in a picture.
enum class Defect { kNone, kScratch, kMissingFeature, kBlob };

// One photograph of the product: its pose on the table, its flaw and the noise seed.
struct ProductShot {
  double angleDegrees = 0.0;  // counter-clockwise on screen, about the object's centre
  cv::Point2d shift;          // of the object's centre from the picture centre, in 640x480 pixels
  Defect defect = Defect::kNone;
  std::uint64_t seed = 1;
};

// An 8-bit BGR photograph of size `pictureSize`: a bright plate with holes, a slot, dots and a
// label on a dark noisy table. Lengths scale with the picture width (640 is the unit), so the
// plate covers the same share of any picture. The plate's long sides are its longest straight
// edges, so the orientation step stands them vertical. Same shot, same pixels.
cv::Mat drawProductPicture(cv::Size pictureSize, const ProductShot& shot);

// The template size that holds the upright plate with a margin in a picture of `pictureSize`.
cv::Size templateSizeFor(cv::Size pictureSize);

}  // namespace demo
