#pragma once

// The single file operations that the writers of this library are built from. Each one asks the
// fault hook first and reports a failure as StorageError naming the file the caller is saving.

#include "storage/fault_injection.h"

#include <cstddef>
#include <string>
#include <vector>

namespace storage::detail {

// 0, or the errno value the installed fault hook wants `operation` to fail with.
int injectedFault(FileOperation operation, const std::string& path);

// The folder of `path` ("." for a bare name) and its last component.
std::string folderOf(const std::string& path);
std::string nameOf(const std::string& path);
// `name` inside `folder`, without a "./" for the current folder.
std::string inFolder(const std::string& folder, const std::string& name);

// Whether `name` has the shape of a temporary file of this library: "." + target + "." + six
// letters or digits + ".tmp". With `target` set, also whether it belongs to that target.
bool isTemporaryName(const std::string& name);
bool isTemporaryNameOf(const std::string& name, const std::string& target);

// A new file beside `target` under a unique temporary name, created with O_EXCL | O_NOFOLLOW
// so that nothing that already exists (a planted link above all) is ever opened. While it is
// open its writer holds a lock on it, which tells a live temporary from a stray one. Removed on
// destruction unless it was renamed into place.
class TemporaryFile {
 public:
  explicit TemporaryFile(const std::string& target);
  ~TemporaryFile();
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

  const std::string& path() const { return path_; }
  const std::string& target() const { return target_; }
  // Writes all bytes, then makes them durable.
  void write(const unsigned char* data, std::size_t size);
  void sync();
  // Renames the temporary over `target` (or `destination` when given); the name is then gone.
  void renameOver();
  // Closes the file (and so drops its lock); the file stays where it is.
  void close();
  // Leaves the file on disk at destruction: a committed journal names it.
  void keep() { placed_ = true; }

 private:
  std::string target_;
  std::string path_;
  int fd_ = -1;
  bool placed_ = false;
};

// Fails unless `target` is missing or a regular file: a link, folder or device is never replaced.
void requireReplaceable(const std::string& target);
// Renames `from` over `to`; a failure names `target`.
void renameFile(const std::string& from, const std::string& to, const std::string& target);
// Makes the entries of `folder` (new names, renames, removals) durable.
void syncFolder(const std::string& folder);
// Removes `path`; false (and errno) when it could not. A missing file counts as removed.
bool removeFile(const std::string& path);
// Whether a temporary file is still held open by its writer.
bool isLiveTemporary(const std::string& path);
// The names in `folder`, without "." and "..".
std::vector<std::string> listFolder(const std::string& folder);

}  // namespace storage::detail
