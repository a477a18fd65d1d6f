#pragma once

#include <stdexcept>
#include <string>

namespace tallen {

// Every failure of the inspection procedure that the operator must see: a missing or malformed
// settings file, a missing or mismatched working file, no object in the picture, a failed save.
// The message names the file or the sizes involved. Nothing has been written when it is thrown.
class InspectionError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A failure caused by the picture itself: no object in it, smaller than the template, a match
// too poor. The message does not name the picture; a caller that knows its name adds it.
class PictureRefusal : public InspectionError {
 public:
  using InspectionError::InspectionError;
};

}  // namespace tallen
