#pragma once

#include "generator/product_scene.h"

#include <opencv2/core.hpp>

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace tallen::cli_testing {

// Size of the demo pictures the command-line tests use.
const cv::Size kPictureSize(640, 480);

// A scratch area laid out as on a line PC: root/param.csv, the working directory root/work and
// the operator's pictures in root/pictures. Removed with everything in it on destruction.
class InspectionArea {
 public:
  explicit InspectionArea(cv::Size templateSize = demo::templateSizeFor(kPictureSize));
  ~InspectionArea();
  InspectionArea(const InspectionArea&) = delete;
  InspectionArea& operator=(const InspectionArea&) = delete;

  const std::string& root() const { return root_; }
  const std::string& work() const { return work_; }
  // Path of `name` below the root.
  std::string path(const std::string& name) const { return root_ + "/" + name; }

  // Draws `shot` at kPictureSize (or `size`) and saves it as pictures/<name>.jpg; its path.
  std::string writePicture(const std::string& name, const demo::ProductShot& shot,
                           cv::Size size = kPictureSize) const;
  // Saves `image` as root/pictures/<file> (format from the extension); its path.
  std::string writeImage(const std::string& file, const cv::Mat& image) const;
  // Writes `content` to root/<name>; its path.
  std::string writeFile(const std::string& name, const std::string& content) const;
  // Everything below the root by path relative to it: files with their bytes, directories
  // (with a trailing '/') with nothing.
  std::map<std::string, std::string> snapshot() const;

 private:
  std::string root_;
  std::string work_;
};

// What one in-process run of the command line gave.
struct RunResult {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs the command line in the process with `input` as its standard input.
RunResult runTallen(const std::vector<std::string>& arguments, const std::string& input = "");

// The lines of `text`, without their newlines.
std::vector<std::string> splitLines(const std::string& text);

// The demo shot of that name, from the good samples or the inspection pictures.
demo::ProductShot demoShot(const std::string& name);

// The bytes of a file, or nullopt when it cannot be read.
std::optional<std::string> readFile(const std::string& path);

// Makes `directory` the working directory for the guard's lifetime.
class WorkingDirectoryGuard {
 public:
  explicit WorkingDirectoryGuard(const std::string& directory);
  ~WorkingDirectoryGuard();
  WorkingDirectoryGuard(const WorkingDirectoryGuard&) = delete;
  WorkingDirectoryGuard& operator=(const WorkingDirectoryGuard&) = delete;

 private:
  std::string previous_;
};

}  // namespace tallen::cli_testing
