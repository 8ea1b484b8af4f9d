#include "support/process_launch.h"

#include <errno.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "common/test_support.h"

namespace {

using testing_support::log_capture;
using testing_support::read_file;
using testing_support::run_in_child;
using testing_support::temp_dir;
using testing_support::write_file;

// A shell-script image that writes its arguments, one per line, to `record`.
void write_recording_image(const std::string &path, const std::string &record) {
  write_file(path, "#!/bin/sh\nfor a in \"$0\" \"$@\"; do printf '%s\\n' \"$a\"; done > '" +
                       record + "'\n");
  chmod(path.c_str(), 0600);  // not executable yet: the launch must see to that
}

std::vector<char *> argv_of(std::vector<std::string> &args) {
  std::vector<char *> argv;
  for (std::string &a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  return argv;
}

TEST(BootExecTest, ReplacesTheProcessWithTheImageAndItsArguments) {
  temp_dir dir;
  const std::string image = dir / "client_v5";
  const std::string record = dir / "args.txt";
  write_recording_image(image, record);
  std::vector<std::string> args = {"client_v5", "-l", "1.096-gtk-rc5"};
  const int status = run_in_child([&] {
    vorn_boot_exec(image.c_str(), argv_of(args).data());
    return 99;  // reached only when the exec failed
  });
  EXPECT_EQ(status, 0);
  EXPECT_EQ(read_file(record), image + "\n-l\n1.096-gtk-rc5\n");
  EXPECT_EQ(testing_support::file_mode(image), 0700);
}

TEST(BootExecTest, FailuresAreReportedAndReturn) {
  temp_dir dir;
  log_capture log;
  std::vector<std::string> args = {"image"};

  const std::string missing = dir / "missing";
  vorn_boot_exec(missing.c_str(), argv_of(args).data());
  EXPECT_EQ(log.text(), "Error in vorn_boot_exec(), chmod failed.  Return code -1, error code " +
                            std::to_string(ENOENT) + ". Filename: " + missing + "\n");

  // Text without an interpreter line: made executable, then refused by exec.
  const std::string text = dir / "readme";
  write_file(text, "this is not a program\n");
  const std::string before = log.text();
  vorn_boot_exec(text.c_str(), argv_of(args).data());
  EXPECT_EQ(log.text(), before +
                            "Error in vorn_boot_exec(), exec failed.  Return code -1, error "
                            "code " +
                            std::to_string(ENOEXEC) + ". Filename: " + text + "\n");
  EXPECT_EQ(testing_support::file_mode(text), 0700);
}

TEST(ForkExecTest, StartsTheImageBesideTheCaller) {
  temp_dir dir;
  const std::string image = dir / "tool";
  const std::string record = dir / "args.txt";
  write_recording_image(image, record);
  std::vector<std::string> args = {"tool", "--flag"};
  EXPECT_EQ(vorn_fork_exec(image.c_str(), argv_of(args).data()), 1);
  EXPECT_TRUE(testing_support::eventually(10, [&] {
    return testing_support::path_exists(record) && read_file(record) == image + "\n--flag\n";
  })) << (testing_support::path_exists(record) ? read_file(record) : "no record");
}

TEST(ForkExecTest, AnImageThatCannotRunIsReportedByTheChild) {
  temp_dir dir;
  log_capture log;
  std::vector<std::string> args = {"x"};
  const std::string missing = dir / "missing";
  EXPECT_EQ(vorn_fork_exec(missing.c_str(), argv_of(args).data()), 0);
  EXPECT_EQ(log.text(), "Error in vorn_fork_exec(), chmod failed.  Return code -1, error code " +
                            std::to_string(ENOENT) + ". Filename: " + missing + "\n");

  const std::string text = dir / "readme";
  write_file(text, "plain text\n");
  const std::string before = log.text();
  EXPECT_EQ(vorn_fork_exec(text.c_str(), argv_of(args).data()), 1);  // the fork worked
  const std::string expected = before +
                               "Error in vorn_fork_exec(), exec failed.  Return code -1, error "
                               "code " +
                               std::to_string(ENOEXEC) + ". Filename: " + text + "\n";
  EXPECT_TRUE(testing_support::eventually(10, [&] { return log.text() == expected; }))
      << log.text();
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

// The browser stand-in records its arguments and can end itself by a signal.
class HttpForkTest : public testing::Test {
 protected:
  void SetUp() override {
    write_file(dir_ / "firefox", "#!/bin/sh\nprintf '%s\\n' \"$#\" \"$@\" > '" +
                                     (dir_ / "args.txt") +
                                     "'\n[ \"$1\" = kill-me ] && kill -9 $$\nexit 3\n");
    chmod((dir_ / "firefox").c_str(), 0755);
  }

  // vorn_http_fork's result in a child whose PATH is `path`.
  int open_address(const std::string &address, const std::string &path) {
    return run_in_child([&] {
      setenv("PATH", path.c_str(), 1);
      return vorn_http_fork(address.c_str());
    });
  }

  temp_dir dir_;
};

TEST_F(HttpForkTest, TheAddressReachesTheBrowserAsOneArgumentWithoutAShell) {
  const std::string marker = dir_ / "marker";
  const std::string address = "http://example.org/?q=\"; touch " + marker + "; \"$(touch " +
                              marker + ")`touch " + marker + "`";
  EXPECT_EQ(open_address(address, dir_.path() + ":/usr/bin:/bin"), 1);
  EXPECT_EQ(read_file(dir_ / "args.txt"), "1\n" + address + "\n");
  EXPECT_FALSE(testing_support::path_exists(marker));
}

TEST_F(HttpForkTest, OnlyABrowserEndedByASignalCountsAsAFailure) {
  EXPECT_EQ(open_address("kill-me", dir_.path() + ":/usr/bin:/bin"), 0);
  EXPECT_EQ(open_address("http://example.org/", (dir_ / "empty")), 1);  // no browser at all
}

}  // namespace
