#include "core/working_folder.h"

#include "core/procedure_error.h"
#include "storage/file_set.h"
#include "storage/storage_error.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <string>

namespace tallen {
namespace {

constexpr char kWorkingFolder[] = ".";
constexpr double kMillisecondsPerSecond = 1000.0;
constexpr double kMaxTimeoutSeconds = 86400.0 * 365;

using storage::FolderLock;
using storage::LockMode;

void lockFolder(std::optional<FolderLock>& lock, LockMode mode, std::chrono::milliseconds timeout) {
  try {
    lock.emplace(kWorkingFolder, mode, timeout);
  } catch (const storage::StorageError& e) {
    throw InspectionError(std::string(e.what()) + "; nothing was changed");
  }
}

void recover(std::chrono::milliseconds timeout) {
  try {
    storage::recoverFolder(kWorkingFolder, timeout);
  } catch (const storage::StorageError& e) {
    throw InspectionError(e.what());
  }
}

bool needsRecovery() {
  try {
    return storage::folderNeedsRecovery(kWorkingFolder);
  } catch (const storage::StorageError& e) {
    throw InspectionError(e.what());
  }
}

}  // namespace

std::chrono::milliseconds workingFolderLockTimeout() {
  const char* text = std::getenv(kLockTimeoutVariable);
  if (text == nullptr || *text == '\0') return storage::kDefaultLockTimeout;
  char* end = nullptr;
  errno = 0;
  const double seconds = std::strtod(text, &end);
  if (errno != 0 || *end != '\0' || !std::isfinite(seconds) || seconds < 0 ||
      seconds > kMaxTimeoutSeconds) {
    throw InspectionError(std::string(kLockTimeoutVariable) + "=" + text +
                          ": not a number of seconds from 0 up");
  }
  return std::chrono::milliseconds(std::llround(seconds * kMillisecondsPerSecond));
}

WorkingFolderLock::WorkingFolderLock(Mode mode)
    : WorkingFolderLock(mode, workingFolderLockTimeout()) {}

WorkingFolderLock::WorkingFolderLock(Mode mode, std::chrono::milliseconds timeout) {
  if (mode == Mode::kWrite) {
    lockFolder(lock_, LockMode::kExclusive, timeout);
    recover(timeout);
    return;
  }
  lockFolder(lock_, LockMode::kShared, timeout);
  // While it is held for reading nobody saves, so what there is to recover was left by a crash.
  if (lock_->mode() == LockMode::kShared && needsRecovery()) {
    lock_.reset();
    {
      std::optional<FolderLock> writing;
      lockFolder(writing, LockMode::kExclusive, timeout);
      recover(timeout);
    }
    lockFolder(lock_, LockMode::kShared, timeout);
  }
}

}  // namespace tallen
