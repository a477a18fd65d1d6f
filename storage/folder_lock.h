#pragma once

#include <chrono>
#include <string>

namespace storage {

// The file in a locked folder whose advisory lock (flock) stands for the folder's. It exists
// only while the folder is locked (or after its holder was killed, until the next lock).
constexpr char kLockFileName[] = ".kit.lock";

// How long a lock waits for another holder by default.
constexpr std::chrono::milliseconds kDefaultLockTimeout{30000};

enum class LockMode {
  kShared,     // readers: any number at once, never while a writer holds it
  kExclusive,  // one writer, alone
};

// Holds the lock of `folder` for its lifetime, against other processes (flock on the folder's
// lock file) and other threads of this one. Re-entrant: while a thread holds the lock, its
// further locks of the same folder in the same or a weaker mode share the held one, so that a
// batch can hold it around calls that lock again. Waits up to `timeout` for other holders, then
// throws StorageError naming the folder; also when the lock file cannot be opened or is not a
// regular file, or when a thread that holds the shared lock asks for the exclusive one. A forked
// child holds none of its parent's locks. In a
// folder where the lock file does not exist and cannot be created (read-only), a shared lock is
// granted without it: nobody can write there either.
class FolderLock {
 public:
  FolderLock(const std::string& folder, LockMode mode,
             std::chrono::milliseconds timeout = kDefaultLockTimeout);
  ~FolderLock();
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;

  // The mode this holder has: exclusive also for a shared lock nested in an exclusive one.
  LockMode mode() const { return held_; }

 private:
  std::string key_;
  LockMode held_;
  int owner_;  // the process that took it
};

// Whether the calling thread holds `folder`'s lock in `mode` or a stronger one.
bool holdsFolderLock(const std::string& folder, LockMode mode);

}  // namespace storage
