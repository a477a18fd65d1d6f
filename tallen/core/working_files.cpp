#include "core/working_files.h"

#include "core/picture_file.h"
#include "core/procedure_error.h"
#include "core/size_text.h"
#include "core/working_folder.h"
#include "storage/file_set.h"
#include "storage/storage_error.h"

#include <opencv2/imgcodecs.hpp>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

namespace tallen {

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

std::optional<std::vector<uchar>> readWorkingFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::vector<uchar> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return std::nullopt;
  return bytes;
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
  std::vector<storage::FileContents> contents;
  for (const WorkingFile& file : files) contents.push_back({file.path, file.bytes});
  try {
    storage::replaceFiles(contents, workingFolderLockTimeout());
  } catch (const storage::StorageError& e) {
    throw InspectionError(e.what());
  }
}

}  // namespace tallen
