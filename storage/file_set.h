#pragma once

#include "storage/folder_lock.h"

#include <chrono>
#include <string>
#include <vector>

namespace storage {

// The file in a folder that records a replacement of a set of files between its commit and its
// end: one line per file, "<temporary>\t<target>".
constexpr char kJournalFileName[] = ".kit.journal";

// One file of a set: its path and its whole new contents.
struct FileContents {
  std::string path;
  std::vector<unsigned char> bytes;
};

// Replaces every file of `files` (all in one folder) together. Each new file is first written
// and synced under a temporary name as writeFileAtomically does; the journal naming every
// temporary and its target is then put in place atomically (the commit), the temporaries are
// renamed over their targets, the folder is synced and the journal removed. A crash before the
// commit leaves the previous set, one after it the new set once recoverFolder has run. Holds the
// folder's exclusive lock throughout (sharing one that the calling thread holds) and recovers
// the folder first. Throws StorageError naming the file that could not be written or replaced,
// with the system's reason; before the commit every file is then as it was.
void replaceFiles(const std::vector<FileContents>& files,
                  std::chrono::milliseconds lockTimeout = kDefaultLockTimeout);

// Whether an interrupted save left something in `folder` for recoverFolder: a journal, or a
// temporary file of this library that no live writer holds.
bool folderNeedsRecovery(const std::string& folder);

// Finishes what an interrupted replaceFiles left in `folder`: renames the temporaries of a
// committed set into place, then removes the journal and every stray temporary. Holds the
// folder's exclusive lock while it works. Returns whether it changed anything. Throws
// StorageError naming the file when a rename or removal fails or the journal is damaged; run
// again, it goes on where it stopped.
bool recoverFolder(const std::string& folder,
                   std::chrono::milliseconds lockTimeout = kDefaultLockTimeout);

}  // namespace storage
