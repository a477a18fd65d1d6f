#include "storage/file_set.h"

#include "storage/file_operations.h"
#include "storage/storage_error.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <set>
#include <sstream>
#include <utility>

namespace storage {
namespace {

using detail::inFolder;

constexpr char kJournalHeader[] = "kit file set 1";
constexpr char kJournalEnd[] = "end";
constexpr off_t kMaxJournalBytes = 1 << 16;

struct Rename {
  std::string temporary;  // names within the folder
  std::string target;
};

bool isPlainName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." &&
         name.find_first_of(std::string("/\t\n\0", 4)) == std::string::npos;
}

std::string journalText(const std::vector<Rename>& renames) {
  std::string text = std::string(kJournalHeader) + "\n";
  for (const Rename& r : renames) text += r.temporary + "\t" + r.target + "\n";
  return text + kJournalEnd + "\n";
}

[[noreturn]] void damagedJournal(const std::string& journal, const std::string& why) {
  throw StorageError(journal, "cannot be used to finish an interrupted save",
                     why + "; remove it to keep the files as they are");
}

// The journal's renames; nothing when there is no journal.
std::vector<Rename> readJournal(const std::string& folder) {
  const std::string journal = inFolder(folder, kJournalFileName);
  const int fd = ::open(journal.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) return {};
    damagedJournal(journal, errno == ELOOP ? "not a regular file" : systemReason(errno));
  }
  std::unique_ptr<int, void (*)(int*)> closer(new int(fd), [](int* f) {
    ::close(*f);
    delete f;
  });
  struct stat status;
  if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    damagedJournal(journal, "not a regular file");
  }
  if (status.st_size > kMaxJournalBytes) damagedJournal(journal, "too large");
  std::string text(static_cast<std::size_t>(status.st_size), '\0');
  std::size_t got = 0;
  while (got < text.size()) {
    const ssize_t n = ::read(fd, text.data() + got, text.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) damagedJournal(journal, systemReason(errno));
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  text.resize(got);

  std::istringstream lines(text);
  std::string line;
  if (!std::getline(lines, line) || line != kJournalHeader)
    damagedJournal(journal, "unknown format");
  std::vector<Rename> renames;
  bool ended = false;
  while (std::getline(lines, line)) {
    if (line == kJournalEnd) {
      ended = true;
      break;
    }
    const std::size_t tab = line.find('\t');
    if (tab == std::string::npos) damagedJournal(journal, "unknown format");
    Rename r{line.substr(0, tab), line.substr(tab + 1)};
    // Only a temporary of this library may be renamed, and only over its own target, so that a
    // planted journal cannot move other files around.
    if (!isPlainName(r.target) || !detail::isTemporaryNameOf(r.temporary, r.target) ||
        r.target == kJournalFileName || r.target == kLockFileName) {
      damagedJournal(journal, "names a file that is not a temporary of its target");
    }
    renames.push_back(std::move(r));
  }
  if (!ended || lines.peek() != std::char_traits<char>::eof()) {
    damagedJournal(journal, "unknown format");
  }
  return renames;
}

bool exists(const std::string& path) {
  struct stat status;
  return ::lstat(path.c_str(), &status) == 0;
}

// Renames what is still to be renamed; a temporary that is gone was renamed already.
bool rollForward(const std::string& folder, const std::vector<Rename>& renames) {
  bool changed = false;
  for (const Rename& r : renames) {
    const std::string temporary = inFolder(folder, r.temporary);
    if (!exists(temporary)) continue;
    const std::string target = inFolder(folder, r.target);
    detail::requireReplaceable(target);
    detail::renameFile(temporary, target, target);
    changed = true;
  }
  if (changed) detail::syncFolder(folder);
  return changed;
}

void removeJournal(const std::string& folder) {
  const std::string journal = inFolder(folder, kJournalFileName);
  if (!detail::removeFile(journal)) {
    throw StorageError(journal, "cannot be removed", systemReason(errno));
  }
}

// Stray temporaries: of this library, and held by no live writer.
std::vector<std::string> strayTemporaries(const std::string& folder) {
  std::vector<std::string> strays;
  for (const std::string& name : detail::listFolder(folder)) {
    if (detail::isTemporaryName(name) && !detail::isLiveTemporary(inFolder(folder, name))) {
      strays.push_back(name);
    }
  }
  return strays;
}

bool journalExists(const std::string& folder) { return exists(inFolder(folder, kJournalFileName)); }

std::string commonFolder(const std::vector<FileContents>& files) {
  const std::string folder = detail::folderOf(files.front().path);
  std::set<std::string> names;
  for (const FileContents& file : files) {
    const std::string name = detail::nameOf(file.path);
    if (detail::folderOf(file.path) != folder || !isPlainName(name)) {
      throw StorageError(file.path, "cannot be replaced",
                         "not in the folder " + folder + " of the other files");
    }
    if (name == kJournalFileName || name == kLockFileName || !names.insert(name).second) {
      throw StorageError(file.path, "cannot be replaced", "named twice or reserved");
    }
  }
  return folder;
}

}  // namespace

bool folderNeedsRecovery(const std::string& folder) {
  return journalExists(folder) || !strayTemporaries(folder).empty();
}

bool recoverFolder(const std::string& folder, std::chrono::milliseconds lockTimeout) {
  const FolderLock lock(folder, LockMode::kExclusive, lockTimeout);
  bool changed = false;
  if (journalExists(folder)) {
    rollForward(folder, readJournal(folder));
    removeJournal(folder);
    changed = true;
  }
  for (const std::string& name : strayTemporaries(folder)) {
    const std::string path = inFolder(folder, name);
    if (!detail::removeFile(path)) {
      throw StorageError(path, "cannot be removed", systemReason(errno));
    }
    changed = true;
  }
  if (changed) detail::syncFolder(folder);
  return changed;
}

void replaceFiles(const std::vector<FileContents>& files, std::chrono::milliseconds lockTimeout) {
  if (files.empty()) return;
  const std::string folder = commonFolder(files);
  const FolderLock lock(folder, LockMode::kExclusive, lockTimeout);
  recoverFolder(folder, lockTimeout);

  for (const FileContents& file : files) detail::requireReplaceable(file.path);
  std::vector<std::unique_ptr<detail::TemporaryFile>> temporaries;
  for (const FileContents& file : files) {
    temporaries.push_back(std::make_unique<detail::TemporaryFile>(file.path));
    temporaries.back()->write(file.bytes.data(), file.bytes.size());
    temporaries.back()->sync();
  }
  if (temporaries.size() == 1) {
    // One rename is atomic by itself: no journal needed.
    temporaries.front()->renameOver();
    temporaries.front()->close();
    detail::syncFolder(folder);
    return;
  }

  std::vector<Rename> renames;
  for (const auto& t : temporaries) {
    renames.push_back({detail::nameOf(t->path()), detail::nameOf(t->target())});
  }
  {
    const std::string text = journalText(renames);
    const std::string journal = inFolder(folder, kJournalFileName);
    detail::TemporaryFile journalTemporary(journal);
    journalTemporary.write(reinterpret_cast<const unsigned char*>(text.data()), text.size());
    journalTemporary.sync();
    // Every temporary's name must be on disk before a journal that names it.
    detail::syncFolder(folder);
    journalTemporary.renameOver();  // the commit
    journalTemporary.close();
  }
  // From here on the new set wins: the temporaries belong to the journal, not to this call.
  for (const auto& t : temporaries) t->keep();
  detail::syncFolder(folder);
  rollForward(folder, renames);
  for (const auto& t : temporaries) t->close();
  // Every file is in place: a journal left behind names nothing that still exists, and the next
  // recovery just removes it.
  detail::removeFile(inFolder(folder, kJournalFileName));
}

}  // namespace storage
