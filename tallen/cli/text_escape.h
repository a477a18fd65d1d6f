#pragma once

#include <string>

namespace tallen {

// `text` with '\\' and every control character written as a C escape (\n, \t, \r, \\, others as
// \xHH), so that a path in a result line or message can neither end the line nor fake a column.
// Other bytes, UTF-8 included, stay as they are.
std::string escapeControlCharacters(const std::string& text);

}  // namespace tallen
