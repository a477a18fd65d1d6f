#pragma once

#include <cstdio>

namespace tallen {

// Where the procedure's console lines go. `trace` null silences the per-segment and match-score
// lines (the command line's --quiet); `lines` receives the rest ("read error").
struct Console {
  std::FILE* lines = stdout;
  std::FILE* trace = stdout;
};

}  // namespace tallen
