#include "core/memory_stream.h"

#include <stdio.h>
#include <stdlib.h>

#include <new>

namespace tallen {

MemoryStream::MemoryStream() : file_(open_memstream(&data_, &size_)) {
  if (file_ == nullptr) throw std::bad_alloc();
}

MemoryStream::~MemoryStream() {
  std::fclose(file_);
  free(data_);
}

std::string MemoryStream::text() {
  std::fflush(file_);
  return std::string(data_, size_);
}

}  // namespace tallen
