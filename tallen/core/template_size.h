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
// length, then "W,H". Writes "read error" to `lines` when reading the header fails on the stream.
// Throws InspectionError naming `path` when it is missing, unreadable, holds no two integers
// after the header, a size below 1, or one too large for an image.
TemplateSize readTemplateSize(const std::string& path, std::FILE* lines);

}  // namespace tallen
