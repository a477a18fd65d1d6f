#pragma once

#include <cstdio>
#include <string>

namespace tallen {

// Template, patch and model size, read afresh by every call of the procedure.
struct TemplateSize {
  int width = 0;
  int height = 0;
};

// Reads the size from the settings file: the first line is a header and is skipped whatever its
// length and bytes, then "W,H". Writes "read error" to `lines` when reading the header fails on
// the stream. Throws InspectionError naming `path` when it is missing, not a regular file (a FIFO
// or device is never read), unreadable, holds no two integers after the header, a number outside
// int (named), a size below 1, or one too large for an image.
TemplateSize readTemplateSize(const std::string& path, std::FILE* lines);

}  // namespace tallen
