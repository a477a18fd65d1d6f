#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

namespace tallen::watch_testing {

// How long a test waits for anything that should happen soon, generous for a loaded machine.
constexpr std::chrono::seconds kPatience(60);

// Sends `signal` to this process after `delay` unless destroyed first. As a watchdog it turns a
// next() that never returns into a failed test instead of a hung one; declare it after the watch
// so that it is gone before the watch's handlers are.
class DelayedSignal {
 public:
  DelayedSignal(int signal, std::chrono::milliseconds delay);
  ~DelayedSignal();
  DelayedSignal(const DelayedSignal&) = delete;
  DelayedSignal& operator=(const DelayedSignal&) = delete;

  bool fired() const { return fired_; }

 private:
  std::mutex mutex_;
  std::condition_variable cancelled_;
  bool cancel_ = false;
  std::atomic<bool> fired_{false};
  std::thread thread_;
};

// `size` bytes that differ with `seed`, the same on every run.
std::string testBytes(size_t size, unsigned seed);

// Writes `bytes` to `path` through one descriptor in `chunks` writes with `pause` after each
// but the last, closing only at the end: a slow copy.
void writeInChunks(const std::string& path, const std::string& bytes, int chunks,
                   std::chrono::milliseconds pause);

// Writes `bytes` to `path` at once.
void writeWhole(const std::string& path, const std::string& bytes);

}  // namespace tallen::watch_testing
