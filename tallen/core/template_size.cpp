#include "core/template_size.h"

#include "core/procedure_error.h"
#include "core/regular_file.h"

#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstring>
#include <memory>

namespace tallen {
namespace {

// The largest side a JPEG working file can hold.
constexpr int kMaxSide = 65500;
// How much of an overlong number a message repeats.
constexpr std::size_t kMaxQuotedDigits = 40;

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

// Consumes the header line up to and with its first newline, whatever bytes it holds (NUL
// included). Returns false when the very first read fails with an error on the stream.
bool skipHeaderLine(std::FILE* file) {
  int c = std::getc(file);
  if (c == EOF) return !std::ferror(file);
  while (c != EOF && c != '\n') c = std::getc(file);
  return true;
}

// Reads one decimal integer as "%d" would (leading white space, an optional sign, digits), but
// refuses one outside int instead of wrapping. Returns false when no number is there.
bool readInt(const std::string& path, std::FILE* file, int& value) {
  int c = std::getc(file);
  while (c != EOF && std::isspace(c)) c = std::getc(file);
  std::string text;
  if (c == '+' || c == '-') {
    text.push_back(static_cast<char>(c));
    c = std::getc(file);
  }
  long long magnitude = 0;
  bool outside = false;
  std::size_t digits = 0;
  while (c != EOF && std::isdigit(c)) {
    if (text.size() < kMaxQuotedDigits) text.push_back(static_cast<char>(c));
    magnitude = outside ? magnitude : magnitude * 10 + (c - '0');
    if (magnitude > static_cast<long long>(INT_MAX) + 1) outside = true;
    ++digits;
    c = std::getc(file);
  }
  if (c != EOF) std::ungetc(c, file);
  if (digits == 0) return false;
  const bool negative = text[0] == '-';
  if (outside || (!negative && magnitude > INT_MAX)) {
    if (digits + (text[0] == '-' || text[0] == '+') > text.size()) text += "...";
    throw InspectionError(path + ": the number " + text + " is out of range for a template size");
  }
  value = static_cast<int>(negative ? -magnitude : magnitude);
  return true;
}

}  // namespace

TemplateSize readTemplateSize(const std::string& path, std::FILE* lines) {
  RegularFile regular(path);
  if (!regular.isOpen()) {
    if (regular.problem() == "it is a directory") {
      // Every read of a folder fails, as that of an unreadable header does.
      if (lines != nullptr) std::fputs("read error\n", lines);
      throw InspectionError(path + ": cannot be read (it is a directory)");
    }
    if (regular.missing()) {
      throw InspectionError(path + ": cannot be opened (" + std::strerror(ENOENT) + ")");
    }
    throw InspectionError(path + ": " + regular.problem() +
                          (regular.problem() == "not a regular file"
                               ? " (a FIFO, device or socket is not read)"
                               : ""));
  }
  std::unique_ptr<std::FILE, FileCloser> file(::fdopen(regular.fd(), "r"));
  if (!file) throw InspectionError(path + ": cannot be opened (" + std::strerror(errno) + ")");
  regular.release();
  if (!skipHeaderLine(file.get())) {
    if (lines != nullptr) std::fputs("read error\n", lines);
  }
  TemplateSize size;
  int read = 0;
  if (readInt(path, file.get(), size.width)) {
    read = 1;
    const int comma = std::getc(file.get());
    if (comma == ',' && readInt(path, file.get(), size.height)) read = 2;
  }
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
