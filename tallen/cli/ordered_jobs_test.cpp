#include "cli/ordered_jobs.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

namespace tallen {
namespace {

struct RunCase {
  std::size_t count;
  int jobs;
  friend void PrintTo(const RunCase& c, std::ostream* os) {
    *os << c.count << " items on " << c.jobs << " jobs";
  }
};

class OrderedJobs : public ::testing::TestWithParam<RunCase> {};

// Early items take longest, so that later ones finish first where threads allow it.
TEST_P(OrderedJobs, DeliversEveryIndexInOrderAndKeepsEachWorkerToOneItemAtATime) {
  const RunCase c = GetParam();
  std::vector<std::atomic<bool>> busy(c.jobs > 0 ? c.jobs : 1);
  std::atomic<int> overlaps{0};
  std::atomic<int> badWorkers{0};
  std::vector<int> results(c.count, -1);
  std::vector<std::size_t> delivered;
  runOrderedJobs(
      c.count, c.jobs,
      [&](std::size_t index, int worker) {
        if (worker < 0 || worker >= static_cast<int>(busy.size())) {
          ++badWorkers;
          return;
        }
        if (busy[worker].exchange(true)) ++overlaps;
        std::this_thread::sleep_for(std::chrono::milliseconds(index < 3 ? 20 - 5 * index : 0));
        results[index] = static_cast<int>(index * index);
        busy[worker] = false;
      },
      [&](std::size_t index) {
        EXPECT_EQ(results[index], static_cast<int>(index * index)) << "delivered before done";
        delivered.push_back(index);
      });
  EXPECT_EQ(badWorkers, 0);
  EXPECT_EQ(overlaps, 0);
  ASSERT_EQ(delivered.size(), c.count);
  for (std::size_t i = 0; i < c.count; ++i) EXPECT_EQ(delivered[i], i);
}

INSTANTIATE_TEST_SUITE_P(Runs, OrderedJobs,
                         ::testing::ValuesIn(std::vector<RunCase>{
                             {0, 2}, {1, 2}, {7, 1}, {7, 2}, {7, 4}, {40, 3}, {5, 0}}));

struct FailureCase {
  bool inWork;  // else in the delivery
  int jobs;
  friend void PrintTo(const FailureCase& c, std::ostream* os) {
    *os << (c.inWork ? "work" : "delivery") << " on " << c.jobs << " jobs";
  }
};

class OrderedJobsFailure : public ::testing::TestWithParam<FailureCase> {};

TEST_P(OrderedJobsFailure, DeliversEverythingBeforeTheFailureAndStopsStartingWork) {
  const FailureCase c = GetParam();
  constexpr std::size_t kCount = 200;
  constexpr std::size_t kFailing = 5;
  std::atomic<std::size_t> started{0};
  std::vector<std::size_t> delivered;
  auto fails = [](std::size_t index) {
    if (index == kFailing) throw std::runtime_error("item 5 failed");
  };
  try {
    runOrderedJobs(
        kCount, c.jobs,
        [&](std::size_t index, int) {
          ++started;
          // A later item failing first must not hide the earlier one's failure.
          if (c.inWork && index == kFailing + 1) throw std::runtime_error("item 6 failed");
          if (c.inWork) fails(index);
        },
        [&](std::size_t index) {
          if (!c.inWork) fails(index);
          delivered.push_back(index);
        });
    FAIL() << "the failure was not rethrown";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "item 5 failed");
  }
  EXPECT_EQ(delivered, (std::vector<std::size_t>{0, 1, 2, 3, 4}));
  EXPECT_LT(started, 40u);
}

INSTANTIATE_TEST_SUITE_P(Failures, OrderedJobsFailure,
                         ::testing::ValuesIn(std::vector<FailureCase>{
                             {true, 1}, {true, 2}, {true, 4}, {false, 1}, {false, 2}}));

}  // namespace
}  // namespace tallen
