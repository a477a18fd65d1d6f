#pragma once

#include "cli/command_line_options.h"
#include "cli/picture_verdict.h"

#include <cstdio>
#include <string>

namespace tallen {

// Prints inspection outcomes, one line each, in one format:
//   tsv   "<ratio>\t<path>" (the historical line), then "\t<verdict>" when verdicts are given;
//   csv   a header row, then path,ratio,match_score,match_x,match_y[,verdict][,map][,overlay]
//         quoted as RFC 4180 wants;
//   json  one object a line: path, ratio, matchScore, matchPoint {x, y}, and verdict, map,
//         overlay when given.
// Paths in tsv and csv have their control characters escaped; JSON escapes them its own way.
// Every line is flushed at once, so a reader sees each picture as soon as it is done.
class OutcomeReporter {
 public:
  OutcomeReporter(OutputFormat format, const InspectionSettings& settings, std::FILE* out);

  // The csv header row; nothing for the other formats.
  void begin();
  void report(const InspectionOutcome& outcome);

  // The line report() prints, without its newline.
  std::string line(const InspectionOutcome& outcome) const;

 private:
  OutputFormat format_;
  bool verdicts_;
  bool maps_;
  bool overlays_;
  std::FILE* out_;
};

}  // namespace tallen
