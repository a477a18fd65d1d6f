#include "storage/file_operations.h"

#include "storage/storage_error.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <random>

namespace storage::detail {
namespace {

constexpr char kTemporarySuffix[] = ".tmp";
constexpr std::size_t kTemporarySuffixLength = sizeof kTemporarySuffix - 1;
constexpr std::size_t kUniquePartLength = 6;
constexpr int kCreateAttempts = 100;
constexpr mode_t kNewFileMode = 0666;  // narrowed by the umask, as any new file of the user
constexpr char kUniqueAlphabet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";

std::string temporaryPrefix(const std::string& target) {
  const std::string name = nameOf(target);
  return name[0] == '.' ? name : "." + name;
}

std::string uniquePart() {
  thread_local std::mt19937_64 generator(
      std::random_device{}() ^
      static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()));
  // A forked child inherits the generator; the pid keeps its names apart from the parent's.
  thread_local pid_t owner = 0;
  if (owner != ::getpid()) {
    owner = ::getpid();
    generator.seed(generator() ^ static_cast<std::uint64_t>(owner));
  }
  std::uniform_int_distribution<std::size_t> pick(0, sizeof kUniqueAlphabet - 2);
  std::string part;
  for (std::size_t i = 0; i < kUniquePartLength; ++i) part += kUniqueAlphabet[pick(generator)];
  return part;
}

// Runs `call` unless the hook injects a failure; -1 with errno set like the system's.
template <typename Call>
int guarded(FileOperation operation, const std::string& path, Call call) {
  if (const int fault = injectedFault(operation, path)) {
    errno = fault;
    return -1;
  }
  int result;
  do {
    result = call();
  } while (result == -1 && errno == EINTR);
  return result;
}

}  // namespace

std::string folderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string nameOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string inFolder(const std::string& folder, const std::string& name) {
  if (folder == ".") return name;
  if (!folder.empty() && folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

bool isTemporaryName(const std::string& name) {
  const std::size_t minimum = 1 + 1 + 1 + kUniquePartLength + kTemporarySuffixLength;
  if (name.size() < minimum || name[0] != '.') return false;
  if (name.compare(name.size() - kTemporarySuffixLength, kTemporarySuffixLength,
                   kTemporarySuffix) != 0) {
    return false;
  }
  const std::size_t unique = name.size() - kTemporarySuffixLength - kUniquePartLength;
  if (name[unique - 1] != '.') return false;
  for (std::size_t i = unique; i < unique + kUniquePartLength; ++i) {
    if (!std::isalnum(static_cast<unsigned char>(name[i]))) return false;
  }
  return true;
}

bool isTemporaryNameOf(const std::string& name, const std::string& target) {
  const std::string prefix = temporaryPrefix(target) + ".";
  return isTemporaryName(name) &&
         name.size() == prefix.size() + kUniquePartLength + kTemporarySuffixLength &&
         name.compare(0, prefix.size(), prefix) == 0;
}

TemporaryFile::TemporaryFile(const std::string& target) : target_(target) {
  const std::string folder = folderOf(target);
  int error = EEXIST;
  for (int attempt = 0; attempt < kCreateAttempts && error == EEXIST; ++attempt) {
    path_ = inFolder(folder, temporaryPrefix(target) + "." + uniquePart() + kTemporarySuffix);
    fd_ = guarded(FileOperation::kCreate, path_, [&] {
      return ::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                    kNewFileMode);
    });
    error = fd_ < 0 ? errno : 0;
  }
  if (fd_ < 0) throw StorageError(target_, "cannot be written", systemReason(error));
  // Nobody else has the file yet, so the lock is granted at once.
  ::flock(fd_, LOCK_EX | LOCK_NB);
}

TemporaryFile::~TemporaryFile() {
  if (!placed_ && !path_.empty() && fd_ >= 0) ::unlink(path_.c_str());
  if (fd_ >= 0) ::close(fd_);
}

void TemporaryFile::write(const unsigned char* data, std::size_t size) {
  std::size_t done = 0;
  // One call even for no bytes, so that every save has a write to fail at.
  do {
    const ssize_t n = guarded(FileOperation::kWrite, path_, [&] {
      return static_cast<int>(::write(fd_, data + done, size - done));
    });
    if (n < 0) throw StorageError(target_, "cannot be written", systemReason(errno));
    done += static_cast<std::size_t>(n);
  } while (done < size);
}

void TemporaryFile::sync() {
  if (guarded(FileOperation::kSyncFile, path_, [&] { return ::fsync(fd_); }) != 0) {
    throw StorageError(target_, "cannot be written", systemReason(errno));
  }
}

void TemporaryFile::renameOver() {
  renameFile(path_, target_, target_);
  placed_ = true;
}

void TemporaryFile::close() {
  if (fd_ < 0) return;
  // The data is already on disk (sync came first), so a late close error changes nothing.
  guarded(FileOperation::kClose, path_, [] { return 0; });
  ::close(fd_);
  fd_ = -1;
}

void requireReplaceable(const std::string& target) {
  struct stat status;
  if (::lstat(target.c_str(), &status) != 0) {
    if (errno == ENOENT) return;
    throw StorageError(target, "cannot be replaced", systemReason(errno));
  }
  if (!S_ISREG(status.st_mode)) {
    throw StorageError(target, "cannot be replaced", "not a regular file");
  }
}

void renameFile(const std::string& from, const std::string& to, const std::string& target) {
  if (guarded(FileOperation::kRename, to, [&] { return ::rename(from.c_str(), to.c_str()); }) !=
      0) {
    throw StorageError(target, "cannot be replaced", systemReason(errno));
  }
}

void syncFolder(const std::string& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) throw StorageError(folder, "cannot be written to disk", systemReason(errno));
  const int result = guarded(FileOperation::kSyncFolder, folder, [&] { return ::fsync(fd); });
  const int error = errno;
  ::close(fd);
  // Some file systems cannot sync a folder at all; their entries are as durable as they get.
  if (result != 0 && error != EINVAL) {
    throw StorageError(folder, "cannot be written to disk", systemReason(error));
  }
}

bool removeFile(const std::string& path) {
  return guarded(FileOperation::kRemove, path, [&] { return ::unlink(path.c_str()); }) == 0 ||
         errno == ENOENT;
}

bool isLiveTemporary(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  const bool live = ::flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
  ::close(fd);
  return live;
}

std::vector<std::string> listFolder(const std::string& folder) {
  std::vector<std::string> names;
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) throw StorageError(folder, "cannot be read", systemReason(errno));
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  ::closedir(dir);
  return names;
}

}  // namespace storage::detail
