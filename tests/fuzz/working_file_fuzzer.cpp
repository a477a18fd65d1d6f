// Loads arbitrary bytes as a working file of a 16x16 template: every input gives a 16x16 8-bit
// colour image or an InspectionError naming the file.
#include "core/procedure_error.h"
#include "core/working_files.h"
#include "fuzz_folder.h"

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

const cv::Size kTemplateSize(16, 16);

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string path = tallen::fuzzing::fuzzFolder() + "/gdaccnumI.jpg";
  tallen::fuzzing::writeInput(path, data, size);
  try {
    const cv::Mat image = tallen::loadWorkingImage(path, kTemplateSize);
    if (image.size() != kTemplateSize || image.type() != CV_8UC3) std::abort();
  } catch (const tallen::InspectionError& e) {
    if (std::string(e.what()).rfind(path, 0) != 0) std::abort();
  }
  return 0;
}
