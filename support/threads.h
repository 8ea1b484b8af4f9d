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
// any thread may call unblock() and block(). Its owner destroys it only when no
// thread is inside either call any more.
//
// vorn_thread_create() and vorn_sleep_ms() keep no state and may be called from
// any thread.
#ifndef VIRELAN_SUPPORT_THREADS_H
#define VIRELAN_SUPPORT_THREADS_H

#include <pthread.h>

// A thread's body: takes the argument, returns a result nobody reads.
typedef int (*vorn_thread_function)(void *argument);

// Starts a detached thread running function(argument). `name` is the caller's
// label only; the thread is not given it. 1 when the thread was started (it may
// not have run yet), 0 on failure, after a report; function is then never
// called.
int vorn_thread_create(const char *name, vorn_thread_function function, void *argument);

class vorn_thread_blocker {
 public:
  vorn_thread_blocker();
  // Unblocks still pending here mean the two sides lost count: that is
  // reported, and the mutex and condition variable are then left undestroyed.
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

// Sleeps for `milliseconds` in one nanosleep(): 0, or -1 when a signal cut the
// sleep short (the rest is not slept) or the time was negative (nothing slept).
int vorn_sleep_ms(int milliseconds);

#endif  // VIRELAN_SUPPORT_THREADS_H
