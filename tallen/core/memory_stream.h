#pragma once

#include <cstdio>
#include <string>

namespace tallen {

// A C stream that collects what is written to it in memory, so that lines produced out of order
// can be passed on in order.
class MemoryStream {
 public:
  // Throws std::bad_alloc when the stream cannot be opened.
  MemoryStream();
  ~MemoryStream();
  MemoryStream(const MemoryStream&) = delete;
  MemoryStream& operator=(const MemoryStream&) = delete;

  std::FILE* file() const { return file_; }
  // Everything written so far.
  std::string text();

 private:
  char* data_ = nullptr;
  std::size_t size_ = 0;
  std::FILE* file_ = nullptr;
};

}  // namespace tallen
