#include "cli/text_escape.h"

#include <cstdio>

namespace tallen {
namespace {

constexpr unsigned char kFirstPrintable = 0x20;
constexpr unsigned char kDelete = 0x7f;

}  // namespace

std::string escapeControlCharacters(const std::string& text) {
  std::string escaped;
  escaped.reserve(text.size());
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    switch (c) {
      case '\\':
        escaped += "\\\\";
        break;
      case '\n':
        escaped += "\\n";
        break;
      case '\t':
        escaped += "\\t";
        break;
      case '\r':
        escaped += "\\r";
        break;
      default:
        if (byte < kFirstPrintable || byte == kDelete) {
          char hex[5];
          std::snprintf(hex, sizeof hex, "\\x%02x", byte);
          escaped += hex;
        } else {
          escaped += c;
        }
    }
  }
  return escaped;
}

}  // namespace tallen
