#pragma once

#include <opencv2/core.hpp>

#include <sys/types.h>

#include <ctime>
#include <map>
#include <mutex>
#include <string>

namespace tallen {

// Decoded working images kept across procedure calls: a file is decoded again only when its
// identity (device, inode, size, modification and change times in ns) differs from the one it had
// when it was decoded. Working files are replaced by renaming, which gives them a new inode.
// Safe to share between threads.
class WorkingFileCache {
 public:
  // The image loadWorkingImage(path, size) would return, with its checks and messages. The pixels
  // are shared with the cache: callers only read them (clone before writing).
  cv::Mat load(const std::string& path, cv::Size size);

  // How many files were decoded so far (not answered from the cache).
  int decodeCount() const;

 private:
  struct Identity {
    dev_t device = 0;
    ino_t inode = 0;
    off_t bytes = 0;
    timespec modified{};
    timespec changed{};
    bool operator==(const Identity& other) const;
  };
  struct Entry {
    Identity identity;
    cv::Mat image;
  };

  static bool identify(const std::string& path, Identity& identity);

  mutable std::mutex mutex_;
  std::map<std::string, Entry> entries_;
  int decodeCount_ = 0;
};

}  // namespace tallen
