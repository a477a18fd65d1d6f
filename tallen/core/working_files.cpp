#include "core/working_files.h"

#include "core/picture_file.h"
#include "core/procedure_error.h"
#include "core/size_text.h"

#include <opencv2/imgcodecs.hpp>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace tallen {
namespace {

void writeBytes(const std::string& path, const std::vector<uchar>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) throw InspectionError(path + ": cannot be written");
}

}  // namespace

cv::Mat loadWorkingImage(const std::string& path, cv::Size size) {
  std::error_code ec;
  if (!std::filesystem::exists(path, ec)) {
    throw InspectionError(path + ": missing (register the template and samples first)");
  }
  const auto wrongSize = [&path, size](cv::Size found) {
    return InspectionError(path + ": wrong size " + sizeText(found) + ", expected " +
                           sizeText(size) + " from the template size setting");
  };
  cv::Mat image;
  try {
    // The declared size is checked before decoding, so a damaged file cannot claim gigapixels.
    image = readPicture(
        path, cv::IMREAD_ANYDEPTH | cv::IMREAD_ANYCOLOR, [&](const PictureHeader& header) {
          // Transposed, an orientation tag may still turn it into shape.
          if (header.size != size && header.size != cv::Size(size.height, size.width))
            throw wrongSize(header.size);
        });
  } catch (const PictureError& e) {
    throw InspectionError(path + ": unreadable (" + e.reason() + ")");
  }
  if (image.type() != CV_8UC3) {
    throw InspectionError(path + ": wrong kind of image (expected 8-bit colour)");
  }
  if (image.size() != size) throw wrongSize(image.size());
  return image;
}

std::vector<uchar> encodeWorkingImage(const std::string& path, const cv::Mat& image) {
  std::vector<uchar> bytes;
  try {
    if (cv::imencode(".jpg", image, bytes)) return bytes;
  } catch (const cv::Exception& e) {
    throw InspectionError(path + ": cannot be encoded as JPEG (" + e.msg + ")");
  }
  throw InspectionError(path + ": cannot be encoded as JPEG");
}

void saveWorkingImages(const std::vector<std::pair<std::string, cv::Mat>>& images) {
  std::vector<WorkingFile> files;
  for (const auto& [path, image] : images) files.push_back({path, encodeWorkingImage(path, image)});
  saveWorkingFiles(files);
}

void saveWorkingFiles(const std::vector<WorkingFile>& files) {
  std::vector<std::string> temporaries;
  auto discardTemporaries = [&temporaries] {
    for (const std::string& t : temporaries) std::remove(t.c_str());
  };
  try {
    for (const WorkingFile& file : files) {
      const std::string temporary = file.path + ".tmp";
      temporaries.push_back(temporary);
      writeBytes(temporary, file.bytes);
    }
  } catch (...) {
    discardTemporaries();
    throw;
  }
  // Old files are kept under a second name until every new one is in place, so that a failed
  // rename can put the previous set back.
  namespace fs = std::filesystem;
  std::vector<std::string> backups(files.size());
  auto restore = [&](std::size_t renamed) {
    for (std::size_t j = 0; j < renamed; ++j) {
      std::error_code ignored;
      if (!backups[j].empty())
        fs::rename(backups[j], files[j].path, ignored);
      else
        fs::remove(files[j].path, ignored);
    }
    for (const std::string& b : backups) {
      std::error_code ignored;
      if (!b.empty()) fs::remove(b, ignored);
    }
    discardTemporaries();
  };
  for (std::size_t i = 0; i < files.size(); ++i) {
    const std::string& path = files[i].path;
    std::error_code ec;
    const fs::file_status status = fs::symlink_status(path, ec);
    if (!fs::exists(status)) continue;
    if (!fs::is_regular_file(status)) {
      restore(0);
      throw InspectionError(path + ": cannot be replaced (not a regular file)");
    }
    backups[i] = path + ".bak";
    fs::remove(backups[i], ec);
    fs::create_hard_link(path, backups[i], ec);
    if (ec) {
      backups[i].clear();
      restore(0);
      throw InspectionError(path + ": cannot be replaced (" + ec.message() + ")");
    }
  }
  for (std::size_t i = 0; i < files.size(); ++i) {
    std::error_code ec;
    fs::rename(temporaries[i], files[i].path, ec);
    if (ec) {
      restore(i);
      throw InspectionError(files[i].path + ": cannot be replaced (" + ec.message() + ")");
    }
  }
  for (const std::string& b : backups) {
    std::error_code ignored;
    if (!b.empty()) fs::remove(b, ignored);
  }
}

}  // namespace tallen
