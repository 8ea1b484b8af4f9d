#include "support/directories.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "common/test_support.h"
#include "support/bounded_text.h"

namespace {

using testing_support::path_exists;
using testing_support::temp_dir;

bool is_directory(const std::string &path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Runs in a fresh directory so that relative paths land there.
class DirectoriesTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(getcwd(saved_cwd_, sizeof saved_cwd_), nullptr);
    ASSERT_EQ(chdir(dir_.path().c_str()), 0);
  }
  void TearDown() override { ASSERT_EQ(chdir(saved_cwd_), 0); }

  temp_dir dir_;
  char saved_cwd_[4096];
};

TEST_F(DirectoriesTest, RecursiveMkdirCreatesUpToTheLastSeparator) {
  struct Case {
    const char *path;
    std::vector<std::string> created;
    std::vector<std::string> absent;
  };
  const Case cases[] = {
      {"a/b/c", {"a", "a/b"}, {"a/b/c"}},
      {"d/e/f/", {"d", "d/e", "d/e/f"}, {}},
      {"g\\h\\", {"g", "g/h"}, {}},              // backslashes separate too
      {"i//j///k/", {"i", "i/j", "i/j/k"}, {}},  // repeated separators
      {"l/executables/lock.tmp", {"l/executables"}, {"l/executables/lock.tmp"}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(vorn_recursive_mkdir(c.path, 0700, nullptr), 1);
    for (const std::string &d : c.created) {
      EXPECT_TRUE(is_directory(d)) << d;
      EXPECT_EQ(testing_support::file_mode(d), 0700) << d;
    }
    for (const std::string &d : c.absent) EXPECT_FALSE(path_exists(d)) << d;
  }
}

TEST_F(DirectoriesTest, RecursiveMkdirHandlesAbsolutePathsAndNothingToDo) {
  const std::string absolute = dir_.path() + "//x//y/";
  EXPECT_EQ(vorn_recursive_mkdir(absolute.c_str(), 0700, nullptr), 1);
  EXPECT_TRUE(is_directory(dir_ / "x/y"));
  EXPECT_EQ(vorn_recursive_mkdir(absolute.c_str(), 0700, nullptr), 1);  // exists already
  EXPECT_EQ(vorn_recursive_mkdir("", 0700, nullptr), 1);
  EXPECT_EQ(vorn_recursive_mkdir("///", 0700, nullptr), 1);
}

TEST_F(DirectoriesTest, RecursiveMkdirStopsAtAFileInThePath) {
  ASSERT_EQ(mkdir("a", 0700), 0);
  testing_support::write_file("a/f", "not a directory");
  bounded_text failed;
  failed.append("failed: ");
  EXPECT_EQ(vorn_recursive_mkdir("a/f/b/", 0700, &failed), 0);
  EXPECT_STREQ(failed.c_str(), "failed: a/f/b");
  EXPECT_EQ(vorn_recursive_mkdir("a/f/b/", 0700, nullptr), 0);
}

TEST_F(DirectoriesTest, NullPathsAreReported) {
  testing_support::log_capture log;
  bounded_text failed;
  EXPECT_EQ(vorn_recursive_mkdir(nullptr, 0700, &failed), 0);
  EXPECT_EQ(vorn_create_and_check_writeable_directory(nullptr, 0700, &failed), 0);
  EXPECT_EQ(failed.length, 0);
  EXPECT_EQ(log.text(),
            "Error in vorn_recursive_mkdir(), NULL path.\n"
            "Error in vorn_create_and_check_writeable_directory(), NULL path.\n");
}

TEST_F(DirectoriesTest, WriteableCheckCreatesTheDirectoryAndLeavesNoProbe) {
  EXPECT_EQ(vorn_create_and_check_writeable_directory("p/q", 0755, nullptr), 1);
  EXPECT_TRUE(is_directory("p/q"));
  EXPECT_EQ(testing_support::file_mode("p/q"), 0700);  // private whatever was asked
  EXPECT_FALSE(path_exists("p/q/xx-rw-test.qqq"));

  // A trailing separator doubles the probe's slash, which still works.
  EXPECT_EQ(vorn_create_and_check_writeable_directory("p/q/", 0700, nullptr), 1);
  // The empty path probes the working directory.
  EXPECT_EQ(vorn_create_and_check_writeable_directory("", 0700, nullptr), 1);
  EXPECT_FALSE(path_exists("xx-rw-test.qqq"));
}

TEST_F(DirectoriesTest, WriteableCheckNamesWhatFailed) {
  testing_support::write_file("plain", "x");
  bounded_text failed;
  EXPECT_EQ(vorn_create_and_check_writeable_directory("plain/sub", 0700, &failed), 0);
  EXPECT_STREQ(failed.c_str(), "plain/sub");

  // The directory exists but the probe cannot be made in it.
  ASSERT_EQ(mkdir("full", 0700), 0);
  ASSERT_EQ(mkdir("full/xx-rw-test.qqq", 0700), 0);
  failed.clear();
  EXPECT_EQ(vorn_create_and_check_writeable_directory("full", 0700, &failed), 0);
  EXPECT_STREQ(failed.c_str(), "full/xx-rw-test.qqq");
}

// A link planted under the probe's name must not make the check empty or
// create the file it points to.
TEST_F(DirectoriesTest, WriteableCheckDoesNotFollowALinkAtTheProbe) {
  testing_support::write_file("precious", "player data");
  ASSERT_EQ(mkdir("d", 0700), 0);
  ASSERT_EQ(symlink("../precious", "d/xx-rw-test.qqq"), 0);
  ASSERT_EQ(symlink("../elsewhere", "d/dangling"), 0);
  EXPECT_EQ(vorn_create_and_check_writeable_directory("d", 0700, nullptr), 0);
  EXPECT_EQ(testing_support::read_file("precious"), "player data");
}

TEST_F(DirectoriesTest, UnwritableDirectoryFailsForAnOrdinaryUser) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to switch to an unprivileged user";
  ASSERT_EQ(chmod(dir_.path().c_str(), 0755), 0);
  ASSERT_EQ(mkdir("ro", 0755), 0);  // owned by root: not writable for uid 65534
  const int status = testing_support::run_in_child([&] {
    if (setgid(65534) != 0 || setuid(65534) != 0) return 2;
    bounded_text failed;
    if (vorn_create_and_check_writeable_directory("ro", 0700, &failed) != 0) return 3;
    return std::string(failed.c_str()) == "ro/xx-rw-test.qqq" ? 0 : 4;
  });
  EXPECT_EQ(status, 0);
}

}  // namespace
