#pragma once

#include <cstddef>
#include <functional>

namespace tallen {

// The number of jobs to run when the user names none: one per core the system reports, at least 1.
int defaultJobCount();

// Runs work(index, worker) for every index in [0, count) on up to `jobs` threads (`worker` in
// [0, jobs) tells which thread, so that each can keep its own buffers) and deliver(index) on the
// calling thread in index order, each as soon as its work and every earlier delivery are done.
// jobs <= 1 runs work and delivery alternately on the calling thread. The first exception, from
// work or delivery, stops new work from starting; once the running work has ended it is rethrown,
// after every lower index was delivered and none above.
void runOrderedJobs(std::size_t count, int jobs,
                    const std::function<void(std::size_t index, int worker)>& work,
                    const std::function<void(std::size_t index)>& deliver);

}  // namespace tallen
