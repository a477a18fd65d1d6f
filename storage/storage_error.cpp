#include "storage/storage_error.h"

#include <cstring>

namespace storage {
namespace {

std::string message(const std::string& path, const std::string& problem,
                    const std::string& reason) {
  std::string text = path + ": " + problem;
  if (!reason.empty()) text += " (" + reason + ")";
  return text;
}

}  // namespace

StorageError::StorageError(const std::string& path, const std::string& problem,
                           const std::string& reason)
    : std::runtime_error(message(path, problem, reason)), path_(path), reason_(reason) {}

std::string systemReason(int errorNumber) { return std::strerror(errorNumber); }

}  // namespace storage
