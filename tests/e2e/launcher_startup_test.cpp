// The real launcher under Xvfb: what start-up does with its command line, its
// configuration directory and the updater lock.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "common/test_support.h"
#include "e2e/launcher_harness.h"

namespace {

using e2e::launch_options;
using e2e::launcher_process;
using testing_support::path_exists;
using testing_support::read_file;

class LauncherStartupTest : public e2e::launcher_test {
 protected:
  void SetUp() override {
    launcher_test::SetUp();
    if (IsSkipped()) return;
    // A settings file of this version, so that start-up has nothing to say
    // about it; the test of a first start removes it.
    mkdir(config_dir().c_str(), 0700);
    testing_support::write_file(config_dir() + "/launcher.cfg",
                                "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n"
                                "<launcher_config>\n"
                                "  <launcher_version>1.096-gtk-rc5</launcher_version>\n"
                                "  <beta_test_enable>0</beta_test_enable>\n"
                                "</launcher_config>\n\n");
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
};

TEST_F(LauncherStartupTest, HelpGoesToTheLogAndEndsWithStatusZero) {
  launcher_process launcher(options({"-h"}));
  EXPECT_EQ(launcher.wait(20), 0) << launcher.standard_error();
  EXPECT_EQ(log_text(), executable_line() + help_lines());
  // The help ends start-up before the executables directory is made.
  EXPECT_FALSE(path_exists(config_dir() + "/executables"));
  EXPECT_EQ(launcher.standard_output(), "");
}

TEST_F(LauncherStartupTest, ALogPastOneMebibyteStartsAfreshWithOneOldCopy) {
  testing_support::write_file(config_dir() + "/torvane_launcher_log.txt",
                              std::string(1024 * 1024 + 1, 'x'));
  launcher_process launcher(options({"-h"}));
  EXPECT_EQ(launcher.wait(20), 0) << launcher.standard_error();
  EXPECT_EQ(log_text(), executable_line() + help_lines());
  EXPECT_EQ(testing_support::read_file(config_dir() + "/torvane_launcher_log.txt.old").size(),
            1024u * 1024 + 1);
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

// Beta mode set on the command line is saved at once, even when a later option
// ends the start, and the next start reads it back.
TEST_F(LauncherStartupTest, BetaModeFromTheCommandLineIsKept) {
  const std::string config_file = config_dir() + "/launcher.cfg";
  auto beta_in_file = [&] {
    const std::string text = read_file(config_file);
    const std::size_t at = text.find("<beta_test_enable>");
    return at == std::string::npos ? std::string("?") : text.substr(at + 18, 1);
  };
  unlink(config_file.c_str());
  {
    launcher_process first(options({"-h"}));
    ASSERT_EQ(first.wait(20), 0);
  }
  EXPECT_EQ(beta_in_file(), "0");  // a first start writes the defaults
  EXPECT_EQ(log_text(), "Unable to load system config - cannot open config file '" + config_file +
                            "'.\n" + executable_line() + help_lines());
  {
    launcher_process beta(options({"-b", "-x"}));
    ASSERT_EQ(beta.wait(20), 1);
  }
  EXPECT_EQ(beta_in_file(), "1");
  const int mode = testing_support::file_mode(config_file);
  {
    launcher_process off(options({"--UNBETA", "-h"}));
    ASSERT_EQ(off.wait(20), 0);
  }
  EXPECT_EQ(beta_in_file(), "0");
  EXPECT_EQ(testing_support::file_mode(config_file), mode);
  EXPECT_EQ(std::system(("xmllint --noout '" + config_file + "'").c_str()), 0);
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
  EXPECT_EQ(log_text(), "");
}

// A normal start keeps running and holds the updater lock, so that a second
// launcher cannot update at the same time.
TEST_F(LauncherStartupTest, ANormalStartRunsOneUpdateAndReleasesTheLock) {
  // Nothing answers on the update server's port: the run gives up at once.
  launcher_process launcher(options({"-v"}));
  const std::string lock = config_dir() + "/executables/lock.tmp";
  const std::string gave_up =
      "Error fetching update file 'manifest_linux32_executables.txt.gz' from remote server, "
      "aborting update.\n";
  ASSERT_TRUE(e2e::eventually(20, [&] { return log_text().find(gave_up) != std::string::npos; }))
      << log_text();
  const bool released = e2e::eventually(10, [&] {
    const int fd = open(lock.c_str(), O_RDWR);
    if (fd < 0) return false;
    const bool free = lockf(fd, F_TEST, 0) == 0;
    close(fd);
    return free;
  });
  EXPECT_TRUE(released);
  EXPECT_TRUE(launcher.running());
  EXPECT_EQ(testing_support::file_mode(config_dir() + "/executables"), 0700);
  EXPECT_EQ(testing_support::file_mode(lock), 0600);
  EXPECT_EQ(log_text().substr(0, executable_line().size()), executable_line());
  launcher.terminate();
  EXPECT_NE(launcher.wait(20), -1);
}

}  // namespace
