// Helpers shared by the unit tests: a temporary directory that cleans up after itself, a capture of the debug log
// into a file of its own, file helpers, and running a function in a forked child. All of them are
// for the test's main thread.
#ifndef VIRELAN_TESTS_COMMON_TEST_SUPPORT_H
#define VIRELAN_TESTS_COMMON_TEST_SUPPORT_H

#include <functional>
#include <string>

namespace testing_support {

// A fresh directory below $TMPDIR (or /tmp), removed with everything in it when
// the object goes away, even where the test took away permissions.
class temp_dir {
 public:
  temp_dir();
  ~temp_dir();
  temp_dir(const temp_dir &) = delete;
  temp_dir &operator=(const temp_dir &) = delete;

  const std::string &path() const { return path_; }
  // path() + "/" + name
  std::string operator/(const std::string &name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Points the debug log at a file of its own for the life of the object and puts
// the log's filter back as it was afterwards.
class log_capture {
 public:
  explicit log_capture(int level = 1);
  ~log_capture();
  log_capture(const log_capture &) = delete;
  log_capture &operator=(const log_capture &) = delete;

  // Everything written to the log so far.
  std::string text() const;
  const std::string &path() const { return path_; }

 private:
  temp_dir dir_;
  std::string path_;
  int saved_level_;
  int saved_mask_;
  int saved_enabled_;
};

std::string read_file(const std::string &path);
// Writes `content` to `path`, replacing it; aborts the test program on failure.
void write_file(const std::string &path, const std::string &content);
bool path_exists(const std::string &path);
// Permission bits (st_mode & 07777) of path, or -1.
int file_mode(const std::string &path);

// Polls `condition` every 20 ms for up to `seconds`; true once it holds.
bool eventually(double seconds, const std::function<bool()> &condition);

// Runs `body` in a forked child and returns its exit status (the body's return
// value), or 128 + signal when it was killed. The child ends with _exit, so it
// runs no test framework code after the body.
int run_in_child(const std::function<int()> &body);

}  // namespace testing_support

#endif  // VIRELAN_TESTS_COMMON_TEST_SUPPORT_H
