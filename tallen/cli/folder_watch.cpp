#include "cli/folder_watch.h"

#include "core/procedure_error.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <set>
#include <stdexcept>
#include <system_error>
#include <vector>

namespace tallen {
namespace {

namespace fs = std::filesystem;

// Extensions OpenCV's imread knows, lower case.
const std::set<std::string> kPictureExtensions = {
    "bmp", "dib", "jpeg", "jpg", "jpe", "jp2",  "png", "webp", "pbm", "pgm", "ppm",
    "pxm", "pnm", "pfm",  "sr",  "ras", "tiff", "tif", "exr",  "hdr", "pic"};

// Suffixes that writers give a file until it is complete.
const char* const kTemporarySuffixes[] = {".tmp", ".part"};

constexpr uint32_t kWatchedEvents =
    IN_CLOSE_WRITE | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR | IN_EXCL_UNLINK;
constexpr uint32_t kFolderGoneEvents = IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT | IN_IGNORED;
constexpr size_t kEventBufferSize = 64 * 1024;

const int kStopSignals[] = {SIGINT, SIGTERM};

// The write end of the running watch's stop pipe, for the signal handler; -1 without a watch.
std::atomic<int> g_stopPipe{-1};
struct sigaction g_previousActions[std::size(kStopSignals)];

extern "C" void onStopSignal(int) {
  const int savedErrno = errno;
  const int fd = g_stopPipe.load();
  if (fd >= 0) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(fd, &byte, 1);
  }
  errno = savedErrno;
}

std::string lowerCase(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

bool endsWith(const std::string& text, const std::string& suffix) {
  return text.size() >= suffix.size() &&
         text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

std::string watchErrorText(int error) {
  switch (error) {
    case ENOENT:
      return "no such folder";
    case ENOTDIR:
      return "not a folder";
    case ENOSPC:
      return "the system's limit of watched folders is reached (fs.inotify.max_user_watches)";
    case EMFILE:
      return "too many open files or folder watches (ulimit -n, fs.inotify.max_user_instances)";
    default:
      return std::strerror(error);
  }
}

// Asks the kernel whether any process holds the open file for writing: a read lease is granted
// only when none does. Lease breaks would be signalled with SIGIO, whose default ends the process,
// so they go to SIGURG, which is ignored by default.
bool openForWriting(int fd) {
  if (::fcntl(fd, F_SETSIG, SIGURG) != 0) return false;
  if (::fcntl(fd, F_SETLEASE, F_RDLCK) == 0) {
    ::fcntl(fd, F_SETLEASE, F_UNLCK);
    return false;
  }
  // Other failures (leases disabled, a file system without them) leave only the event to go by.
  return errno == EAGAIN;
}

}  // namespace

bool isWatchedPictureName(const std::string& name) {
  const std::string lower = lowerCase(name);
  if (lower.empty() || lower.front() == '.') return false;
  for (const char* suffix : kTemporarySuffixes) {
    if (endsWith(lower, suffix)) return false;
  }
  const size_t dot = lower.rfind('.');
  if (dot == std::string::npos) return false;
  return kPictureExtensions.count(lower.substr(dot + 1)) > 0;
}

FolderWatch::FolderWatch(const std::string& directory, bool newOnly) : directory_(directory) {
  const std::string prefix = "cannot watch the folder " + directory + ": ";
  if (g_stopPipe.load() >= 0) throw std::logic_error("only one folder watch at a time");
  try {
    inotify_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (inotify_ < 0) throw InspectionError(prefix + watchErrorText(errno));
    // The watch comes before the listing, so that nothing arriving in between is missed.
    watch_ = ::inotify_add_watch(inotify_, directory.c_str(), kWatchedEvents);
    if (watch_ < 0) throw InspectionError(prefix + watchErrorText(errno));

    int pipeEnds[2];
    if (::pipe2(pipeEnds, O_NONBLOCK | O_CLOEXEC) != 0) {
      throw InspectionError(prefix + std::strerror(errno));
    }
    stopRead_ = pipeEnds[0];
    stopWrite_ = pipeEnds[1];
    // A self-pipe rather than blocked signals: threads the image library started earlier would
    // still take the signals with their default action.
    g_stopPipe.store(stopWrite_);
    struct sigaction action = {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (size_t i = 0; i < std::size(kStopSignals); ++i) {
      ::sigaction(kStopSignals[i], &action, &g_previousActions[i]);
    }
    handlersInstalled_ = true;

    // Without newOnly the pictures at start are queued; with it they are only remembered, so that
    // a relisting after lost events does not take them.
    listFolder(!newOnly);
  } catch (...) {
    release();
    throw;
  }
}

FolderWatch::~FolderWatch() { release(); }

void FolderWatch::release() {
  if (handlersInstalled_) {
    for (size_t i = 0; i < std::size(kStopSignals); ++i) {
      ::sigaction(kStopSignals[i], &g_previousActions[i], nullptr);
    }
    handlersInstalled_ = false;
  }
  if (stopWrite_ >= 0) {
    g_stopPipe.store(-1);
    ::close(stopWrite_);
    stopWrite_ = -1;
  }
  if (stopRead_ >= 0) ::close(stopRead_);
  if (inotify_ >= 0) ::close(inotify_);
  stopRead_ = inotify_ = watch_ = -1;
}

std::optional<std::string> FolderWatch::next() {
  for (;;) {
    if (stopRequested()) return std::nullopt;
    readEvents();
    while (!pending_.empty()) {
      const std::string name = pending_.front();
      pending_.pop_front();
      const std::string path = (fs::path(directory_) / name).string();
      const std::optional<FileVersion> version = readyVersion(path);
      // Gone, not a file, or still being written: its closing brings it back.
      if (!version) continue;
      const auto taken = taken_.find(name);
      if (taken != taken_.end() && sameVersion(taken->second, *version)) continue;
      taken_[name] = *version;
      return path;
    }
    waitForEvents();
  }
}

void FolderWatch::listFolder(bool queue) {
  std::error_code error;
  std::vector<std::string> names;
  for (fs::directory_iterator it(directory_, error), end; !error && it != end;
       it.increment(error)) {
    const std::string name = it->path().filename().string();
    if (isWatchedPictureName(name)) names.push_back(name);
  }
  if (error) {
    throw InspectionError("cannot list the folder " + directory_ + ": " + error.message());
  }
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    if (queue) {
      pending_.push_back(name);
    } else if (const std::optional<FileVersion> version =
                   readyVersion((fs::path(directory_) / name).string())) {
      taken_[name] = *version;
    }
  }
}

void FolderWatch::readEvents() {
  // new[] aligns for any type, inotify_event included.
  if (events_.empty()) events_.resize(kEventBufferSize);
  char* const buffer = events_.data();
  for (;;) {
    const ssize_t length = ::read(inotify_, buffer, events_.size());
    if (length < 0 && errno == EINTR) continue;
    if (length < 0 && errno == EAGAIN) return;
    if (length <= 0) {
      throw InspectionError("cannot watch the folder " + directory_ + ": " +
                            (length < 0 ? std::strerror(errno) : "the watch ended"));
    }
    for (ssize_t offset = 0; offset < length;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + offset);
      offset += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      if (event->mask & IN_Q_OVERFLOW) {
        // Events were lost: whatever is in the folder now is a candidate; what was taken and has
        // not changed is skipped when its turn comes.
        listFolder(true);
      } else if (event->mask & kFolderGoneEvents) {
        throw InspectionError("the watched folder " + directory_ + " was removed or moved away");
      } else if (event->len > 0 && !(event->mask & IN_ISDIR) && isWatchedPictureName(event->name)) {
        pending_.push_back(event->name);
      }
    }
  }
}

void FolderWatch::waitForEvents() {
  pollfd fds[] = {{inotify_, POLLIN, 0}, {stopRead_, POLLIN, 0}};
  // A signal interrupts the wait; the loop in next() then finds the stop.
  if (::poll(fds, std::size(fds), -1) < 0 && errno != EINTR) {
    throw InspectionError("cannot watch the folder " + directory_ + ": " + std::strerror(errno));
  }
}

bool FolderWatch::stopRequested() {
  char bytes[16];
  while (!stopped_ && ::read(stopRead_, bytes, sizeof(bytes)) > 0) stopped_ = true;
  return stopped_;
}

std::optional<FolderWatch::FileVersion> FolderWatch::readyVersion(const std::string& path) {
  struct stat status = {};
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) return std::nullopt;
    // Unreadable: let the inspection say so rather than drop the picture silently.
    if (::stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) return std::nullopt;
  } else {
    const bool ready = ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && !openForWriting(fd);
    ::close(fd);
    if (!ready) return std::nullopt;
  }
  return FileVersion{status.st_dev, status.st_ino, status.st_size, status.st_mtim, status.st_ctim};
}

bool FolderWatch::sameVersion(const FileVersion& a, const FileVersion& b) {
  return a.device == b.device && a.inode == b.inode && a.size == b.size &&
         a.modified.tv_sec == b.modified.tv_sec && a.modified.tv_nsec == b.modified.tv_nsec &&
         a.changed.tv_sec == b.changed.tv_sec && a.changed.tv_nsec == b.changed.tv_nsec;
}

}  // namespace tallen
