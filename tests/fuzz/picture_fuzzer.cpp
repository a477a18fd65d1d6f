// Loads arbitrary bytes as an operator's picture: every input decodes completely, at the size
// its header declares, or is refused with a PictureError; nothing else may escape.
#include "core/picture_file.h"
#include "fuzz_folder.h"

#include <opencv2/imgcodecs.hpp>

#include <cstdint>
#include <cstdlib>

namespace {

// Small, so that a declared size cannot make the fuzzer run out of memory.
constexpr char kFuzzMegapixels[] = "4";

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  setenv(tallen::kMaxMegapixelsVariable, kFuzzMegapixels, 1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  tallen::PictureHeader header{};
  bool parsed = false;
  try {
    parsed = tallen::parsePictureHeader("input", data, size, header);
  } catch (const tallen::PictureError&) {
  }
  const bool complete = tallen::isCompleteJpeg(data, size);

  const std::string path = tallen::fuzzing::fuzzFolder() + "/picture";
  tallen::fuzzing::writeInput(path, data, size);
  try {
    const cv::Mat picture = tallen::readPicture(path, cv::IMREAD_COLOR);
    // What decoded was checked: its header parsed, a JPEG was complete, the size is declared.
    if (!parsed || picture.type() != CV_8UC3) std::abort();
    if (header.format == tallen::PictureFormat::kJpeg && !complete) std::abort();
    const cv::Size turned(header.size.height, header.size.width);
    if (picture.size() != header.size && picture.size() != turned) std::abort();
  } catch (const tallen::PictureError&) {
  }
  return 0;
}
