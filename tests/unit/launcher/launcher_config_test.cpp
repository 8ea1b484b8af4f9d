// launcher.cfg as start-up sees it: each case runs the load (and whatever
// follows it) in a fresh process, as a real start would, with HOME in a
// temporary directory, and the test then reads the file and the log.
#include "launcher/launcher_config.h"

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "common/test_support.h"
#include "support/config_directory.h"
#include "support/debug_log.h"

namespace {

using testing_support::path_exists;
using testing_support::read_file;
using testing_support::run_in_child;
using testing_support::temp_dir;

std::string written_file(int beta) {
  return "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n"
         "<launcher_config>\n"
         "  <launcher_version>1.096-gtk-rc5</launcher_version>\n"
         "  <beta_test_enable>" +
         std::to_string(beta) +
         "</beta_test_enable>\n"
         "</launcher_config>\n"
         "\n";
}

const char *const kDeclaration = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n";

class LauncherConfigTest : public testing::Test {
 protected:
  std::string config_dir() const { return home_ / ".Virelan"; }
  std::string config_file() const { return config_dir() + "/launcher.cfg"; }
  std::string log_text() const {
    return path_exists(home_ / "log.txt") ? read_file(home_ / "log.txt") : "";
  }

  void write_config(const std::string &content) {
    mkdir(config_dir().c_str(), 0700);
    testing_support::write_file(config_file(), content);
  }

  // A start-up's configuration handling in a child process: set up the
  // directory, load the file, then `then`. Gives beta mode afterwards.
  int start(const std::function<void()> &then = {}) {
    return run_in_child([&] {
      setenv("HOME", home_.path().c_str(), 1);
      if (vorn_client_debug_logfile_is_open()) vorn_client_debug_logfile_close();
      vorn_client_set_debug_logfile_name((home_ / "log.txt").c_str());
      if (!vorn_client_set_up_config_directory("Virelan")) return 100;
      load_system_config_file();
      if (then) then();
      return get_beta_test_enable();
    });
  }

  temp_dir home_;
};

TEST_F(LauncherConfigTest, AMissingFileIsWrittenWithTheDefaults) {
  EXPECT_EQ(start(), 0);
  EXPECT_EQ(read_file(config_file()), written_file(0));
  EXPECT_EQ(log_text(),
            "Unable to load system config - cannot open config file '" + config_file() + "'.\n");
}

// A file of this version is only read; anything else is written back at once
// with the values it held, or the defaults where it held none.
TEST_F(LauncherConfigTest, LoadingReadsAndRewritesAsNeeded) {
  const std::string header_warning = "Warning in vorn_xml_reader::check_xml_header_string(), ";
  const std::string bad_header =
      "Warning in load_system_config_file() - bad XML header, bailing.\n";
  struct Case {
    const char *name;
    std::string content;
    int beta;
    std::string file_after;  // empty: the file is left exactly as it was
    std::string log;
  };
  const Case cases[] = {
      {"this version, beta on",
       std::string(kDeclaration) +
           "<launcher_config><launcher_version>1.096-gtk-rc5</launcher_version>"
           "<beta_test_enable>1</beta_test_enable></launcher_config>",
       1, "", ""},
      {"another version keeps beta mode",
       std::string(kDeclaration) +
           "<launcher_config>\n  <launcher_version>1.090</launcher_version>\n"
           "  <beta_test_enable>1</beta_test_enable>\n</launcher_config>\n",
       1, written_file(1), ""},
      {"no version element",
       std::string(kDeclaration) +
           "<launcher_config><beta_test_enable>1</beta_test_enable></launcher_config>",
       1, written_file(1), ""},
      {"root tag on the first line",
       "<launcher_config><launcher_version>1.096-gtk-rc5</launcher_version>"
       "<beta_test_enable>1</beta_test_enable></launcher_config>\n",
       0, written_file(0), header_warning + "missing opening '<?xml' tag.\n" + bad_header},
      {"single quotes in the declaration",
       "<?xml version='1.0' encoding='ISO-8859-1'?>\n<launcher_config>"
       "<beta_test_enable>1</beta_test_enable></launcher_config>\n",
       0, written_file(0),
       header_warning + "'version' tag found, but no opening version quote.\n" + bad_header},
      {"upper-case tag names",
       std::string(kDeclaration) +
           "<LAUNCHER_CONFIG><Launcher_Version>1.096-gtk-rc5</Launcher_Version>"
           "<BETA_TEST_ENABLE>1</BETA_TEST_ENABLE></LAUNCHER_CONFIG>",
       1, "", ""},
      {"unknown elements at both levels",
       std::string(kDeclaration) +
           "<extra><deep>x</deep></extra>\n<launcher_config><skin><colour>red</colour></skin>"
           "<launcher_version>1.096-gtk-rc5</launcher_version>"
           "<beta_test_enable>1</beta_test_enable></launcher_config>",
       1, "", "load_system_config_file() got unknown tag 'extra'\n"},
      {"a value of 2 counts as on and is kept",
       std::string(kDeclaration) + "<launcher_config><launcher_version>old</launcher_version>"
                                   "<beta_test_enable>2</beta_test_enable></launcher_config>",
       2, written_file(2), ""},
      {"a non-number leaves beta mode alone",
       std::string(kDeclaration) +
           "<launcher_config><launcher_version>1.096-gtk-rc5</launcher_version>"
           "<beta_test_enable>yes</beta_test_enable></launcher_config>",
       0, "", "Warning in vorn_xml_reader::read_data(int) - got non-number'yes'.\n"},
      {"an empty file", "", 0, written_file(0),
       header_warning + "missing opening '<?xml' tag.\n" + bad_header},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    write_config(c.content);
    unlink((home_ / "log.txt").c_str());
    EXPECT_EQ(start(), c.beta);
    EXPECT_EQ(read_file(config_file()), c.file_after.empty() ? c.content : c.file_after);
    EXPECT_EQ(log_text(), c.log);
  }
}

TEST_F(LauncherConfigTest, OnlyAChangeOfBetaModeIsSaved) {
  write_config(std::string(kDeclaration) +
               "<launcher_config><launcher_version>1.096-gtk-rc5</launcher_version>"
               "<beta_test_enable>1</beta_test_enable></launcher_config>");
  const std::string before = read_file(config_file());
  EXPECT_EQ(start([] { set_beta_test_enable(1); }), 1);  // -b when already on
  EXPECT_EQ(read_file(config_file()), before);
  EXPECT_EQ(start([] { set_beta_test_enable(0); }), 0);  // -u
  EXPECT_EQ(read_file(config_file()), written_file(0));
  EXPECT_EQ(start(), 0);  // and it stays off
}

TEST_F(LauncherConfigTest, TheWrittenFileIsWellFormedXml) {
  EXPECT_EQ(start([] { set_beta_test_enable(1); }), 1);
  const std::string command = "xmllint --noout '" + config_file() + "' 2>&1";
  EXPECT_EQ(std::system(command.c_str()), 0);
}

// Saving never cuts the old file: when the new one cannot be made the old one
// stays as it was and no temporary file is left behind.
TEST_F(LauncherConfigTest, AFailedSaveKeepsTheOldFile) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to switch to an unprivileged user";
  EXPECT_EQ(start([] { set_beta_test_enable(1); }), 1);
  const std::string before = read_file(config_file());
  chmod(home_.path().c_str(), 0755);
  // The directory stays root's while the process runs as another user, so no
  // temporary file can be created in it.
  const int status = run_in_child([&] {
    setenv("HOME", home_.path().c_str(), 1);
    if (vorn_client_debug_logfile_is_open()) vorn_client_debug_logfile_close();
    vorn_client_set_debug_logfile_name((home_ / "log.txt").c_str());
    unlink((home_ / "log.txt").c_str());
    vorn_client_try_open_debug_logfile();
    if (!vorn_client_set_up_config_directory("Virelan")) return 100;
    chmod(config_dir().c_str(), 0755);
    if (setgid(65534) != 0 || setuid(65534) != 0) return 101;
    return save_system_config_file();
  });
  EXPECT_EQ(status, 0);
  EXPECT_EQ(read_file(config_file()), before);
  EXPECT_EQ(log_text(),
            "Unable to save system config - cannot open config file '" + config_file() + "'.\n");
}

TEST_F(LauncherConfigTest, AFullDiskKeepsTheOldFile) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root for a small file system of its own";
  const int status = run_in_child([&] {
    if (unshare(CLONE_NEWNS) != 0) return 90;
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return 90;
    mkdir(config_dir().c_str(), 0700);
    if (mount("tmpfs", config_dir().c_str(), "tmpfs", 0, "size=16k,mode=0700") != 0) return 90;
    setenv("HOME", home_.path().c_str(), 1);
    if (vorn_client_debug_logfile_is_open()) vorn_client_debug_logfile_close();
    vorn_client_set_debug_logfile_name((home_ / "log.txt").c_str());
    if (!vorn_client_set_up_config_directory("Virelan")) return 100;
    set_beta_test_enable(1);  // the file now holds beta mode on
    // Fill the file system to the last block.
    std::FILE *filler = std::fopen((config_dir() + "/filler").c_str(), "wb");
    const std::string block(512, 'f');
    while (std::fwrite(block.data(), 1, block.size(), filler) == block.size() &&
           std::fflush(filler) == 0) {
    }
    std::fclose(filler);
    const int saved = save_system_config_file();
    // The mount goes with this process: keep what the file holds now.
    testing_support::write_file(home_ / "after.txt", read_file(config_file()));
    const bool stray =
        std::system(("ls '" + config_dir() + "' | grep -q 'launcher.cfg.'").c_str()) == 0;
    return saved == 0 && !stray ? 0 : 1;
  });
  if (status == 90) GTEST_SKIP() << "mount namespaces are not permitted here";
  EXPECT_EQ(status, 0);
  EXPECT_EQ(read_file(home_ / "after.txt"), written_file(1));
  EXPECT_EQ(log_text(),
            "Error in save_system_config_file(), unable to write to system config file '" +
                config_file() + "'.\n");
}

TEST(LauncherConfigAccessorsTest, VersionsAndTheMissingDirectory) {
  testing_support::log_capture log;
  EXPECT_STREQ(get_launcher_version_text(), "1.096-gtk-rc5");
  EXPECT_EQ(get_config_launcher_version(), nullptr);
  load_system_config_file();  // no configuration directory in this process
  EXPECT_EQ(save_system_config_file(), 0);
  EXPECT_EQ(log.text(),
            "Unable to load system config - no config file directory.\n"
            "Unable to save system config - no config file directory.\n");
}

}  // namespace
