#pragma once

#include <string>

namespace tallen {

// A read-only descriptor of a regular file, closed on destruction.
class RegularFile {
 public:
  // Opens `path` for reading if it is a regular file, following links. A FIFO, a device, a
  // socket or a folder is refused without blocking and without reading from it. On failure
  // isOpen() is false and problem() says why, without the path.
  explicit RegularFile(const std::string& path);
  ~RegularFile();
  RegularFile(const RegularFile&) = delete;
  RegularFile& operator=(const RegularFile&) = delete;

  bool isOpen() const { return fd_ >= 0; }
  // True when the failure was that nothing exists at the path.
  bool missing() const { return missing_; }
  const std::string& problem() const { return problem_; }
  int fd() const { return fd_; }
  // Gives the descriptor away (to fdopen, for instance); the object then closes nothing.
  int release();

 private:
  int fd_ = -1;
  bool missing_ = false;
  std::string problem_;
};

}  // namespace tallen
