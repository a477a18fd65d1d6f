#pragma once

#include <stdexcept>
#include <string>

namespace storage {

// A file or folder that could not be written, replaced, recovered or locked. what() reads
// "<path>: <problem> (<reason>)", the reason being the system's (strerror) where it gave one.
class StorageError : public std::runtime_error {
 public:
  StorageError(const std::string& path, const std::string& problem, const std::string& reason);

  const std::string& path() const { return path_; }
  // The system's reason ("No space left on device") or the kit's ("not a regular file").
  const std::string& reason() const { return reason_; }

 private:
  std::string path_;
  std::string reason_;
};

// The system's text for an errno value.
std::string systemReason(int errorNumber);

}  // namespace storage
