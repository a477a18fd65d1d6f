#pragma once

#include <cstdio>
#include <filesystem>
#include <string>

namespace tallen::testing {

// A fresh folder tree root/work for one test: the process works in root/work, so that the
// settings file is root/param.csv. The previous working directory comes back on destruction.
class ScopedWorkingDirectory {
 public:
  ScopedWorkingDirectory();
  ~ScopedWorkingDirectory();
  ScopedWorkingDirectory(const ScopedWorkingDirectory&) = delete;
  ScopedWorkingDirectory& operator=(const ScopedWorkingDirectory&) = delete;

  // Writes root/param.csv with a header line and "width,height".
  void writeTemplateSize(int width, int height) const;
  void writeParamFile(const std::string& content) const;
  const std::filesystem::path& root() const { return root_; }

 private:
  std::filesystem::path previous_;
  std::filesystem::path root_;
};

// Whole file content, or "<missing>".
std::string fileBytes(const std::filesystem::path& path);

// Collects what is written to a C stream.
class CapturedStream {
 public:
  CapturedStream();
  ~CapturedStream();
  std::FILE* stream() const { return file_; }
  std::string text() const;

 private:
  std::FILE* file_;
};

}  // namespace tallen::testing
