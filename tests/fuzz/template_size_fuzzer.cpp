// Reads arbitrary bytes as ../param.csv: every input gives a valid size or an InspectionError.
#include "core/procedure_error.h"
#include "core/template_size.h"
#include "fuzz_folder.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string path = tallen::fuzzing::fuzzFolder() + "/param.csv";
  tallen::fuzzing::writeInput(path, data, size);
  try {
    const tallen::TemplateSize read = tallen::readTemplateSize(path, nullptr);
    if (read.width < 1 || read.height < 1 || read.width > 65500 || read.height > 65500) {
      std::abort();
    }
  } catch (const tallen::InspectionError&) {
  }
  return 0;
}
