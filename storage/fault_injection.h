#pragma once

#include <functional>
#include <string>

namespace storage {

// The file operations of this library, in the order a save makes them.
enum class FileOperation { kCreate, kWrite, kSyncFile, kClose, kRename, kSyncFolder, kRemove };

// "create", "write", ... for test output.
const char* operationName(FileOperation operation);

// Called before every file operation of this library with the operation and the file or folder
// it acts on. Returns 0 to let the operation run, or an errno value to make it fail as the
// system would. Tests use it to stop a save at each operation in turn (by killing the process
// from the hook) and to produce failures such as a full disk.
using FaultHook = std::function<int(FileOperation operation, const std::string& path)>;

// Installs `hook` for the whole process; an empty one removes it. Not for concurrent use.
void setFaultHook(FaultHook hook);

}  // namespace storage
