#include "core/test_support.h"

#include <fstream>
#include <sstream>

namespace tallen::testing {

namespace fs = std::filesystem;

ScopedWorkingDirectory::ScopedWorkingDirectory() : previous_(fs::current_path()) {
  std::string pattern = (fs::temp_directory_path() / "tallen-test-XXXXXX").string();
  root_ = fs::path(mkdtemp(pattern.data()));
  fs::create_directory(root_ / "work");
  fs::current_path(root_ / "work");
}

ScopedWorkingDirectory::~ScopedWorkingDirectory() {
  std::error_code ec;
  fs::current_path(previous_, ec);
  fs::remove_all(root_, ec);
}

void ScopedWorkingDirectory::writeTemplateSize(int width, int height) const {
  writeParamFile("width,height\n" + std::to_string(width) + "," + std::to_string(height) + "\n");
}

void ScopedWorkingDirectory::writeParamFile(const std::string& content) const {
  std::ofstream(root_ / "param.csv", std::ios::binary) << content;
}

std::string fileBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return "<missing>";
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

CapturedStream::CapturedStream() : file_(std::tmpfile()) {}

CapturedStream::~CapturedStream() { std::fclose(file_); }

std::string CapturedStream::text() const {
  std::fflush(file_);
  const long end = std::ftell(file_);
  std::string result(static_cast<std::size_t>(end), '\0');
  std::rewind(file_);
  const std::size_t got = std::fread(result.data(), 1, result.size(), file_);
  result.resize(got);
  std::fseek(file_, 0, SEEK_END);
  return result;
}

}  // namespace tallen::testing
