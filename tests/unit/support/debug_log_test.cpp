#include "support/debug_log.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "common/test_support.h"

namespace {

using testing_support::log_capture;
using testing_support::read_file;
using testing_support::temp_dir;

TEST(DebugLogTest, WritesExactlyTheFormattedText) {
  log_capture log;
  debug_log("Executable name '%s'.\n", "virelan-launcher");
  debug_log("%d%%", 50);
  EXPECT_EQ(log.text(), "Executable name 'virelan-launcher'.\n50%");
}

TEST(DebugLogTest, LongMessagesAreCutAt10239Characters) {
  log_capture log;
  const std::string exact(debug_log_max_message - 1, 'a');
  const std::string longer(debug_log_max_message + 500, 'b');
  debug_log("%s", exact.c_str());
  debug_log("%s", longer.c_str());
  EXPECT_EQ(log.text(), exact + std::string(debug_log_max_message - 1, 'b'));
}

TEST(DebugLogTest, MessageFilterFollowsEnabledMaskAndLevel) {
  struct Case {
    int enabled;
    int mask;
    int level;
    int category;
    bool written;
  };
  const Case cases[] = {
      {1, 0, 1, 4, true},        {1, 0, 0, 4, false},   // ordinary messages need level 1
      {1, 0, 2, 256, false},     {1, 0, 3, 256, true},  // verbose ones need level 3
      {1, 4, 1, 4, false},       {1, 4, 1, 8, true},    // a masked bit is dropped, others pass
      {1, 4, 1, 4 | 8, true},                           // a category with an unmasked bit passes
      {1, 256, 3, 256, false},   {0, 0, 3, 4, false},   // disabled writes nothing
      {1, 0, 1, 256 | 2, false},                        // any verbose bit makes it verbose
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::Message() << "enabled " << c.enabled << " mask " << c.mask << " level "
                                    << c.level << " category " << c.category);
    log_capture log(c.level);
    debug_messages_enabled = c.enabled;
    set_debug_category_mask(c.mask);
    debug_message("text", c.category, 1);
    EXPECT_EQ(log.text(), c.written ? "text\n" : "");
  }
}

// Until a name is set the log is standard output, and once open it keeps its
// target: the later naming is refused with a report.
TEST(DebugLogTest, AMessageBeforeNamingOpensStandardOutputForGood) {
  temp_dir dir;
  const std::string out_path = dir / "stdout.txt";
  const std::string named = dir / "named.txt";
  const int status = testing_support::run_in_child([&] {
    const int fd = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(fd, STDOUT_FILENO);
    debug_log("first\n");
    vorn_client_set_debug_logfile_name(named.c_str());
    debug_log("second\n");
    return 0;
  });
  ASSERT_EQ(status, 0);
  EXPECT_EQ(
      read_file(out_path),
      "first\nError in vorn_client_set_debug_logfile_name(), logfile already open.\nsecond\n");
  EXPECT_FALSE(testing_support::path_exists(named));
}

TEST(DebugLogTest, TheLogFileIsOpenedOnTheFirstMessageAndAppendedTo) {
  temp_dir dir;
  const std::string path = dir / "log.txt";
  testing_support::write_file(path, "earlier run\n");
  log_capture restore;  // puts the log's state back afterwards
  vorn_client_debug_logfile_close();
  vorn_client_set_debug_logfile_name(path.c_str());
  EXPECT_FALSE(vorn_client_debug_logfile_is_open());
  debug_log("this run\n");
  EXPECT_TRUE(vorn_client_debug_logfile_is_open());
  EXPECT_EQ(read_file(path), "earlier run\nthis run\n");
  EXPECT_EQ(testing_support::file_mode(path), 0644);
}

TEST(DebugLogTest, ALogThatCannotBeOpenedDropsMessagesWithoutRetrying) {
  temp_dir dir;
  log_capture restore(3);
  vorn_client_debug_logfile_close();
  const std::string impossible = dir / "missing-directory/log.txt";
  vorn_client_set_debug_logfile_name(impossible.c_str());
  debug_log("lost\n");
  EXPECT_EQ(vorn_client_get_debug_logfile_failed(), 1);
  EXPECT_FALSE(vorn_client_debug_logfile_is_open());
  // Making the open possible does not help until the name is set again.
  ASSERT_EQ(mkdir((dir / "missing-directory").c_str(), 0700), 0);
  debug_log("also lost\n");
  EXPECT_FALSE(testing_support::path_exists(impossible));
  vorn_client_set_debug_logfile_name(impossible.c_str());
  debug_log("found\n");
  EXPECT_EQ(read_file(impossible),
            "vorn_client_try_open_debug_logfile() opened logfile '" + impossible + "'\nfound\n");
}

TEST(DebugLogTest, AutoOpenNamePlacesTheLogUnderTmp) {
  log_capture restore;
  vorn_client_debug_logfile_close();
  const std::string name = "virelan-autoopen-" + std::to_string(getpid()) + ".txt";
  vorn_client_set_autoopen_debug_logfile_name(name.c_str());
  debug_log("auto\n");
  const std::string path = "/tmp/" + name;
  EXPECT_STREQ(vorn_client_get_debug_logfile_path(), path.c_str());
  EXPECT_EQ(read_file(path), "auto\n");
  unlink(path.c_str());
}

TEST(DebugLogTest, ClosingWithoutAnOpenLogIsReported) {
  log_capture log;
  vorn_client_debug_logfile_close();  // closes the capture's file
  vorn_client_set_debug_logfile_name(log.path().c_str());
  vorn_client_debug_logfile_close();  // nothing open: the report opens the log
  EXPECT_EQ(log.text(), "Error in vorn_client_debug_logfile_close(), no logfile open.\n");
}

// A descriptor that refuses writes: the failure is reported once through the
// debug log, silence follows until a write succeeds, and then it is armed again.
TEST(DebugLogTest, AFailingWriteIsReportedOnceUntilAWriteSucceeds) {
  log_capture log;
  temp_dir dir;
  vorn_signal_safe_logfile file;
  file.descriptor = open("/dev/null", O_RDONLY);
  EXPECT_EQ(file.write("x"), 0);
  EXPECT_EQ(file.write("x"), 0);
  const std::string report = "Error in vorn_signal_safe_logfile::write(), write failed.\n";
  EXPECT_EQ(log.text(), report);

  ASSERT_EQ(file.open_file((dir / "good.txt").c_str()), 1);
  EXPECT_EQ(file.write("ok"), 1);
  EXPECT_EQ(file.write_failed.load(), 0);
  file.close();
  file.descriptor = open("/dev/null", O_RDONLY);
  EXPECT_EQ(file.write("x"), 0);
  EXPECT_EQ(log.text(), report + report);
  EXPECT_EQ(file.depth.load(), 0);
}

// When the debug log itself cannot be written, each failure report fails too;
// the nesting stops at the limiter instead of exhausting the stack.
TEST(DebugLogTest, RecursionThroughTheFailureReportStops) {
  log_capture restore;
  debug_log("open\n");
  const int good = debug_logfile.descriptor.exchange(open("/dev/null", O_RDONLY));
  debug_log("fails\n");
  EXPECT_EQ(debug_logfile.depth.load(), 0);
  EXPECT_EQ(debug_logfile.write_failed.load(), 1);
  close(debug_logfile.descriptor.exchange(good));
  debug_log("recovered\n");
  EXPECT_EQ(debug_logfile.write_failed.load(), 0);
  EXPECT_EQ(restore.text(), "open\nrecovered\n");
}

TEST(DebugLogTest, TheLimiterReportsWhenTheDepthIsReached) {
  log_capture log;
  vorn_signal_safe_logfile file;
  file.descriptor = dup(STDERR_FILENO);
  file.depth = 25;
  EXPECT_EQ(file.write("never"), 0);
  EXPECT_EQ(file.depth.load(), 25);
  file.depth = 26;
  EXPECT_EQ(file.write("never"), 0);
  EXPECT_EQ(log.text(),
            "Error in vorn_signal_safe_logfile::write(), recursion limiter triggered.\n");
}

TEST(DebugLogTest, WriteIntFormatsWithoutTheLibrary) {
  temp_dir dir;
  vorn_signal_safe_logfile file;
  ASSERT_EQ(file.open_file((dir / "ints.txt").c_str()), 1);
  for (int v : {0, 7, -1, 2147483647, -2147483647 - 1}) {
    file.write_int(v);
    file.write(" ");
  }
  file.write(nullptr);
  file.close();
  EXPECT_EQ(read_file(dir / "ints.txt"), "0 7 -1 2147483647 -2147483648 (null)");
}

TEST(DebugLogTest, ALogPastTheLimitIsSetAsideAsTheOnlyOldCopy) {
  testing_support::temp_dir dir;
  const std::string log = dir / "log.txt";
  struct {
    const char *name;
    size_t size;
    int result;
  } cases[] = {{"at the limit", 1024, 0}, {"one byte past it", 1025, 1}, {"far past it", 5000, 1}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    testing_support::write_file(dir / "log.txt.old", "older copy");
    testing_support::write_file(log, std::string(c.size, 'x'));
    EXPECT_EQ(vorn_rotate_debug_logfile(log.c_str(), 1024), c.result);
    if (c.result == 1) {
      EXPECT_FALSE(testing_support::path_exists(log));
      EXPECT_EQ(testing_support::read_file(log + ".old"), std::string(c.size, 'x'));
    } else {
      EXPECT_EQ(testing_support::read_file(log).size(), c.size);
      EXPECT_EQ(testing_support::read_file(log + ".old"), "older copy");
    }
  }
  EXPECT_EQ(vorn_rotate_debug_logfile((dir / "missing").c_str(), 0), 0);
  EXPECT_EQ(vorn_rotate_debug_logfile(dir.path().c_str(), 0), 0);  // not a file
}

}  // namespace
