#include "app/output_folder.h"

#include "core/test_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace fennock {
namespace {

using testing::TemporaryDirectory;

CommandLine lineFor(const std::string& output, bool continueNumbering) {
  CommandLine line;
  line.output = output;
  line.continueNumbering = continueNumbering;
  return line;
}

TEST(OutputFolder, MissingFoldersAreMade) {
  TemporaryDirectory dir;
  const std::string output = dir.file("line/samples");

  const CaptureSettings settings = prepareOutput(lineFor(output, true));

  EXPECT_TRUE(std::filesystem::is_directory(output));
  EXPECT_EQ(settings.sampleDirectory, output);
  EXPECT_EQ(settings.previousSample, 0);
}

TEST(OutputFolder, ContinueStartsAfterTheHighestSampleThere) {
  TemporaryDirectory dir;
  for (const char* name : {"good_3.jpg", "good_12.jpg", "good_7.jpg"}) {
    std::ofstream(dir.file(name)) << "x";
  }
  EXPECT_EQ(prepareOutput(lineFor(dir.path(), true)).previousSample, 12);
  EXPECT_EQ(prepareOutput(lineFor(dir.path(), false)).previousSample, 0)
      << "without --continue the numbering starts at good_1.jpg";
}

TEST(OutputFolder, AFileInTheWayIsNamed) {
  TemporaryDirectory dir;
  std::ofstream(dir.file("plain")) << "x";
  for (const std::string output : {dir.file("plain"), dir.file("plain/samples")}) {
    try {
      prepareOutput(lineFor(output, false));
      ADD_FAILURE() << output << " accepted";
    } catch (const OutputFolderError& e) {
      EXPECT_EQ(std::string(e.what()).rfind("cannot use " + output + " as the output folder: ", 0),
                0u)
          << e.what();
    }
  }
  EXPECT_TRUE(std::filesystem::is_regular_file(dir.file("plain")));
}

}  // namespace
}  // namespace fennock
