#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <string>

namespace tallen::fuzzing {

// A private folder for the files one fuzzer writes, made once per process.
inline const std::string& fuzzFolder() {
  static const std::string folder = [] {
    char name[] = "/tmp/tallen_fuzz_XXXXXX";
    if (mkdtemp(name) == nullptr) std::abort();
    return std::string(name);
  }();
  return folder;
}

// Replaces `path` with `data`.
inline void writeInput(const std::string& path, const unsigned char* data, std::size_t size) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) std::abort();
  if (size > 0 && std::fwrite(data, 1, size, file) != size) std::abort();
  std::fclose(file);
}

}  // namespace tallen::fuzzing
