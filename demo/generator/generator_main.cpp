// Writes the demo's product pictures and the template size file.
//   tallen_demo_generator PICTURE_DIR WORKING_DIR
// PICTURE_DIR receives <name>.jpg for every good sample and inspection picture; WORKING_DIR (the
// directory the inspection runs in) is created and ../param.csv is written one level above it.

#include "generator/demo_set.h"
#include "generator/product_scene.h"

#include <opencv2/imgcodecs.hpp>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

namespace {

namespace fs = std::filesystem;

const cv::Size kPictureSize(640, 480);
constexpr int kJpegQuality = 95;

bool writePicture(const fs::path& path, const cv::Mat& picture) {
  return cv::imwrite(path.string(), picture, {cv::IMWRITE_JPEG_QUALITY, kJpegQuality});
}

bool writeParamFile(const fs::path& path, cv::Size size) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file << "width,height\n" << size.width << ',' << size.height << '\n';
  file.close();
  return static_cast<bool>(file);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: tallen_demo_generator PICTURE_DIR WORKING_DIR\n");
    return 2;
  }
  const fs::path pictureDir = argv[1];
  const fs::path workingDir = argv[2];
  std::error_code error;
  fs::create_directories(pictureDir, error);
  if (!error) fs::create_directories(workingDir, error);
  if (error) {
    std::fprintf(stderr, "tallen_demo_generator: %s\n", error.message().c_str());
    return 1;
  }

  std::vector<demo::NamedShot> shots = demo::goodSamples();
  for (const demo::NamedShot& shot : demo::inspectionPictures()) shots.push_back(shot);
  for (const demo::NamedShot& shot : shots) {
    const fs::path path = pictureDir / (shot.name + ".jpg");
    if (!writePicture(path, demo::drawProductPicture(kPictureSize, shot.shot))) {
      std::fprintf(stderr, "tallen_demo_generator: cannot write %s\n", path.c_str());
      return 1;
    }
  }
  const fs::path paramFile = fs::canonical(workingDir).parent_path() / "param.csv";
  if (!writeParamFile(paramFile, demo::templateSizeFor(kPictureSize))) {
    std::fprintf(stderr, "tallen_demo_generator: cannot write %s\n", paramFile.c_str());
    return 1;
  }
  std::fprintf(stderr, "tallen_demo_generator: %zu pictures in %s, template size in %s\n",
               shots.size(), pictureDir.c_str(), paramFile.c_str());
  return 0;
}
