#include "core/model_record.h"

#include "core/procedure.h"
#include "core/procedure_error.h"
#include "core/working_files.h"

#include <openssl/evp.h>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <system_error>

namespace tallen {
namespace {

using nlohmann::json;

// Raised when the layout of the record changes in a way older readers cannot follow.
constexpr int kRecordFormat = 1;
constexpr int kJsonIndent = 2;
constexpr size_t kSha256HexDigits = 64;

const char* const kWorkingFiles[] = {kTemplateFile, kMeanFile, kThresholdFile};

bool isHexDigest(const std::string& text) {
  return text.size() == kSha256HexDigits &&
         text.find_first_not_of("0123456789abcdef") == std::string::npos;
}

}  // namespace

std::string sha256Hex(const std::vector<uchar>& bytes) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha256(), nullptr) != 1) {
    throw InspectionError("SHA-256 is not available from the crypto library");
  }
  static const char kHex[] = "0123456789abcdef";
  std::string text;
  for (unsigned int i = 0; i < length; ++i) {
    text += kHex[digest[i] >> 4];
    text += kHex[digest[i] & 0xf];
  }
  return text;
}

std::string fileSha256(const std::string& path) {
  const std::optional<std::vector<uchar>> bytes = readWorkingFileBytes(path);
  if (!bytes) throw InspectionError(path + ": cannot be read for its digest");
  return sha256Hex(*bytes);
}

std::string currentRecordTime() {
  // SOURCE_DATE_EPOCH fixes the time, for byte-identical records in reproducible runs and tests.
  std::time_t now = std::time(nullptr);
  if (const char* epoch = std::getenv("SOURCE_DATE_EPOCH")) {
    char* end = nullptr;
    const long long seconds = std::strtoll(epoch, &end, 10);
    if (*epoch != '\0' && *end == '\0' && seconds >= 0) now = static_cast<std::time_t>(seconds);
  }
  std::tm utc{};
  gmtime_r(&now, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

std::vector<uchar> encodeModelRecord(const ModelRecord& record) {
  // Kept in this order for a person reading the file.
  nlohmann::ordered_json digests = nlohmann::ordered_json::object();
  for (const char* name : kWorkingFiles) {
    const auto found = record.sha256.find(name);
    if (found != record.sha256.end()) digests[name] = found->second;
  }
  for (const auto& [name, digest] : record.sha256) {
    if (!digests.contains(name)) digests[name] = digest;
  }
  const nlohmann::ordered_json object = {
      {"format", kRecordFormat},
      {"templateSize",
       {{"width", record.templateSize.width}, {"height", record.templateSize.height}}},
      {"samples", record.samples},
      {"written", record.written},
      {"sha256", digests},
  };
  const std::string text = object.dump(kJsonIndent) + "\n";
  return std::vector<uchar>(text.begin(), text.end());
}

ModelRecord parseModelRecord(const std::string& text, const std::string& path) {
  const json object = json::parse(text, nullptr, false);
  if (object.is_discarded() || !object.is_object()) {
    throw InspectionError(path + ": not a model record (not a JSON object)");
  }
  try {
    if (object.at("format").get<int>() != kRecordFormat) {
      throw InspectionError(path + ": model record of an unknown format " +
                            object.at("format").dump() + " (written by a newer version?)");
    }
    ModelRecord record;
    record.templateSize.width = object.at("templateSize").at("width").get<int>();
    record.templateSize.height = object.at("templateSize").at("height").get<int>();
    record.samples = object.at("samples").get<int>();
    record.written = object.at("written").get<std::string>();
    for (const auto& [name, digest] : object.at("sha256").items()) {
      record.sha256[name] = digest.get<std::string>();
    }
    if (record.templateSize.width < 1 || record.templateSize.height < 1 || record.samples < 0) {
      throw InspectionError(path + ": model record with an impossible size or sample count");
    }
    for (const auto& [name, digest] : record.sha256) {
      if (!isHexDigest(digest)) {
        throw InspectionError(path + ": model record with a malformed SHA-256 for " + name);
      }
    }
    return record;
  } catch (const json::exception& e) {
    throw InspectionError(path + ": model record with a missing or malformed field (" +
                          std::string(e.what()) + ")");
  }
}

std::optional<ModelRecord> readModelRecord(const std::string& path) {
  std::error_code ec;
  if (!std::filesystem::exists(path, ec) && !ec) return std::nullopt;
  const std::optional<std::vector<uchar>> bytes = readWorkingFileBytes(path);
  if (!bytes) throw InspectionError(path + ": model record cannot be read");
  return parseModelRecord(std::string(bytes->begin(), bytes->end()), path);
}

std::vector<std::pair<std::string, FileState>> verifyModelRecord(const ModelRecord& record) {
  std::vector<std::pair<std::string, FileState>> states;
  for (const char* name : kWorkingFiles) {
    const std::optional<std::vector<uchar>> bytes = readWorkingFileBytes(name);
    const auto listed = record.sha256.find(name);
    FileState state;
    if (listed == record.sha256.end()) {
      state = bytes ? FileState::kNotRecorded : FileState::kMatches;
    } else if (!bytes) {
      state = FileState::kMissing;
    } else {
      state = sha256Hex(*bytes) == listed->second ? FileState::kMatches : FileState::kDiffers;
    }
    states.emplace_back(name, state);
  }
  return states;
}

bool recordMatches(const std::vector<std::pair<std::string, FileState>>& states) {
  for (const auto& entry : states) {
    if (entry.second == FileState::kDiffers || entry.second == FileState::kMissing) return false;
  }
  return true;
}

const char* fileStateText(FileState state) {
  switch (state) {
    case FileState::kMatches:
      return "matches";
    case FileState::kDiffers:
      return "differs from the record";
    case FileState::kMissing:
      return "missing";
    case FileState::kNotRecorded:
      return "not in the record";
  }
  return "?";
}

}  // namespace tallen
