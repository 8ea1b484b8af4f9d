#include "support/threads.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sys/time.h>

#include <atomic>
#include <chrono>
#include <cstdint>

#include "common/test_support.h"

namespace {

using testing_support::eventually;
using testing_support::log_capture;

struct work {
  std::atomic<int> seen_argument{0};
  std::atomic<int> done{0};
};

int record_and_finish(void *argument) {
  work *w = static_cast<work *>(argument);
  w->seen_argument = 42;
  w->done = 1;
  return 0;
}

// Nobody joins the thread: its end shows only through what its function sets.
TEST(ThreadsTest, ADetachedThreadRunsTheFunctionWithItsArgument) {
  work w;
  ASSERT_EQ(vorn_thread_create("executable updater", record_and_finish, &w), 1);
  EXPECT_TRUE(eventually(10, [&] { return w.done.load() == 1; }));
  EXPECT_EQ(w.seen_argument.load(), 42);
}

std::atomic<int> doomed_calls{0};

int count_call(void *) {
  ++doomed_calls;
  return 0;
}

// A default stack no address space can hold makes pthread_create() fail. Under
// AddressSanitizer a start record left behind shows as a leak at exit. The size
// is 7/8 of the address space, page-aligned: a quarter of it (1 GiB on a 32-bit
// target) can still be mapped there.
TEST(ThreadsTest, AFailedCreationIsReportedAndRunsNothing) {
  log_capture log;
  pthread_attr_t saved;
  ASSERT_EQ(pthread_getattr_default_np(&saved), 0);
  pthread_attr_t huge;
  ASSERT_EQ(pthread_attr_init(&huge), 0);
  ASSERT_EQ(pthread_attr_setstacksize(&huge, SIZE_MAX - SIZE_MAX / 8), 0);
  ASSERT_EQ(pthread_setattr_default_np(&huge), 0);
  const int created = vorn_thread_create("doomed", count_call, nullptr);
  ASSERT_EQ(pthread_setattr_default_np(&saved), 0);
  pthread_attr_destroy(&huge);
  pthread_attr_destroy(&saved);

  EXPECT_EQ(created, 0);
  EXPECT_EQ(log.text(), "Error in vorn_thread_create(), thread create failed?\n");
  EXPECT_EQ(doomed_calls.load(), 0);
}

struct late_unblock {
  vorn_thread_blocker *blocker;
  std::atomic<int> released{0};
  std::atomic<int> done{0};
};

int unblock_later(void *argument) {
  late_unblock *u = static_cast<late_unblock *>(argument);
  vorn_sleep_ms(100);
  u->released = 1;
  u->blocker->unblock();
  u->done = 1;
  return 0;
}

// Unblocks are counted: two given before anyone waits let two blocks through at
// once, and the third waits for the next unblock, here from another thread.
TEST(ThreadsTest, EachUnblockLetsOneBlockThrough) {
  vorn_thread_blocker blocker;
  ASSERT_EQ(blocker.init_result(), 0);
  blocker.unblock();
  blocker.unblock();
  blocker.block();
  blocker.block();
  late_unblock later{&blocker};
  ASSERT_EQ(vorn_thread_create("unblocker", unblock_later, &later), 1);
  blocker.block();
  EXPECT_EQ(later.released.load(), 1);
  // The blocker must outlive the other thread's unblock().
  ASSERT_TRUE(eventually(10, [&] { return later.done.load() == 1; }));
}

TEST(ThreadsTest, DestroyingABlockerWithPendingUnblocksIsReported) {
  log_capture log;
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

TEST(ThreadsTest, SleepLastsAtLeastTheTimeAsked) {
  struct Case {
    int milliseconds;
    int result;
  };
  const Case cases[] = {
      {0, 0},
      {50, 0},
      {1050, 0},  // whole seconds and the rest go into separate fields
      {-20, -1},  // refused by the system, nothing slept
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.milliseconds);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(vorn_sleep_ms(c.milliseconds), c.result);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(c.milliseconds));
  }
}

void ignore_alarm(int) {}

TEST(ThreadsTest, ASignalCutsTheSleepShort) {
  const int status = testing_support::run_in_child([] {
    struct sigaction action = {};
    action.sa_handler = ignore_alarm;  // no SA_RESTART: the sleep sees EINTR
    if (sigaction(SIGALRM, &action, nullptr) != 0) return 100;
    struct itimerval timer = {};
    timer.it_value.tv_usec = 50 * 1000;
    if (setitimer(ITIMER_REAL, &timer, nullptr) != 0) return 101;
    return vorn_sleep_ms(3000) == -1 ? 0 : 1;
  });
  EXPECT_EQ(status, 0);
}

}  // namespace
