#include "storage/fault_injection.h"

#include "storage/file_operations.h"

#include <utility>

namespace storage {
namespace {

FaultHook g_faultHook;

}  // namespace

const char* operationName(FileOperation operation) {
  switch (operation) {
    case FileOperation::kCreate:
      return "create";
    case FileOperation::kWrite:
      return "write";
    case FileOperation::kSyncFile:
      return "sync file";
    case FileOperation::kClose:
      return "close";
    case FileOperation::kRename:
      return "rename";
    case FileOperation::kSyncFolder:
      return "sync folder";
    case FileOperation::kRemove:
      return "remove";
  }
  return "?";
}

void setFaultHook(FaultHook hook) { g_faultHook = std::move(hook); }

namespace detail {

int injectedFault(FileOperation operation, const std::string& path) {
  return g_faultHook ? g_faultHook(operation, path) : 0;
}

}  // namespace detail
}  // namespace storage
