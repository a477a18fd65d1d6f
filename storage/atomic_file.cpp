#include "storage/atomic_file.h"

#include "storage/file_operations.h"

namespace storage {

void writeFileAtomically(const std::string& path, const std::vector<unsigned char>& bytes) {
  detail::requireReplaceable(path);
  detail::TemporaryFile temporary(path);
  temporary.write(bytes.data(), bytes.size());
  temporary.sync();
  temporary.renameOver();
  temporary.close();
  detail::syncFolder(detail::folderOf(path));
}

}  // namespace storage
