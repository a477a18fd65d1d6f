#pragma once

#include "core/console.h"
#include "core/image_viewer.h"
#include "core/procedure.h"

#include <opencv2/core.hpp>

#include <string>

namespace tallen {

// Checks an operator's picture by its header alone (it exists, is a regular file of a format
// whose size can be read, and declares no more pixels than the limit), decoding nothing.
// Throws InspectionError "cannot read the image <path>: <reason>".
void checkPicture(const std::string& path);

// Loads a picture the way the dialog's holder does: any accepted file, decoded completely, as
// 8-bit colour. Throws InspectionError as checkPicture does, or when it does not decode whole.
cv::Mat loadPicture(const std::string& path);

// Loads the picture once and runs the procedure on it in `mode`. A refusal caused by the picture
// itself (no object, smaller than the template, a poor match) is prefixed with its path.
ProcedureResult processPicture(const std::string& path, int mode, ImageViewer& viewer,
                               const Console& console);

}  // namespace tallen
