#include "cli/model_status.h"

#include "cli/text_escape.h"
#include "core/procedure.h"
#include "core/size_text.h"

#include <nlohmann/json.hpp>

#include <filesystem>
#include <system_error>

namespace tallen {
namespace {

bool exists(const char* path) {
  std::error_code ignored;
  return std::filesystem::exists(path, ignored);
}

const char* jsonState(FileState state) {
  switch (state) {
    case FileState::kMatches:
      return "matches";
    case FileState::kDiffers:
      return "differs";
    case FileState::kMissing:
      return "missing";
    case FileState::kNotRecorded:
      return "not recorded";
  }
  return "?";
}

}  // namespace

ModelStatus readModelStatus() {
  ModelStatus status;
  status.record = readModelRecord(kModelRecordFile);
  status.modelFilesPresent = exists(kMeanFile) || exists(kThresholdFile);
  if (status.record) {
    status.files = verifyModelRecord(*status.record);
    status.matches = recordMatches(status.files);
  }
  return status;
}

std::optional<std::string> modelProblem(const ModelStatus& status) {
  if (!status.record) {
    if (!status.modelFilesPresent) return std::nullopt;
    return std::string("the model files ") + kMeanFile + " and " + kThresholdFile +
           " have no record " + kModelRecordFile +
           " (written by an older version or by hand), so the number of samples they hold is "
           "unknown";
  }
  std::string problem;
  for (const auto& [name, state] : status.files) {
    if (state != FileState::kDiffers && state != FileState::kMissing) continue;
    if (!problem.empty()) problem += ", ";
    problem += name + " " + fileStateText(state);
  }
  if (problem.empty()) return std::nullopt;
  return "the working files do not match their record " + std::string(kModelRecordFile) + ": " +
         problem;
}

void printModelStatus(const ModelStatus& status, OutputFormat format, std::FILE* out) {
  const char* const workingFiles[] = {kTemplateFile, kMeanFile, kThresholdFile};
  if (format == OutputFormat::kJson) {
    nlohmann::ordered_json object = {{"record", kModelRecordFile},
                                     {"present", status.record.has_value()}};
    nlohmann::ordered_json files = nlohmann::ordered_json::object();
    if (status.record) {
      object["templateSize"] = {{"width", status.record->templateSize.width},
                                {"height", status.record->templateSize.height}};
      object["samples"] = status.record->samples;
      object["written"] = status.record->written;
      for (const auto& [name, state] : status.files) files[name] = jsonState(state);
    } else {
      for (const char* name : workingFiles) files[name] = exists(name) ? "present" : "absent";
    }
    object["files"] = files;
    object["matches"] = status.matches;
    std::fprintf(out, "%s\n",
                 object.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
    return;
  }
  if (!status.record) {
    std::fprintf(out, "%s: none\n", kModelRecordFile);
    for (const char* name : workingFiles) {
      std::fprintf(out, "%s: %s\n", name, exists(name) ? "present, not in a record" : "absent");
    }
    return;
  }
  std::fprintf(out, "%s: written %s\n", kModelRecordFile,
               escapeControlCharacters(status.record->written).c_str());
  std::fprintf(out, "template size: %s\n", sizeText(status.record->templateSize).c_str());
  std::fprintf(out, "samples: %d\n", status.record->samples);
  for (const auto& [name, state] : status.files) {
    std::fprintf(out, "%s: %s\n", name.c_str(), fileStateText(state));
  }
  std::fprintf(out, "files: %s\n", status.matches ? "match the record" : "do not match the record");
}

}  // namespace tallen
