#include "core/template_size.h"

#include "core/procedure_error.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <memory>

namespace tallen {
namespace {

// The largest side a JPEG working file can hold.
constexpr int kMaxSide = 65500;
constexpr int kLineBufferSize = 128;

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

// Consumes the header line whole, however long it is. Returns false when the very first read
// fails with an error on the stream.
bool skipHeaderLine(std::FILE* file) {
  char buffer[kLineBufferSize];
  bool first = true;
  while (std::fgets(buffer, sizeof buffer, file) != nullptr) {
    first = false;
    if (std::strchr(buffer, '\n') != nullptr) return true;
  }
  return !(first && std::ferror(file));
}

}  // namespace

TemplateSize readTemplateSize(const std::string& path, std::FILE* lines) {
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "r"));
  if (!file) {
    throw InspectionError(path + ": cannot be opened (" + std::strerror(errno) + ")");
  }
  if (!skipHeaderLine(file.get())) {
    if (lines != nullptr) std::fputs("read error\n", lines);
  }
  TemplateSize size;
  const int read = std::fscanf(file.get(), "%d,%d", &size.width, &size.height);
  if (std::ferror(file.get())) {
    throw InspectionError(path + ": cannot be read");
  }
  if (read != 2) {
    throw InspectionError(path +
                          ": no template size after the header line (expected \"width,height\", "
                          "for example 64,48)");
  }
  const std::string given = std::to_string(size.width) + "," + std::to_string(size.height);
  if (size.width < 1 || size.height < 1) {
    throw InspectionError(path + ": template size " + given +
                          " is invalid: width and height must be at least 1");
  }
  if (size.width > kMaxSide || size.height > kMaxSide ||
      static_cast<long long>(size.width) * size.height * 3 > INT_MAX) {
    throw InspectionError(path + ": template size " + given + " is too large for an image");
  }
  return size;
}

}  // namespace tallen
