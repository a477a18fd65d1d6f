#include "cli/outcome_reporter.h"

#include "cli/text_escape.h"

#include <nlohmann/json.hpp>

#include <cstdlib>

namespace tallen {
namespace {

constexpr int kRatioDecimals = 4;
constexpr int kScoreDecimals = 6;

std::string fixed(double value, int decimals) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

// The number as printed in fixed notation, so that every format gives the same value.
double rounded(double value, int decimals) {
  return std::strtod(fixed(value, decimals).c_str(), nullptr);
}

std::string csvField(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (const char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

}  // namespace

OutcomeReporter::OutcomeReporter(OutputFormat format, const InspectionSettings& settings,
                                 std::FILE* out)
    : format_(format),
      verdicts_(settings.maxRatio.has_value()),
      maps_(!settings.mapDirectory.empty()),
      overlays_(!settings.overlayDirectory.empty()),
      out_(out) {}

void OutcomeReporter::begin() {
  if (format_ != OutputFormat::kCsv) return;
  std::string header = "path,ratio,match_score,match_x,match_y";
  if (verdicts_) header += ",verdict";
  if (maps_) header += ",map";
  if (overlays_) header += ",overlay";
  std::fprintf(out_, "%s\n", header.c_str());
  std::fflush(out_);
}

std::string OutcomeReporter::line(const InspectionOutcome& outcome) const {
  const std::string ratio = fixed(outcome.ratio, kRatioDecimals);
  const char* verdict = outcome.verdict ? verdictText(*outcome.verdict) : "";
  if (format_ == OutputFormat::kJson) {
    nlohmann::ordered_json object = {
        {"path", outcome.path},
        {"ratio", rounded(outcome.ratio, kRatioDecimals)},
        {"matchScore", rounded(outcome.match.score, kScoreDecimals)},
        {"matchPoint", {{"x", outcome.match.point.x}, {"y", outcome.match.point.y}}},
    };
    if (verdicts_) object["verdict"] = verdict;
    if (maps_) object["map"] = outcome.mapPath;
    if (overlays_) object["overlay"] = outcome.overlayPath;
    // A path that is not UTF-8 cannot be a JSON string as it is.
    return object.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  }
  if (format_ == OutputFormat::kCsv) {
    std::string text = csvField(escapeControlCharacters(outcome.path)) + "," + ratio + "," +
                       fixed(outcome.match.score, kScoreDecimals) + "," +
                       std::to_string(outcome.match.point.x) + "," +
                       std::to_string(outcome.match.point.y);
    if (verdicts_) text += "," + csvField(verdict);
    if (maps_) text += "," + csvField(escapeControlCharacters(outcome.mapPath));
    if (overlays_) text += "," + csvField(escapeControlCharacters(outcome.overlayPath));
    return text;
  }
  std::string text = ratio + "\t" + escapeControlCharacters(outcome.path);
  if (verdicts_) text += std::string("\t") + verdict;
  return text;
}

void OutcomeReporter::report(const InspectionOutcome& outcome) {
  std::fprintf(out_, "%s\n", line(outcome).c_str());
  std::fflush(out_);
}

}  // namespace tallen
