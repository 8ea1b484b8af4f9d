#include "support/file_lock.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "common/test_support.h"

namespace {

using testing_support::run_in_child;
using testing_support::temp_dir;

// What a second launcher process gets when it tries the lock now: 1 granted.
int other_process_gets_lock(const std::string &path) {
  return run_in_child([&] { return vorn_lock_file(path.c_str()) >= 0 ? 1 : 0; });
}

TEST(FileLockTest, ASecondProcessIsRefusedUntilTheFirstUnlocks) {
  temp_dir dir;
  const std::string path = dir / "lock.tmp";
  const int handle = vorn_lock_file(path.c_str());
  ASSERT_GE(handle, 0);
  EXPECT_EQ(testing_support::file_mode(path), 0600);
  EXPECT_EQ(other_process_gets_lock(path), 0);
  EXPECT_EQ(vorn_unlock_file(handle), 1);
  EXPECT_EQ(other_process_gets_lock(path), 1);
  EXPECT_TRUE(testing_support::path_exists(path));  // the file stays
}

TEST(FileLockTest, TheLockEndsWithTheProcessThatHeldIt) {
  temp_dir dir;
  const std::string path = dir / "lock.tmp";
  int pipe_fds[2];
  ASSERT_EQ(pipe(pipe_fds), 0);
  const pid_t holder = fork();
  ASSERT_GE(holder, 0);
  if (holder == 0) {
    const int held = vorn_lock_file(path.c_str()) >= 0;
    const char c = held ? 'y' : 'n';
    (void)!write(pipe_fds[1], &c, 1);
    pause();  // killed below while holding the lock
    _exit(0);
  }
  char c = 0;
  ASSERT_EQ(read(pipe_fds[0], &c, 1), 1);
  ASSERT_EQ(c, 'y');
  EXPECT_EQ(vorn_lock_file(path.c_str()), -1);
  kill(holder, SIGKILL);
  waitpid(holder, nullptr, 0);
  const int handle = vorn_lock_file(path.c_str());
  EXPECT_GE(handle, 0);
  vorn_unlock_file(handle);
  close(pipe_fds[0]);
  close(pipe_fds[1]);
}

TEST(FileLockTest, ExistingContentIsNeverTouched) {
  temp_dir dir;
  const std::string path = dir / "lock.tmp";
  testing_support::write_file(path, "whatever was there");
  const int handle = vorn_lock_file(path.c_str());
  ASSERT_GE(handle, 0);
  vorn_unlock_file(handle);
  EXPECT_EQ(testing_support::read_file(path), "whatever was there");
}

TEST(FileLockTest, FailuresGiveMinusOneOrZero) {
  temp_dir dir;
  EXPECT_EQ(vorn_lock_file((dir / "missing/lock.tmp").c_str()), -1);
  EXPECT_EQ(vorn_lock_file(nullptr), -1);
  EXPECT_EQ(vorn_unlock_file(-1), 0);
}

TEST(FileLockTest, TheProcessLockIsTakenAndReleasedOnce) {
  temp_dir dir;
  const std::string path = dir / "process.lock";
  EXPECT_EQ(vorn_process_unlock(), 0);  // nothing held yet
  ASSERT_EQ(vorn_process_lock(path.c_str()), 1);
  EXPECT_EQ(other_process_gets_lock(path), 0);
  EXPECT_EQ(vorn_process_unlock(), 1);
  EXPECT_EQ(vorn_process_unlock(), 0);
  EXPECT_EQ(other_process_gets_lock(path), 1);

  // A refused process lock leaves nothing held to release. The child holds
  // the file lock while a grandchild, another process, asks.
  const int status = run_in_child([&] {
    const int handle = vorn_lock_file(path.c_str());
    const int refused = run_in_child(
        [&] { return vorn_process_lock(path.c_str()) == 0 && vorn_process_unlock() == 0; });
    vorn_unlock_file(handle);
    return refused;
  });
  EXPECT_EQ(status, 1);
}

}  // namespace
