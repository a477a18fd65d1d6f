#pragma once

#include <opencv2/core.hpp>

#include <string>

namespace tallen {

// A size as messages give it: "WxH".
inline std::string sizeText(cv::Size size) {
  return std::to_string(size.width) + "x" + std::to_string(size.height);
}

}  // namespace tallen
