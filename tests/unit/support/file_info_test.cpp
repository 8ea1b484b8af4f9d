#include "support/file_info.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <string>

#include "common/test_support.h"

namespace {

using testing_support::temp_dir;

TEST(FileInfoTest, DescribesFilesDirectoriesAndOtherKinds) {
  temp_dir dir;
  testing_support::write_file(dir / "image", std::string(1234, 'x'));
  ASSERT_EQ(mkfifo((dir / "pipe").c_str(), 0600), 0);
  ASSERT_EQ(symlink("image", (dir / "link").c_str()), 0);
  struct timeval times[2] = {{1700000000, 0}, {1700000000, 0}};
  ASSERT_EQ(utimes((dir / "image").c_str(), times), 0);

  struct Case {
    std::string path;
    int is_directory;
    int is_regular_file;
  };
  const Case cases[] = {
      {dir / "image", 0, 1},
      {dir / "link", 0, 1},  // links are followed
      {dir.path(), 1, 0},
      {dir / "pipe", 0, 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.path);
    vorn_file_info info{};
    ASSERT_EQ(vorn_filename_get_file_info(c.path.c_str(), &info), 1);
    EXPECT_EQ(info.is_directory, c.is_directory);
    EXPECT_EQ(info.is_regular_file, c.is_regular_file);
    EXPECT_EQ(vorn_is_directory(c.path.c_str()), c.is_directory);
    EXPECT_EQ(vorn_is_regular_file(c.path.c_str()), c.is_regular_file);
    EXPECT_EQ(vorn_file_exists(c.path.c_str()), 1);
  }
  vorn_file_info info{};
  ASSERT_EQ(vorn_filename_get_file_info((dir / "image").c_str(), &info), 1);
  EXPECT_EQ(info.size, 1234);
  EXPECT_EQ(info.modification_time, 1700000000);
}

TEST(FileInfoTest, AMissingPathLeavesTheRecordUntouched) {
  temp_dir dir;
  vorn_file_info info{7, 7, 7, 7};
  const std::string missing = dir / "missing";
  EXPECT_EQ(vorn_filename_get_file_info(missing.c_str(), &info), 0);
  EXPECT_EQ(info.is_directory, 7);
  EXPECT_EQ(info.size, 7);
  EXPECT_EQ(vorn_file_exists(missing.c_str()), 0);
  EXPECT_EQ(vorn_is_directory(missing.c_str()), 0);
  EXPECT_EQ(vorn_is_regular_file(missing.c_str()), 0);

  testing_support::log_capture log;
  EXPECT_EQ(vorn_filename_get_file_info(dir.path().c_str(), nullptr), 0);
  EXPECT_EQ(log.text(), "Error in vorn_filename_get_file_info(), NULL dest.\n");
}

// A 32-bit size field would turn these into small or negative numbers.
TEST(FileInfoTest, SizesBeyond4GiBComeOutWhole) {
  temp_dir dir;
  const std::string path = dir / "sparse";
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT, 0600);
  ASSERT_GE(fd, 0);
  const std::int64_t size = (std::int64_t{5} << 30) + 3;
  ASSERT_EQ(ftruncate(fd, size), 0);
  close(fd);
  vorn_file_info info{};
  ASSERT_EQ(vorn_filename_get_file_info(path.c_str(), &info), 1);
  EXPECT_EQ(info.size, size);
}

TEST(FileInfoTest, WrappersPassTheSystemsResultsThrough) {
  temp_dir dir;
  char saved[4096];
  ASSERT_NE(vorn_get_current_directory(saved, sizeof saved), nullptr);
  char tiny[2];
  EXPECT_EQ(vorn_get_current_directory(tiny, sizeof tiny), nullptr);
  ASSERT_EQ(vorn_change_directory(dir.path().c_str()), 0);
  char now[4096];
  ASSERT_NE(vorn_get_current_directory(now, sizeof now), nullptr);
  EXPECT_EQ(std::string(now), dir.path());
  testing_support::write_file("gone", "x");
  EXPECT_EQ(vorn_remove_file("gone"), 0);
  EXPECT_EQ(vorn_remove_file("gone"), -1);
  EXPECT_EQ(vorn_change_directory("missing"), -1);
  ASSERT_EQ(vorn_change_directory(saved), 0);
}

}  // namespace
