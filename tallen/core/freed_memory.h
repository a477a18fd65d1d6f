#pragma once

namespace tallen {

// Tells the allocator to keep memory the process frees instead of returning it to the system, so
// that the large images of the next picture reuse pages that are already mapped (a first touch of
// a fresh page costs more than the arithmetic on it). Call once at start-up, before any thread.
void keepFreedMemory();

}  // namespace tallen
