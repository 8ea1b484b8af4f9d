// The real launcher under Xvfb: what start-up does with its command line, its
// configuration directory and the updater lock.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <string>

#include "common/test_support.h"
#include "e2e/launcher_harness.h"

namespace {

using e2e::launch_options;
using e2e::launcher_process;
using testing_support::path_exists;
using testing_support::read_file;

class LauncherStartupTest : public testing::Test {
 protected:
  static void SetUpTestSuite() { display_ = new e2e::xvfb_display; }
  static void TearDownTestSuite() {
    delete display_;
    display_ = nullptr;
  }
  void SetUp() override {
    if (display_->name().empty()) GTEST_SKIP() << "Xvfb could not be started";
  }

  launch_options options(std::vector<std::string> args) const {
    launch_options o;
    o.args = std::move(args);
    o.display = display_->name();
    o.home = home_.path();
    o.working_directory = home_.path();
    return o;
  }
  std::string config_dir() const { return home_ / ".Virelan"; }
  std::string log_text() const {
    const std::string path = config_dir() + "/torvane_launcher_log.txt";
    return path_exists(path) ? read_file(path) : "";
  }
  std::string executable_line() const {
    return "Executable name '" + e2e::launcher_path() + "'.\n";
  }
  std::string help_lines() const {
    return "Syntax:\n" + e2e::launcher_path() +
           " [-h] [-b] [-u] [-v]\n"
           "\n"
           "Options are:\n"
           "  -h   - this help screen\n"
           "  -b   - switch to beta test mode\n"
           "  -u   - switch out of beta test mode\n"
           "  -v   - more verbose debug printing\n"
           "\n";
  }

  static e2e::xvfb_display *display_;
  testing_support::temp_dir home_;
};

e2e::xvfb_display *LauncherStartupTest::display_ = nullptr;

TEST_F(LauncherStartupTest, HelpGoesToTheLogAndEndsWithStatusZero) {
  launcher_process launcher(options({"-h"}));
  EXPECT_EQ(launcher.wait(20), 0) << launcher.standard_error();
  EXPECT_EQ(log_text(), executable_line() + help_lines());
  EXPECT_EQ(testing_support::file_mode(config_dir()), 0700);
  // The help ends start-up before the executables directory is made.
  EXPECT_FALSE(path_exists(config_dir() + "/executables"));
  EXPECT_EQ(launcher.standard_output(), "");
}

// Options act in command-line order; what a transliterated argument turns into
// is what gets matched and logged.
TEST_F(LauncherStartupTest, OptionsActInOrderAndUnknownOnesEndWithStatusOne) {
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string log;  // after the executable's line
  };
  const std::string unknown_x = "Sorry, unknown command line option '-x'.  Use '-h' for a list.\n";
  const Case cases[] = {
      {{"-x"}, 1, unknown_x},
      {{"-b", "-x"}, 1, "Forcing beta test mode.\n" + unknown_x},
      {{"-U", "--HELP"}, 0, "Forcing non-beta test mode.\n" + help_lines()},
      {{"-h now"}, 0, help_lines()},
      {{"-hx"}, 1, "Sorry, unknown command line option '-hx'.  Use '-h' for a list.\n"},
      {{""}, 1, "Sorry, unknown command line option ''.  Use '-h' for a list.\n"},
      {{"\xE2\x80\x93"
        "b",
        "-x"},
       1,
       "Forcing beta test mode.\n" + unknown_x},  // en dash
      {{"M\xC3\xBCller"},
       1,
       "Sorry, unknown command line option 'Mueller'.  Use '-h' for a list.\n"},
      {{"\xCE\xB1\xCE\xB2", "-h"},
       1,
       "Sorry, unknown command line option '..'.  Use '-h' for a list.\n"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::Message() << "first argument '" << c.args[0] << "'");
    launcher_process launcher(options(c.args));
    EXPECT_EQ(launcher.wait(20), c.status) << launcher.standard_error();
    EXPECT_EQ(log_text(), executable_line() + c.log);
    unlink((config_dir() + "/torvane_launcher_log.txt").c_str());
  }
}

TEST_F(LauncherStartupTest, WithoutHomeItSaysWhyOnTheTerminalAndEndsWithStatusOne) {
  launch_options o = options({});
  o.home.clear();
  launcher_process launcher(o);
  EXPECT_EQ(launcher.wait(20), 1) << launcher.standard_error();
  EXPECT_EQ(launcher.standard_output(),
            "Error in vorn_client_set_up_config_directory(), unable to fetch home directory - "
            "please set HOME environment variable and restart.\n"
            "Boot failed, unable to get at system config directory.\n");
  EXPECT_FALSE(path_exists(config_dir()));
}

// A normal start keeps running and holds the updater lock, so that a second
// launcher cannot update at the same time.
TEST_F(LauncherStartupTest, ANormalStartHoldsTheUpdaterLock) {
  launcher_process launcher(options({"-v"}));
  const std::string lock = config_dir() + "/executables/lock.tmp";
  const bool locked = e2e::eventually(20, [&] {
    const int fd = open(lock.c_str(), O_RDWR);
    if (fd < 0) return false;
    // lockf in this process is refused while the launcher holds the lock.
    const bool held = lockf(fd, F_TEST, 0) != 0;
    close(fd);
    return held;
  });
  ASSERT_TRUE(locked) << launcher.standard_error();
  EXPECT_TRUE(launcher.running());
  EXPECT_EQ(testing_support::file_mode(config_dir() + "/executables"), 0700);
  EXPECT_EQ(testing_support::file_mode(lock), 0600);
  EXPECT_EQ(log_text(), executable_line() + "Setting verbose printing mode.\n");
  launcher.terminate();
  EXPECT_NE(launcher.wait(20), -1);
}

}  // namespace
