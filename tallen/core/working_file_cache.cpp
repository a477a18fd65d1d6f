#include "core/working_file_cache.h"

#include "core/working_files.h"

#include <sys/stat.h>

#include <filesystem>
#include <system_error>

namespace tallen {

bool WorkingFileCache::Identity::operator==(const Identity& other) const {
  return device == other.device && inode == other.inode && bytes == other.bytes &&
         modified.tv_sec == other.modified.tv_sec && modified.tv_nsec == other.modified.tv_nsec &&
         changed.tv_sec == other.changed.tv_sec && changed.tv_nsec == other.changed.tv_nsec;
}

bool WorkingFileCache::identify(const std::string& path, Identity& identity) {
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) return false;
  identity.device = status.st_dev;
  identity.inode = status.st_ino;
  identity.bytes = status.st_size;
  identity.modified = status.st_mtim;
  identity.changed = status.st_ctim;
  return true;
}

cv::Mat WorkingFileCache::load(const std::string& path, cv::Size size) {
  std::error_code error;
  std::string key = std::filesystem::absolute(path, error).lexically_normal().string();
  if (error) key = path;

  Identity before;
  const bool known = identify(path, before);
  if (known) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = entries_.find(key);
    // Another size goes through the loader again, so that it reports the mismatch.
    if (it != entries_.end() && it->second.identity == before && it->second.image.size() == size) {
      return it->second.image;
    }
  }

  cv::Mat image = loadWorkingImage(path, size);
  Identity after;
  std::lock_guard<std::mutex> lock(mutex_);
  ++decodeCount_;
  // A file replaced while it was read may have given either version: it is not kept.
  if (known && identify(path, after) && after == before) {
    entries_[key] = {before, image};
  } else {
    entries_.erase(key);
  }
  return image;
}

int WorkingFileCache::decodeCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return decodeCount_;
}

}  // namespace tallen
