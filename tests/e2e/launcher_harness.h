// What the end-to-end tests need to run the real launcher: an Xvfb display of
// their own, a temporary HOME, and a launcher process whose standard output and
// error go to files that the test reads afterwards. For the test's main thread.
#ifndef VIRELAN_TESTS_E2E_LAUNCHER_HARNESS_H
#define VIRELAN_TESTS_E2E_LAUNCHER_HARNESS_H

#include <gtest/gtest.h>
#include <sys/types.h>

#include <csignal>
#include <functional>
#include <string>
#include <vector>

#include "common/test_support.h"

namespace e2e {

// A private X server (Xvfb picks a free display number). name() is empty when
// Xvfb could not be started.
class xvfb_display {
 public:
  xvfb_display();
  ~xvfb_display();
  xvfb_display(const xvfb_display &) = delete;
  xvfb_display &operator=(const xvfb_display &) = delete;

  const std::string &name() const { return name_; }

 private:
  pid_t pid_ = -1;
  std::string name_;
};

// Starts `args[0]` with `args` and exactly `environment`, standard input from
// /dev/null and standard output and error into the files `out` and `err`, in
// `directory` when one is given. The pid, or -1.
pid_t spawn_program(const std::vector<std::string> &args,
                    const std::vector<std::string> &environment, const std::string &out,
                    const std::string &err, const std::string &directory = "");

// A child process of the test, killed (SIGKILL) if still running when the
// object goes.
class child_process {
 public:
  child_process() = default;
  ~child_process() { stop(SIGKILL); }
  child_process(const child_process &) = delete;
  child_process &operator=(const child_process &) = delete;

  void start(pid_t pid) { pid_ = pid; }
  pid_t pid() const { return pid_; }
  bool running();
  // Waits for the end: the exit status, 128 + signal, or -1 on time-out.
  int wait(double seconds);
  // Sends `signal` and waits for the end.
  void stop(int signal);

 private:
  pid_t pid_ = -1;
  int status_ = -1;
};

struct launch_options {
  std::vector<std::string> args;  // after argv[0], which is the launcher's path
  std::string display;
  std::string home;  // empty: HOME is not set at all
  std::string working_directory;
  // "NAME=value" entries added to the launcher's fixed environment (the
  // client it hands over to inherits them).
  std::vector<std::string> environment;
};

// The sanitizers' settings of the test's own environment (ASAN_OPTIONS,
// UBSAN_OPTIONS, LSAN_OPTIONS, TSAN_OPTIONS) as "NAME=value" entries for a
// program the test starts, each with log_path pointing into `report_dir`: a
// report of the program (or of a client it hands over to) lands in a file
// there, which sanitizer_reports reads, instead of in its standard error.
std::vector<std::string> sanitizer_environment(const std::string &report_dir);
// Every sanitizer report written into `report_dir`, or "" when there is none.
std::string sanitizer_reports(const std::string &report_dir);

// One run of the launcher. The destructor kills it if it is still running and
// fails the test if it (or the client it handed over to) wrote a sanitizer
// report. The environment is fixed (PATH, a UTF-8 locale, the display, HOME)
// plus the options' entries and sanitizer_environment.
class launcher_process {
 public:
  explicit launcher_process(const launch_options &options);
  ~launcher_process();
  launcher_process(const launcher_process &) = delete;
  launcher_process &operator=(const launcher_process &) = delete;

  // Waits for the end: the exit status, 128 + signal, or -1 on time-out.
  int wait(double seconds) { return process_.wait(seconds); }
  void terminate();
  bool running() { return process_.running(); }
  pid_t pid() const { return process_.pid(); }
  std::string standard_output() const;
  std::string standard_error() const;

 private:
  testing_support::temp_dir output_dir_;
  child_process process_;
};

// A fixture for tests of the real launcher: one Xvfb for the test program,
// started before its first test, and a temporary HOME per test. A test is
// skipped when Xvfb cannot be started.
class launcher_test : public testing::Test {
 protected:
  static void SetUpTestSuite();
  static void TearDownTestSuite();
  void SetUp() override;

  // Options that start the launcher on this fixture's display and HOME.
  launch_options options(std::vector<std::string> args = {}) const;
  const std::string &display_name() const;
  // The launcher's splash window on this display (an X window id), or "" while
  // none is mapped.
  std::string window() const;
  // Focuses the splash window and types `key` (an xdotool key name) into it.
  void press(const std::string &key) const;

  static xvfb_display *display_;
  testing_support::temp_dir home_;
};

// The launcher program under test.
std::string launcher_path();

// Runs a shell command and gives what it printed on standard output.
std::string output_of(const std::string &command);

using testing_support::eventually;

}  // namespace e2e

#endif  // VIRELAN_TESTS_E2E_LAUNCHER_HARNESS_H
