#include "support/threads.h"

#include <time.h>

#include <new>

#include "support/debug_log.h"

namespace {

constexpr int module_threads = 7;

// Handed to the new thread, which frees it.
struct thread_start {
  vorn_thread_function function;
  void *argument;
};

void *thread_main(void *record) {
  thread_start *start = static_cast<thread_start *>(record);
  const vorn_thread_function function = start->function;
  void *const argument = start->argument;
  // Freed before the call rather than after it: the function's end is what
  // tells others the thread is done, and the process may exit right then.
  delete start;
  function(argument);
  return nullptr;
}

}  // namespace

int vorn_thread_create(const char *name, vorn_thread_function function, void *argument) {
  (void)name;
  thread_start *start = new (std::nothrow) thread_start{function, argument};
  int created = -1;
  if (start != nullptr) {
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    pthread_t thread;
    created = pthread_create(&thread, &attributes, thread_main, start);
    pthread_attr_destroy(&attributes);
  }
  if (created == 0) return 1;
  // No thread will ever see the record.
  delete start;
  debug_message("Error in vorn_thread_create(), thread create failed?", 1, module_threads);
  return 0;
}

vorn_thread_blocker::vorn_thread_blocker() {
  pthread_mutex_init(&mutex_, nullptr);
  init_result_ = pthread_cond_init(&condition_, nullptr);
}

vorn_thread_blocker::~vorn_thread_blocker() {
  pthread_mutex_lock(&mutex_);
  const int pending = unblock_count_;
  pthread_mutex_unlock(&mutex_);
  if (pending != 0) {
    debug_message("Error in ~vorn_thread_blocker(), unblock counter was nonzero on destruct?", 2,
                  module_threads);
    return;
  }
  pthread_cond_destroy(&condition_);
  pthread_mutex_destroy(&mutex_);
}

void vorn_thread_blocker::unblock() {
  pthread_mutex_lock(&mutex_);
  pthread_cond_signal(&condition_);
  ++unblock_count_;
  pthread_mutex_unlock(&mutex_);
}

void vorn_thread_blocker::block() {
  pthread_mutex_lock(&mutex_);
  while (unblock_count_ <= 0) pthread_cond_wait(&condition_, &mutex_);
  --unblock_count_;
  pthread_mutex_unlock(&mutex_);
}

int vorn_sleep_ms(int milliseconds) {
  struct timespec duration;
  duration.tv_sec = milliseconds / 1000;
  duration.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
  return nanosleep(&duration, nullptr);
}
