#include "cli/cli_test_support.h"

#include "cli/command_line.h"
#include "generator/demo_set.h"

#include <opencv2/imgcodecs.hpp>

#include <stdlib.h>

#include <cstdio>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <vector>

namespace tallen::cli_testing {
namespace {

namespace fs = std::filesystem;

constexpr int kJpegQuality = 95;

}  // namespace

InspectionArea::InspectionArea(cv::Size templateSize) {
  std::string pattern = (fs::temp_directory_path() / "tallen_cli_XXXXXX").string();
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (::mkdtemp(buffer.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  root_ = buffer.data();
  work_ = root_ + "/work";
  fs::create_directories(work_);
  fs::create_directories(root_ + "/pictures");
  std::ostringstream param;
  param << "width,height\n" << templateSize.width << ',' << templateSize.height << '\n';
  writeFile("param.csv", param.str());
}

InspectionArea::~InspectionArea() {
  std::error_code ignored;
  fs::remove_all(root_, ignored);
}

std::string InspectionArea::writePicture(const std::string& name, const demo::ProductShot& shot,
                                         cv::Size size) const {
  const std::string file = path("pictures/" + name + ".jpg");
  if (!cv::imwrite(file, demo::drawProductPicture(size, shot),
                   {cv::IMWRITE_JPEG_QUALITY, kJpegQuality})) {
    throw std::runtime_error("cannot write " + file);
  }
  return file;
}

std::string InspectionArea::writeImage(const std::string& file, const cv::Mat& image) const {
  const std::string target = path("pictures/" + file);
  if (!cv::imwrite(target, image, {cv::IMWRITE_JPEG_QUALITY, kJpegQuality})) {
    throw std::runtime_error("cannot write " + target);
  }
  return target;
}

std::string InspectionArea::writeFile(const std::string& name, const std::string& content) const {
  const std::string file = path(name);
  std::ofstream stream(file, std::ios::binary | std::ios::trunc);
  stream << content;
  if (!stream) throw std::runtime_error("cannot write " + file);
  return file;
}

std::map<std::string, std::string> InspectionArea::snapshot() const {
  std::map<std::string, std::string> files;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root_)) {
    const std::string name = fs::relative(entry.path(), root_).string();
    if (entry.is_directory()) {
      files[name + "/"] = "";
    } else {
      files[name] = readFile(entry.path().string()).value_or("<unreadable>");
    }
  }
  return files;
}

namespace {

std::string drain(std::FILE* file) {
  std::fflush(file);
  std::rewind(file);
  std::string text;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, n);
  std::fclose(file);
  return text;
}

}  // namespace

RunResult runTallen(const std::vector<std::string>& arguments, const std::string& input) {
  std::FILE* in = std::tmpfile();
  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
  if (!in || !out || !err) throw std::runtime_error("tmpfile failed");
  std::fwrite(input.data(), 1, input.size(), in);
  std::rewind(in);
  RunResult result;
  result.status = runCommandLine(arguments, in, out, err);
  std::fclose(in);
  result.out = drain(out);
  result.err = drain(err);
  return result;
}

std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> result;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);) result.push_back(line);
  return result;
}

demo::ProductShot demoShot(const std::string& name) {
  std::vector<demo::NamedShot> all = demo::goodSamples();
  for (const demo::NamedShot& shot : demo::inspectionPictures()) all.push_back(shot);
  for (const demo::NamedShot& shot : all) {
    if (shot.name == name) return shot.shot;
  }
  throw std::runtime_error("no demo shot " + name);
}

std::optional<std::string> readFile(const std::string& path) {
  std::ifstream stream(path, std::ios::binary);
  if (!stream) return std::nullopt;
  return std::string(std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>());
}

WorkingDirectoryGuard::WorkingDirectoryGuard(const std::string& directory)
    : previous_(fs::current_path().string()) {
  fs::current_path(directory);
}

WorkingDirectoryGuard::~WorkingDirectoryGuard() {
  std::error_code ignored;
  fs::current_path(previous_, ignored);
}

}  // namespace tallen::cli_testing
