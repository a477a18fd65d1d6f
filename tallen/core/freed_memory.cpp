#include "core/freed_memory.h"

#include <malloc.h>

#include <climits>

namespace tallen {

void keepFreedMemory() {
  // Large blocks come from the heap rather than from their own mappings, and the heap's top is
  // never trimmed: a freed picture's pages serve the next one.
  mallopt(M_MMAP_MAX, 0);
  mallopt(M_TRIM_THRESHOLD, INT_MAX);
  // A thread's own arena maps every block beyond its heap size afresh and unmaps it on free,
  // whatever the limits above say; one arena for all threads keeps parallel jobs' images too.
  mallopt(M_ARENA_MAX, 1);
}

}  // namespace tallen
