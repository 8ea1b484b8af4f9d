#include "support/threads.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>

#include "common/test_support.h"

namespace {

using testing_support::eventually;

struct work {
  std::atomic<int> seen_argument{0};
  std::atomic<int> done{0};
};

int record_and_finish(void *argument) {
  work *w = static_cast<work *>(argument);
  w->seen_argument = 42;
  w->done = 1;  // the thread's end is signalled by what its function sets
  return 0;
}

TEST(ThreadsTest, ADetachedThreadRunsTheFunctionWithItsArgument) {
  work w;
  ASSERT_EQ(vorn_thread_create("executable updater", record_and_finish, &w), 1);
  EXPECT_TRUE(eventually(10, [&] { return w.done.load() == 1; }));
  EXPECT_EQ(w.seen_argument.load(), 42);
}

struct blocked_waiter {
  vorn_thread_blocker *blocker;
  std::atomic<int> passed{0};
};

int block_three_times(void *argument) {
  blocked_waiter *w = static_cast<blocked_waiter *>(argument);
  for (int i = 0; i < 3; ++i) {
    w->blocker->block();
    ++w->passed;
  }
  return 0;
}

// Unblocks are counted: two given before anyone waits let two blocks through at
// once, and the third waits for the next unblock.
TEST(ThreadsTest, TheBlockerCountsUnblocks) {
  vorn_thread_blocker blocker;
  ASSERT_EQ(blocker.init_result(), 0);
  blocker.unblock();
  blocker.unblock();
  blocked_waiter waiter{&blocker};
  ASSERT_EQ(vorn_thread_create("waiter", block_three_times, &waiter), 1);
  ASSERT_TRUE(eventually(10, [&] { return waiter.passed.load() == 2; }));
  vorn_sleep_ms(50);
  EXPECT_EQ(waiter.passed.load(), 2);
  blocker.unblock();
  EXPECT_TRUE(eventually(10, [&] { return waiter.passed.load() == 3; }));
}

TEST(ThreadsTest, DestroyingABlockerWithPendingUnblocksIsReported) {
  testing_support::log_capture log;
  {
    vorn_thread_blocker balanced;
    balanced.unblock();
    balanced.block();
  }
  EXPECT_EQ(log.text(), "");
  {
    vorn_thread_blocker pending;
    pending.unblock();
  }
  EXPECT_EQ(log.text(),
            "Error in ~vorn_thread_blocker(), unblock counter was nonzero on destruct?\n");
}

TEST(ThreadsTest, SleepWaitsAtLeastTheTimeAsked) {
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(vorn_sleep_ms(0), 0);
  EXPECT_EQ(vorn_sleep_ms(1050), 0);  // seconds and the rest both count
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_GE(elapsed, std::chrono::milliseconds(1050));
}

}  // namespace
