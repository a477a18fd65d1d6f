#pragma once

// Scratch folders, child processes and crash points for the tests of the file writers.

#include "storage/fault_injection.h"

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace storage::testing {

// A fresh folder under the system's temporary folder, removed with its contents at the end.
class ScratchFolder {
 public:
  ScratchFolder();
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Every entry of `folder` by name: a file's bytes, "-> target" for a link, "<dir>" or "<other>".
std::map<std::string, std::string> folderContents(const std::string& folder);

// A file's bytes, or "<missing>".
std::string fileText(const std::string& path);
void writeText(const std::string& path, const std::string& text);
std::vector<unsigned char> bytesOf(const std::string& text);

// The file operations that `save` makes, as "<operation> <path>", in order.
std::vector<std::string> recordOperations(const std::function<void()>& save);

// Runs `save` in a child process that is killed (SIGKILL) just before its file operation number
// `operation` (0 for the first). Returns false when the save ended before reaching it.
bool killedAt(int operation, const std::function<void()>& save);

// Runs `body` in a child process; waitChild gives its exit status (-1 when it was killed).
int startChild(const std::function<int()>& body);
int waitChild(int pid);

// Runs `action` in a child process without root's privileges (as user nobody when the tests run
// as root) and returns what() of the exception it threw, or "" when it threw none.
std::string failureWithoutPrivileges(const std::function<void()>& action);

// A pipe to hold a child at a point until the parent lets it go.
class Gate {
 public:
  Gate();
  ~Gate();
  // In the child: tell the parent it has arrived, then wait until the parent opens the gate.
  void arriveAndWait();
  // In the parent.
  void awaitArrival();
  void open();

 private:
  int arrived_[2];
  int release_[2];
};

}  // namespace storage::testing
