#pragma once

#include <string>
#include <vector>

namespace storage {

// Replaces the file at `path` with `bytes` so that, whatever happens, the file holds either its
// previous contents or all of the new ones: the bytes go to a new temporary file beside it,
// named "." + name + ".XXXXXX.tmp" (six random letters or digits) and created without following
// or reusing anything already there, are synced, and the temporary is renamed over `path`,
// whose folder is synced last. A cut-off write leaves at most such a temporary. Throws
// StorageError naming `path` with the system's reason, or "not a regular file" when `path`
// is a link, folder or device; `path` is then as it was.
void writeFileAtomically(const std::string& path, const std::vector<unsigned char>& bytes);

}  // namespace storage
