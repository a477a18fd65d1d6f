#include "cli/ordered_jobs.h"

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace tallen {
namespace {

// How far work may run ahead of delivery, per thread: enough to keep every thread busy while a
// slower earlier index finishes, few enough that a failure wastes little.
constexpr std::size_t kLookaheadPerJob = 2;

class OrderedRun {
 public:
  OrderedRun(std::size_t count, int jobs, const std::function<void(std::size_t, int)>& work)
      : work_(work),
        done_(count),
        errors_(count),
        window_(static_cast<std::size_t>(jobs) * kLookaheadPerJob) {
    for (int worker = 0; worker < jobs; ++worker) {
      threads_.emplace_back([this, worker] { serve(worker); });
    }
  }

  ~OrderedRun() {
    stop();
    for (std::thread& thread : threads_) thread.join();
  }

  // Waits for `index` and rethrows what its work threw.
  void awaitWork(std::size_t index) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return done_[index]; });
    if (errors_[index]) std::rethrow_exception(errors_[index]);
  }

  void delivered(std::size_t index) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      delivered_ = index + 1;
    }
    changed_.notify_all();
  }

  void stop() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopped_ = true;
    }
    changed_.notify_all();
  }

 private:
  void serve(int worker) {
    for (;;) {
      std::size_t index = 0;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] {
          return stopped_ || next_ >= done_.size() || next_ < delivered_ + window_;
        });
        if (stopped_ || next_ >= done_.size()) return;
        index = next_++;
      }
      std::exception_ptr error;
      try {
        work_(index, worker);
      } catch (...) {
        error = std::current_exception();
      }
      {
        std::lock_guard<std::mutex> lock(mutex_);
        done_[index] = true;
        errors_[index] = error;
        // Every lower index is already taken, so stopping only spares the later ones.
        if (error) stopped_ = true;
      }
      changed_.notify_all();
    }
  }

  const std::function<void(std::size_t, int)>& work_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<bool> done_;
  std::vector<std::exception_ptr> errors_;
  std::size_t window_;
  std::size_t next_ = 0;
  std::size_t delivered_ = 0;
  bool stopped_ = false;
  std::vector<std::thread> threads_;
};

}  // namespace

int defaultJobCount() { return std::max(1u, std::thread::hardware_concurrency()); }

void runOrderedJobs(std::size_t count, int jobs,
                    const std::function<void(std::size_t index, int worker)>& work,
                    const std::function<void(std::size_t index)>& deliver) {
  const int threads = static_cast<int>(std::min<std::size_t>(std::max(jobs, 1), count));
  if (threads <= 1) {
    for (std::size_t index = 0; index < count; ++index) {
      work(index, 0);
      deliver(index);
    }
    return;
  }
  OrderedRun run(count, threads, work);
  for (std::size_t index = 0; index < count; ++index) {
    run.awaitWork(index);
    deliver(index);
    run.delivered(index);
  }
}

}  // namespace tallen
