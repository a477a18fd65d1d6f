#pragma once

#include "storage/folder_lock.h"

#include <chrono>
#include <optional>

namespace tallen {

// Environment variable with the seconds a call waits for another program that holds the
// working folder, instead of 30.
constexpr char kLockTimeoutVariable[] = "TALLEN_LOCK_TIMEOUT";

// The wait from kLockTimeoutVariable, or 30 s. Throws InspectionError when it is set to
// anything but a number of seconds from 0 up.
std::chrono::milliseconds workingFolderLockTimeout();

// Holds the lock of the working folder (the current directory) for its lifetime: exclusive for
// a call that reads and writes the working files, shared for one that only reads them, so that
// writers take turns and readers never see a half-replaced model. Before it returns, whatever an
// interrupted save left in the folder is finished or discarded. A lock taken while the same
// thread holds one shares it, so a batch can hold it around many calls. Throws InspectionError
// naming the folder when another program holds it longer than the timeout (nothing is changed
// then) or when the folder cannot be locked or recovered.
class WorkingFolderLock {
 public:
  enum class Mode { kRead, kWrite };
  explicit WorkingFolderLock(Mode mode);
  WorkingFolderLock(Mode mode, std::chrono::milliseconds timeout);

 private:
  std::optional<storage::FolderLock> lock_;
};

}  // namespace tallen
