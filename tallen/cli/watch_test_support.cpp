#include "cli/watch_test_support.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <random>
#include <stdexcept>

namespace tallen::watch_testing {

DelayedSignal::DelayedSignal(int signal, std::chrono::milliseconds delay)
    : thread_([this, signal, delay] {
        std::unique_lock<std::mutex> lock(mutex_);
        if (cancelled_.wait_for(lock, delay, [this] { return cancel_; })) return;
        fired_ = true;
        ::kill(::getpid(), signal);
      }) {}

DelayedSignal::~DelayedSignal() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    cancel_ = true;
  }
  cancelled_.notify_all();
  thread_.join();
}

std::string testBytes(size_t size, unsigned seed) {
  std::mt19937 generator(seed);
  std::string bytes(size, '\0');
  std::generate(bytes.begin(), bytes.end(), [&] { return static_cast<char>(generator()); });
  return bytes;
}

void writeInChunks(const std::string& path, const std::string& bytes, int chunks,
                   std::chrono::milliseconds pause) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) throw std::runtime_error("cannot create " + path);
  const size_t chunk = (bytes.size() + chunks - 1) / chunks;
  for (size_t offset = 0; offset < bytes.size(); offset += chunk) {
    const size_t length = std::min(chunk, bytes.size() - offset);
    if (::write(fd, bytes.data() + offset, length) != static_cast<ssize_t>(length)) {
      ::close(fd);
      throw std::runtime_error("cannot write " + path);
    }
    if (offset + length < bytes.size()) std::this_thread::sleep_for(pause);
  }
  if (::close(fd) != 0) throw std::runtime_error("cannot close " + path);
}

void writeWhole(const std::string& path, const std::string& bytes) {
  writeInChunks(path, bytes, 1, std::chrono::milliseconds(0));
}

}  // namespace tallen::watch_testing
