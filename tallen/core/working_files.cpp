#include "core/working_files.h"

#include "core/inspection_error.h"

#include <opencv2/imgcodecs.hpp>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace tallen {
namespace {

std::string sizeText(cv::Size size) {
  return std::to_string(size.width) + "x" + std::to_string(size.height);
}

void writeBytes(const std::string& path, const std::vector<uchar>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) throw InspectionError(path + ": cannot be written");
}

}  // namespace

cv::Mat loadWorkingImage(const std::string& path, cv::Size size) {
  std::error_code ec;
  if (!std::filesystem::exists(path, ec)) {
    throw InspectionError(path + ": missing (register the template and samples first)");
  }
  cv::Mat image;
  try {
    image = cv::imread(path, cv::IMREAD_ANYDEPTH | cv::IMREAD_ANYCOLOR);
  } catch (const cv::Exception&) {
    image.release();
  }
  if (image.empty()) throw InspectionError(path + ": unreadable (not a decodable image)");
  if (image.type() != CV_8UC3) {
    throw InspectionError(path + ": wrong kind of image (expected 8-bit colour)");
  }
  if (image.size() != size) {
    throw InspectionError(path + ": wrong size " + sizeText(image.size()) + ", expected " +
                          sizeText(size) + " from the template size setting");
  }
  return image;
}

void saveWorkingImages(const std::vector<std::pair<std::string, cv::Mat>>& files) {
  std::vector<std::string> temporaries;
  auto discardTemporaries = [&temporaries] {
    for (const std::string& t : temporaries) std::remove(t.c_str());
  };
  try {
    for (const auto& [path, image] : files) {
      std::vector<uchar> bytes;
      if (!cv::imencode(".jpg", image, bytes)) {
        throw InspectionError(path + ": cannot be encoded as JPEG");
      }
      const std::string temporary = path + ".tmp";
      temporaries.push_back(temporary);
      writeBytes(temporary, bytes);
    }
  } catch (const cv::Exception& e) {
    discardTemporaries();
    throw InspectionError(files.front().first + ": cannot be encoded as JPEG (" + e.msg + ")");
  } catch (...) {
    discardTemporaries();
    throw;
  }
  for (std::size_t i = 0; i < files.size(); ++i) {
    std::error_code ec;
    std::filesystem::rename(temporaries[i], files[i].first, ec);
    if (ec) {
      for (std::size_t j = i; j < files.size(); ++j) std::remove(temporaries[j].c_str());
      throw InspectionError(files[i].first + ": cannot be replaced (" + ec.message() + ")");
    }
  }
}

}  // namespace tallen
