#pragma once

#include "core/procedure_error.h"

#include <opencv2/core.hpp>

#include <cstddef>
#include <functional>
#include <string>

namespace tallen {

// Pictures above this many pixels are refused before decoding, unless the environment variable
// below raises (or lowers) the limit.
constexpr long long kDefaultMaxPicturePixels = 100'000'000;
// Whole megapixels, for example TALLEN_MAX_MEGAPIXELS=400.
constexpr const char kMaxMegapixelsVariable[] = "TALLEN_MAX_MEGAPIXELS";

// A picture file that cannot be used: `reason` says why without the path, what() is
// "<path>: <reason>", so that each caller can phrase its own message around the reason.
class PictureError : public InspectionError {
 public:
  PictureError(const std::string& path, const std::string& reason)
      : InspectionError(path + ": " + reason), reason_(reason) {}
  const std::string& reason() const { return reason_; }

 private:
  std::string reason_;
};

// The file formats whose size is read from the header before anything is decoded.
enum class PictureFormat { kJpeg, kPng, kBmp, kPnm };

// What a picture file declares about itself.
struct PictureHeader {
  PictureFormat format;
  cv::Size size;
};

// The header of the picture held in `bytes` (the file's first bytes or all of them).
// Returns false when more bytes are needed to reach the size. Throws PictureError naming `path`
// when the bytes are not of a known format or the header is damaged or declares no size.
bool parsePictureHeader(const std::string& path, const uchar* bytes, std::size_t count,
                        PictureHeader& header);

// Reads only as much of the file as its header needs. Throws PictureError naming `path` when the
// file is missing, not a regular file, unreadable, not of a known format, or its header is cut
// short or damaged.
PictureHeader readPictureHeader(const std::string& path);

// The pixel limit: kDefaultMaxPicturePixels, or the environment variable's megapixels.
// Throws InspectionError naming the variable when it is set but not a positive whole number.
long long maxPicturePixels();

// Throws PictureError naming `path`, the declared size and the limit when `size` holds more
// pixels than maxPicturePixels().
void requirePixelLimit(const std::string& path, cv::Size size);

// True when `bytes` hold a JPEG stream complete up to its end-of-image marker: every segment
// and every entropy-coded scan is there in full. A file cut anywhere fails.
bool isCompleteJpeg(const uchar* bytes, std::size_t count);

// A test of the declared header before decoding; throws to refuse the file.
using PictureHeaderCheck = std::function<void(const PictureHeader&)>;

// Decodes the whole file as cv::imread(path, flags) does, pixel for pixel, but refuses instead of
// returning part of a picture: the header of the bytes about to be decoded goes through `check`
// first, a JPEG must be complete, and a failure of the decoder (OpenCV's own size limits
// included) is an error. The file is read once. Throws PictureError naming `path`.
cv::Mat readPicture(const std::string& path, int flags, const PictureHeaderCheck& check);

// As above with the pixel limit as the check.
cv::Mat readPicture(const std::string& path, int flags);

}  // namespace tallen
