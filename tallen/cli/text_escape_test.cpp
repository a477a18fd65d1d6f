#include "cli/text_escape.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

namespace tallen {
namespace {

struct EscapeCase {
  const char* label;
  std::string text;
  std::string escaped;
};

void PrintTo(const EscapeCase& c, std::ostream* os) { *os << c.label; }

class EscapeControlCharacters : public ::testing::TestWithParam<EscapeCase> {};

TEST_P(EscapeControlCharacters, WritesCEscapes) {
  EXPECT_EQ(escapeControlCharacters(GetParam().text), GetParam().escaped);
}

const EscapeCase kEscapeCases[] = {
    {"plain_path", "../pictures/good_1.jpg", "../pictures/good_1.jpg"},
    {"newline_and_tab", "a\nb\tc", "a\\nb\\tc"},
    {"carriage_return", "a\r", "a\\r"},
    {"backslash", "a\\n", "a\\\\n"},
    {"other_controls",
     std::string("a\x01"
                 "b\x1b\x7f",
                 5),
     "a\\x01b\\x1b\\x7f"},
    {"nul", std::string("a\0b", 3), "a\\x00b"},
    {"utf8_kept", "検査/部品.jpg", "検査/部品.jpg"},
    {"high_bytes_kept", "\xff\xfe", "\xff\xfe"},
};

INSTANTIATE_TEST_SUITE_P(TextEscape, EscapeControlCharacters, ::testing::ValuesIn(kEscapeCases),
                         [](const auto& info) { return std::string(info.param.label); });

}  // namespace
}  // namespace tallen
