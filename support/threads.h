// A minimal threading layer over POSIX threads: detached threads started on a
// function and one argument, a counting blocker for one thread to wait on
// signals from another, and a millisecond sleep.
//
// A thread started by vorn_thread_create() runs to the end of its function and
// cannot be joined or cancelled; its end is signalled by whatever the function
// itself sets. The process may exit (or exec) while it still runs. The argument
// must stay valid until the new thread has used it.
//
// vorn_thread_blocker's counter is read and changed only under its mutex, so
// any thread may call unblock() and block().
#ifndef VIRELAN_SUPPORT_THREADS_H
#define VIRELAN_SUPPORT_THREADS_H

#include <pthread.h>

// A thread's body: takes the argument, returns a result nobody reads.
typedef int (*vorn_thread_function)(void *argument);

// Starts a detached thread running function(argument). `name` is the caller's
// label for reports only. 1 when the thread was started, 0 on failure.
int vorn_thread_create(const char *name, vorn_thread_function function, void *argument);

class vorn_thread_blocker {
 public:
  vorn_thread_blocker();
  // Reports a destruction with unblocks not yet consumed, and then leaves the
  // mutex and condition variable alone (a thread may still be inside them).
  ~vorn_thread_blocker();
  vorn_thread_blocker(const vorn_thread_blocker &) = delete;
  vorn_thread_blocker &operator=(const vorn_thread_blocker &) = delete;

  // 0 when the condition variable could be created.
  int init_result() const { return init_result_; }
  // One more unblock; wakes one waiting thread.
  void unblock();
  // Waits until an unblock is available, then consumes it.
  void block();

 private:
  pthread_mutex_t mutex_;
  pthread_cond_t condition_;
  int unblock_count_ = 0;  // guarded by mutex_
  int init_result_ = 0;
};

// Sleeps for `milliseconds`: 0, or -1 when a signal cut the sleep short (the
// rest is not slept).
int vorn_sleep_ms(int milliseconds);

#endif  // VIRELAN_SUPPORT_THREADS_H
