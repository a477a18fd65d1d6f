#include "storage/folder_lock.h"

#include "storage/file_operations.h"
#include "storage/storage_error.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <map>
#include <mutex>
#include <new>
#include <thread>

namespace storage {
namespace {

constexpr std::chrono::milliseconds kPollInterval{20};
constexpr mode_t kLockFileMode = 0666;

// What this process holds of one folder's lock.
struct Holding {
  int fd = -1;             // the lock file while any thread holds the lock
  int sharedHolders = 0;   // shared locks of all threads
  std::thread::id owner;   // the thread that holds it exclusively
  int exclusiveDepth = 0;  // locks of the owner, nested ones included
  bool acquiring = false;  // a thread is waiting for the other processes
};

std::mutex g_mutex;
std::condition_variable g_changed;
std::map<std::string, Holding> g_holdings;  // entries stay, so that references stay valid
thread_local std::map<std::string, int> t_sharedLocks;

// A forked child is another program: it must not share its parent's locks, nor find the
// registry locked by a thread it does not have.
void prepareFork() { g_mutex.lock(); }
void parentAfterFork() { g_mutex.unlock(); }
void childAfterFork() {
  for (auto& [key, holding] : g_holdings) {
    if (holding.fd >= 0) ::close(holding.fd);  // the parent keeps its lock through its own fd
  }
  g_holdings.clear();
  t_sharedLocks.clear();
  new (&g_mutex) std::mutex();
  new (&g_changed) std::condition_variable();
}

const bool g_forkHandled = ::pthread_atfork(prepareFork, parentAfterFork, childAfterFork) == 0;

std::string keyOf(const std::string& folder) {
  std::error_code error;
  const std::filesystem::path canonical = std::filesystem::canonical(folder, error);
  if (error) throw StorageError(folder, "cannot be locked", error.message());
  return canonical.string();
}

std::string secondsText(std::chrono::milliseconds timeout) {
  char text[32];
  std::snprintf(text, sizeof text, "%g s", static_cast<double>(timeout.count()) / 1000.0);
  return text;
}

[[noreturn]] void timedOut(const std::string& key, std::chrono::milliseconds timeout) {
  throw StorageError(key, "in use by another program",
                     "gave up after waiting " + secondsText(timeout));
}

// The lock file, opened; -1 when a shared lock may go without one.
int openLockFile(const std::string& key, LockMode mode) {
  const std::string path = detail::inFolder(key, kLockFileName);
  const int flags = O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | flags, kLockFileMode);
  if (fd < 0 && (errno == EACCES || errno == EROFS) && mode == LockMode::kShared) {
    const int createError = errno;
    fd = ::open(path.c_str(), O_RDONLY | flags);
    if (fd < 0 && errno == ENOENT) return -1;
    if (fd < 0) errno = createError;
  }
  if (fd < 0) {
    const int error = errno;
    throw StorageError(path, "cannot be opened to lock the folder",
                       error == ELOOP ? "not a regular file" : systemReason(error));
  }
  struct stat status;
  if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    ::close(fd);
    throw StorageError(path, "cannot be opened to lock the folder", "not a regular file");
  }
  return fd;
}

// Waits for the other processes; false when `deadline` passed first.
bool lockFile(int fd, LockMode mode, std::chrono::steady_clock::time_point deadline,
              const std::string& key) {
  const int operation = (mode == LockMode::kExclusive ? LOCK_EX : LOCK_SH) | LOCK_NB;
  while (::flock(fd, operation) != 0) {
    if (errno == EINTR) continue;
    if (errno != EWOULDBLOCK) throw StorageError(key, "cannot be locked", systemReason(errno));
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(kPollInterval);
  }
  return true;
}

// Whether `fd` is still the file at `path`: a holder that went before may have removed it.
bool isStillInPlace(int fd, const std::string& path) {
  struct stat open;
  struct stat named;
  return ::fstat(fd, &open) == 0 && ::lstat(path.c_str(), &named) == 0 &&
         open.st_dev == named.st_dev && open.st_ino == named.st_ino;
}

// Opens and locks the lock file: -1 when a shared lock goes without one, -2 on timeout.
int acquireFile(const std::string& key, LockMode mode,
                std::chrono::steady_clock::time_point deadline) {
  const std::string path = detail::inFolder(key, kLockFileName);
  for (;;) {
    const int fd = openLockFile(key, mode);
    if (fd < 0) return fd;
    bool locked = false;
    try {
      locked = lockFile(fd, mode, deadline, key);
    } catch (...) {
      ::close(fd);
      throw;
    }
    if (!locked) {
      ::close(fd);
      return -2;
    }
    if (isStillInPlace(fd, path)) return fd;
    ::close(fd);
  }
}

// The last holder removes the lock file, so that a folder keeps no trace of being locked. Only
// a holder that gets the lock exclusively may: anyone still waiting then finds it gone and
// makes a new one.
void releaseFile(Holding& holding, const std::string& key) {
  if (holding.fd < 0) return;
  if (::flock(holding.fd, LOCK_EX | LOCK_NB) == 0) {
    ::unlink(detail::inFolder(key, kLockFileName).c_str());
  }
  ::close(holding.fd);  // closing drops the flock
  holding.fd = -1;
}

}  // namespace

FolderLock::FolderLock(const std::string& folder, LockMode mode, std::chrono::milliseconds timeout)
    : key_(keyOf(folder)), held_(mode), owner_(::getpid()) {
  (void)g_forkHandled;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  const std::thread::id self = std::this_thread::get_id();
  std::unique_lock<std::mutex> guard(g_mutex);
  Holding& holding = g_holdings[key_];
  if (holding.exclusiveDepth > 0 && holding.owner == self) {
    ++holding.exclusiveDepth;
    held_ = LockMode::kExclusive;
    return;
  }
  int& ownShared = t_sharedLocks[key_];
  if (ownShared > 0) {
    if (mode == LockMode::kExclusive) {
      throw StorageError(key_, "cannot be locked for writing", "this thread holds it for reading");
    }
    ++holding.sharedHolders;
    ++ownShared;
    return;
  }
  const auto mayProceed = [&] {
    if (holding.acquiring || holding.exclusiveDepth > 0) return false;
    return mode == LockMode::kShared || holding.sharedHolders == 0;
  };
  if (!g_changed.wait_until(guard, deadline, mayProceed)) timedOut(key_, timeout);

  if (mode == LockMode::kShared && holding.sharedHolders > 0) {
    ++holding.sharedHolders;
    ++ownShared;
    return;
  }
  // Nobody in this process holds it: wait for the other processes without blocking the threads
  // that lock other folders.
  holding.acquiring = true;
  guard.unlock();
  int fd = -1;
  try {
    fd = acquireFile(key_, mode, deadline);
  } catch (...) {
    guard.lock();
    holding.acquiring = false;
    g_changed.notify_all();
    throw;
  }
  guard.lock();
  holding.acquiring = false;
  g_changed.notify_all();
  if (fd == -2) timedOut(key_, timeout);
  holding.fd = fd;
  if (mode == LockMode::kExclusive) {
    holding.owner = self;
    holding.exclusiveDepth = 1;
  } else {
    holding.sharedHolders = 1;
    ++ownShared;
  }
}

FolderLock::~FolderLock() {
  if (owner_ != ::getpid()) return;  // taken by the parent before a fork
  std::lock_guard<std::mutex> guard(g_mutex);
  Holding& holding = g_holdings[key_];
  if (held_ == LockMode::kExclusive) {
    if (--holding.exclusiveDepth == 0) {
      holding.owner = std::thread::id();
      releaseFile(holding, key_);
    }
  } else {
    --t_sharedLocks[key_];
    if (--holding.sharedHolders == 0) releaseFile(holding, key_);
  }
  g_changed.notify_all();
}

bool holdsFolderLock(const std::string& folder, LockMode mode) {
  std::string key;
  try {
    key = keyOf(folder);
  } catch (const StorageError&) {
    return false;
  }
  std::lock_guard<std::mutex> guard(g_mutex);
  const Holding& holding = g_holdings[key];
  if (holding.exclusiveDepth > 0 && holding.owner == std::this_thread::get_id()) return true;
  if (mode == LockMode::kExclusive) return false;
  const auto own = t_sharedLocks.find(key);
  return own != t_sharedLocks.end() && own->second > 0;
}

}  // namespace storage
