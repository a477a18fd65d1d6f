#pragma once

#include <opencv2/core.hpp>

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace tallen {

// Written beside the working files by every save, so that a later call knows what they hold.
constexpr const char kModelRecordFile[] = "tallen-model.json";

// What a set of working files holds: the template size, how many samples the model weighs, when
// it was written, and the SHA-256 of each file it describes (file name -> lower-case hex). A
// record without samples (0, right after a template cut) describes only the template: a mean and
// threshold left from an earlier template are not part of it.
struct ModelRecord {
  cv::Size templateSize;
  int samples = 0;
  std::string written;  // UTC, "YYYY-MM-DDTHH:MM:SSZ"
  std::map<std::string, std::string> sha256;
};

// The SHA-256 of `bytes` as 64 lower-case hex digits.
std::string sha256Hex(const std::vector<uchar>& bytes);

// The SHA-256 of the file at `path`. Throws InspectionError naming the file when it cannot be read.
std::string fileSha256(const std::string& path);

// The current time as ModelRecord::written holds it; SOURCE_DATE_EPOCH (seconds), when set,
// stands in for the clock.
std::string currentRecordTime();

// The record as stored: one JSON object, two-space indented, ending in a newline.
std::vector<uchar> encodeModelRecord(const ModelRecord& record);

// Parses stored record text. Throws InspectionError naming `path` when it is not JSON or lacks a
// field, or a field has the wrong type or an impossible value.
ModelRecord parseModelRecord(const std::string& text, const std::string& path);

// Reads and parses the record at `path`; nullopt when there is no such file. Throws
// InspectionError naming the file when it cannot be read or parsed.
std::optional<ModelRecord> readModelRecord(const std::string& path = kModelRecordFile);

// How one working file compares with the record.
enum class FileState { kMatches, kDiffers, kMissing, kNotRecorded };

// The state of each of the three working files (template, mean, threshold, in that order) in the
// current directory against `record`. A file the record does not list is kNotRecorded when it
// exists and kMatches when it is absent too.
std::vector<std::pair<std::string, FileState>> verifyModelRecord(const ModelRecord& record);

// True when every working file is as the record says.
bool recordMatches(const std::vector<std::pair<std::string, FileState>>& states);

// "matches", "differs from the record", "missing", "not in the record".
const char* fileStateText(FileState state);

}  // namespace tallen
