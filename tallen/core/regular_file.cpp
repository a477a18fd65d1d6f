#include "core/regular_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tallen {

RegularFile::RegularFile(const std::string& path) {
  // Non-blocking, so that opening a FIFO with no writer returns at once; it is refused below.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    missing_ = errno == ENOENT;
    problem_ =
        missing_ ? "no such file" : std::string("cannot be opened (") + std::strerror(errno) + ")";
    return;
  }
  struct stat status {};
  if (::fstat(fd, &status) != 0) {
    problem_ = std::string("cannot be opened (") + std::strerror(errno) + ")";
    ::close(fd);
    return;
  }
  if (!S_ISREG(status.st_mode)) {
    problem_ = S_ISDIR(status.st_mode) ? "it is a directory" : "not a regular file";
    ::close(fd);
    return;
  }
  // Reads of a regular file never block, but stdio should see an ordinary descriptor.
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  fd_ = fd;
}

RegularFile::~RegularFile() {
  if (fd_ >= 0) ::close(fd_);
}

int RegularFile::release() {
  const int fd = fd_;
  fd_ = -1;
  return fd;
}

}  // namespace tallen
