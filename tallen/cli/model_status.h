#pragma once

#include "cli/command_line_options.h"
#include "core/model_record.h"

#include <cstdio>
#include <optional>
#include <string>

namespace tallen {

// The record of the current directory's working files and how the files compare with it.
struct ModelStatus {
  std::optional<ModelRecord> record;                     // nullopt: no record
  std::vector<std::pair<std::string, FileState>> files;  // checked only with a record
  bool modelFilesPresent = false;                        // a mean or threshold file exists
  bool matches = false;  // a record, and no file differs from it or is missing
};

// Reads and checks the record. Throws InspectionError naming the record when it is damaged.
ModelStatus readModelStatus();

// Why the working files cannot be continued as their record says, or nullopt when they can:
// "gdaccnumI.jpg differs from the record tallen-model.json" or "... have no record ...".
std::optional<std::string> modelProblem(const ModelStatus& status);

// Prints the status as text (one "name: value" a line) or as one JSON object on one line.
void printModelStatus(const ModelStatus& status, OutputFormat format, std::FILE* out);

}  // namespace tallen
