#pragma once

#include <sys/types.h>

#include <ctime>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace tallen {

// True for a file name that the watch takes as a picture: an extension OpenCV decodes (jpg, jpeg,
// png, bmp, tif, tiff, ..., in any case), and not a writer's temporary name (a leading '.', a
// trailing ".tmp" or ".part").
bool isWatchedPictureName(const std::string& name);

// The pictures that arrive in one folder, one at a time, until SIGINT or SIGTERM.
//
// A picture is taken once it is complete: when its writer closes it after writing, or when it is
// moved into the folder, and only while no process holds it open for writing. Pictures already in
// the folder come first, in name order, unless `newOnly`. A file is taken again only when it
// changed (written anew, or moved in again). Linux only (inotify).
//
// While a watch exists, SIGINT and SIGTERM no longer end the process: they make next() return
// nullopt; the previous handlers come back on destruction. One watch at a time per process.
class FolderWatch {
 public:
  // Starts watching `directory`. Throws InspectionError naming it when it is missing, not a
  // folder, not readable, or when the system's limits on watches are reached.
  FolderWatch(const std::string& directory, bool newOnly);
  ~FolderWatch();
  FolderWatch(const FolderWatch&) = delete;
  FolderWatch& operator=(const FolderWatch&) = delete;

  // Blocks until the next picture is ready and returns its path (`directory`/name, the folder as
  // given); nullopt once SIGINT or SIGTERM arrived, also for every later call. Throws
  // InspectionError naming the folder when it is removed or moved away, or the watch fails.
  std::optional<std::string> next();

 private:
  // What tells one version of a file from another.
  struct FileVersion {
    dev_t device;
    ino_t inode;
    off_t size;
    timespec modified;
    timespec changed;
  };

  void release();
  void listFolder(bool queue);
  void readEvents();
  void waitForEvents();
  bool stopRequested();
  // The version of the regular file at `path` when no process holds it open for writing.
  static std::optional<FileVersion> readyVersion(const std::string& path);
  static bool sameVersion(const FileVersion& a, const FileVersion& b);

  std::string directory_;
  int inotify_ = -1;
  int watch_ = -1;
  int stopRead_ = -1;
  int stopWrite_ = -1;
  bool handlersInstalled_ = false;
  bool stopped_ = false;
  std::vector<char> events_;
  std::deque<std::string> pending_;
  std::map<std::string, FileVersion> taken_;
};

}  // namespace tallen
