#include "app/output_folder.h"

#include "app/sample_numbering.h"

#include <filesystem>
#include <system_error>

namespace fennock {

CaptureSettings prepareOutput(const CommandLine& line) {
  CaptureSettings settings;
  settings.sampleDirectory = line.output;
  if (!line.output.empty()) {
    std::error_code error;
    std::filesystem::create_directories(line.output, error);
    if (!error && !std::filesystem::is_directory(line.output, error)) {
      error = std::make_error_code(std::errc::not_a_directory);
    }
    if (error) {
      throw OutputFolderError("cannot use " + line.output +
                              " as the output folder: " + error.message());
    }
  }
  if (line.continueNumbering) settings.previousSample = highestSampleNumber(line.output);
  return settings;
}

}  // namespace fennock
