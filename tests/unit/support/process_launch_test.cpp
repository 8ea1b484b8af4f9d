#include "support/process_launch.h"

#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/test_support.h"
#include "support/debug_log.h"

namespace {

using testing_support::file_mode;
using testing_support::log_capture;
using testing_support::path_exists;
using testing_support::read_file;
using testing_support::run_in_child;
using testing_support::temp_dir;
using testing_support::write_file;

constexpr char record_variable[] = "VIRELAN_TEST_STAND_IN_RECORD";

// A copy of this program started with record_variable in its environment is a
// stand-in client image: it writes its argument vector, one entry a line, and
// whether it leads a session of its own to the file named there, and ends
// before any test runs. A shell script cannot stand in: the kernel replaces a
// script's argv[0] with the interpreter and the script's path.
struct stand_in_client {
  stand_in_client() {
    const char *record = std::getenv(record_variable);
    if (record == nullptr) return;
    std::string text = read_file("/proc/self/cmdline");
    std::replace(text.begin(), text.end(), '\0', '\n');
    text += getsid(0) == getpid() ? "own session\n" : "caller's session\n";
    write_file(record, text);
    _exit(0);
  }
} stand_in;

// Copies the stand-in to `path`, not executable: the launch has to see to that.
void copy_stand_in(const std::string &path) {
  write_file(path, read_file("/proc/self/exe"));
  ASSERT_EQ(chmod(path.c_str(), 0600), 0);
}

std::vector<char *> argv_of(std::vector<std::string> &args) {
  std::vector<char *> argv;
  for (std::string &a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  return argv;
}

TEST(BootExecTest, TheImageReplacesTheProcessAndGetsTheArgumentsUnchanged) {
  temp_dir dir;
  log_capture log(3);
  const std::string image = dir / "client_v5";
  const std::string record = dir / "argv.txt";
  copy_stand_in(image);
  std::vector<std::string> args = {"client_v5", "-l", "1.096-gtk-rc5"};
  const int status = run_in_child([&] {
    setenv(record_variable, record.c_str(), 1);
    vorn_boot_exec(image.c_str(), argv_of(args).data());
    return 99;  // only after a failed exec
  });
  EXPECT_EQ(status, 0);
  EXPECT_EQ(read_file(record), "client_v5\n-l\n1.096-gtk-rc5\ncaller's session\n");
  EXPECT_EQ(file_mode(image), 0700);
  EXPECT_EQ(log.text(), "vorn_boot_exec() - trying to boot image '" + image + "'\n");
}

TEST(BootExecTest, FailuresAreReportedAndTheCallReturns) {
  struct Case {
    const char *name;
    const char *content;  // null: no such file
    const char *step;
    int error;
  };
  const Case cases[] = {
      {"missing", nullptr, "chmod", ENOENT},
      // Made executable, then refused by exec for want of an interpreter line.
      {"readme", "this is not a program\n", "exec", ENOEXEC},
  };
  temp_dir dir;
  std::vector<std::string> args = {"client"};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    log_capture log;
    const std::string image = dir / c.name;
    if (c.content != nullptr) write_file(image, c.content);
    vorn_boot_exec(image.c_str(), argv_of(args).data());
    EXPECT_EQ(log.text(), std::string("Error in vorn_boot_exec(), ") + c.step +
                              " failed.  Return code -1, error code " + std::to_string(c.error) +
                              ". Filename: " + image + "\n");
    if (c.content != nullptr) {
      EXPECT_EQ(file_mode(image), 0700);
    }
  }
}

TEST(ForkExecTest, TheImageRunsBesideTheCallerInASessionOfItsOwn) {
  temp_dir dir;
  const std::string image = dir / "tool";
  const std::string record = dir / "argv.txt";
  copy_stand_in(image);
  std::vector<std::string> args = {"tool", "--flag", "two words"};
  // The body is the image's parent, so it can wait for it.
  const int status = run_in_child([&] {
    setenv(record_variable, record.c_str(), 1);
    if (vorn_fork_exec(image.c_str(), argv_of(args).data()) != 1) return 100;
    int image_status = 0;
    if (wait(&image_status) < 0 || !WIFEXITED(image_status)) return 101;
    return WEXITSTATUS(image_status);
  });
  EXPECT_EQ(status, 0);
  EXPECT_EQ(read_file(record), "tool\n--flag\ntwo words\nown session\n");
  EXPECT_EQ(file_mode(image), 0700);
}

TEST(ForkExecTest, AMissingImageIsReportedAndNothingIsStarted) {
  temp_dir dir;
  log_capture log;
  std::vector<std::string> args = {"x"};
  const std::string missing = dir / "missing";
  EXPECT_EQ(vorn_fork_exec(missing.c_str(), argv_of(args).data()), 0);
  EXPECT_EQ(log.text(), "Error in vorn_fork_exec(), chmod failed.  Return code -1, error code " +
                            std::to_string(ENOENT) + ". Filename: " + missing + "\n");
}

char exit_handler_marker[4096];

void mark_exit_handler_run() {
  const int fd = open(exit_handler_marker, O_WRONLY | O_CREAT, 0600);
  if (fd >= 0) close(fd);
}

// The child reports the failed exec itself and ends with status 1, without
// running the exit handlers it inherited. It cannot open the log, so the report
// must arrive even when the caller had not written anything to it yet.
TEST(ForkExecTest, AFailedExecIsReportedByTheChildWhichEndsAlone) {
  temp_dir dir;
  const std::string image = dir / "readme";
  write_file(image, "plain text\n");
  const std::string marker = dir / "exit-handler-ran";
  std::snprintf(exit_handler_marker, sizeof exit_handler_marker, "%s", marker.c_str());
  std::vector<std::string> args = {"readme"};

  for (const bool log_opened_beforehand : {true, false}) {
    SCOPED_TRACE(log_opened_beforehand ? "log open" : "log named, not yet open");
    log_capture log;
    if (!log_opened_beforehand) {
      vorn_client_debug_logfile_close();
      vorn_client_set_debug_logfile_name(log.path().c_str());
    }
    const int status = run_in_child([&] {
      std::atexit(mark_exit_handler_run);
      if (vorn_fork_exec(image.c_str(), argv_of(args).data()) != 1) return 100;
      int image_status = 0;
      if (wait(&image_status) < 0 || !WIFEXITED(image_status)) return 101;
      return WEXITSTATUS(image_status);
    });
    EXPECT_EQ(status, 1);
    EXPECT_FALSE(path_exists(marker));
    EXPECT_EQ(log.text(), "Error in vorn_fork_exec(), exec failed.  Return code -1, error code " +
                              std::to_string(ENOEXEC) + ". Filename: " + image + "\n");
    EXPECT_EQ(file_mode(image), 0700);
  }
}

// A user at its process limit cannot fork. Root is exempt from the limit, so a
// test run as root gives the child an unprivileged user first.
TEST(ForkFailureTest, IsReportedAndReturnsZero) {
  temp_dir dir;
  log_capture log;
  const std::string image = dir / "image";
  write_file(image, "#!/bin/sh\n");
  const bool as_root = geteuid() == 0;
  if (as_root) {
    ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
    ASSERT_EQ(chown(image.c_str(), 65534, 65534), 0);  // so that its chmod() still works
  }
  std::vector<std::string> args = {"image"};
  const int status = run_in_child([&] {
    if (as_root && (setgid(65534) != 0 || setuid(65534) != 0)) return 100;
    struct rlimit limit;
    if (getrlimit(RLIMIT_NPROC, &limit) != 0) return 101;
    limit.rlim_cur = 0;
    if (setrlimit(RLIMIT_NPROC, &limit) != 0) return 102;
    setenv("PATH", (dir / "nothing").c_str(), 1);  // should a fork get through after all
    if (vorn_fork_exec(image.c_str(), argv_of(args).data()) != 0) return 103;
    if (vorn_http_fork("http://example.org/") != 0) return 104;
    return 0;
  });
  EXPECT_EQ(status, 0);
  EXPECT_EQ(log.text(), "Error in vorn_fork_exec(), fork failed.  Return code -1, error code " +
                            std::to_string(EAGAIN) + ". Filename: " + image +
                            "\n"
                            "vorn_http_fork() failed with errno " +
                            std::to_string(EAGAIN) + ".\n");
}

TEST(BootFileTest, ImagesUnder100BytesOrUnreadableAreBad) {
  temp_dir dir;
  log_capture log(3);
  write_file(dir / "small", std::string(99, 'x'));
  write_file(dir / "enough", std::string(100, 'x'));
  EXPECT_EQ(vorn_is_boot_file_bad((dir / "small").c_str()), 1);
  EXPECT_EQ(vorn_is_boot_file_bad((dir / "enough").c_str()), 0);
  EXPECT_EQ(vorn_is_boot_file_bad((dir / "missing").c_str()), 1);
  EXPECT_EQ(log.text(), "vorn_is_boot_file_bad() - image '" + (dir / "small") +
                            "' is too small to be valid.\n"
                            "vorn_is_boot_file_bad() - cannot open image file '" +
                            (dir / "missing") + "'.\n");
}

// A stand-in browser first on PATH: it records how many arguments it got and
// each of them, kills itself with SIGKILL when the address is "kill-me", and
// otherwise exits with status 3.
class HttpForkTest : public testing::Test {
 protected:
  void SetUp() override {
    write_file(dir_ / "firefox", "#!/bin/sh\nprintf '%s\\n' \"$#\" \"$@\" > '" + record_ +
                                     "'\n[ \"$1\" = kill-me ] && kill -9 $$\nexit 3\n");
    ASSERT_EQ(chmod((dir_ / "firefox").c_str(), 0755), 0);
  }

  // vorn_http_fork's result in a child whose PATH does or does not lead to the
  // stand-in.
  int open_address(const std::string &address, bool browser_on_path, bool ignore_sigchld = false) {
    std::remove(record_.c_str());
    const std::string path = (browser_on_path ? dir_.path() : dir_ / "nothing") + ":/usr/bin:/bin";
    return run_in_child([&] {
      setenv("PATH", path.c_str(), 1);
      if (ignore_sigchld) signal(SIGCHLD, SIG_IGN);
      return vorn_http_fork(address.c_str());
    });
  }

  temp_dir dir_;
  const std::string record_ = dir_ / "args.txt";
};

TEST_F(HttpForkTest, TheAddressReachesTheBrowserWholeAndRunsNothing) {
  const std::string marker = dir_ / "marker";
  const std::string addresses[] = {
      "http://example.org/?q=\"; touch " + marker + "; \"$(touch " + marker + ")`touch " + marker +
          "`' \\\" & touch " + marker,
      "http://example.org/" + std::string(7000, 'a'),  // longer than any message buffer
  };
  for (const std::string &address : addresses) {
    SCOPED_TRACE(address.substr(0, 60));
    EXPECT_EQ(open_address(address, true), 1);
    EXPECT_EQ(read_file(record_), "1\n" + address + "\n");
  }
  EXPECT_FALSE(path_exists(marker));
}

TEST_F(HttpForkTest, OnlyABrowserEndedByASignalIsAFailure) {
  struct Case {
    const char *what;
    const char *address;
    bool browser_on_path;
    bool ignore_sigchld;
    int expected;
  };
  const Case cases[] = {
      {"a browser that exits with an error", "http://example.org/", true, false, 1},
      {"a browser killed by a signal", "kill-me", true, false, 0},
      {"no browser on PATH", "http://example.org/", false, false, 1},
      // Reaped by the system: there is no status to look at.
      {"SIGCHLD ignored", "kill-me", true, true, 1},
  };
  log_capture log;
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(open_address(c.address, c.browser_on_path, c.ignore_sigchld), c.expected);
    EXPECT_EQ(path_exists(record_), c.browser_on_path);
  }
  EXPECT_EQ(log.text(), "");
}

}  // namespace
