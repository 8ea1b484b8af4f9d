// The boot sequence's steps in this process, without real time: the launcher's
// frame on an Xvfb of the test's own, its timer stopped, boot_tick() called by
// the test, and the exec replaced by a recorder. A recorded exec returns, so to
// the sequence every start fails and a pass shows the whole order in which it
// tries the images.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <wx/app.h>
#include <wx/init.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/test_support.h"
#include "e2e/launcher_harness.h"
#include "launcher/boot_sequence.h"
#include "launcher/launcher_config.h"
#include "launcher/launcher_state.h"
#include "launcher/launcher_window.h"
#include "launcher/updater_thread.h"
#include "support/file_lock.h"
#include "support/process_launch.h"
#include "updater/executable_updater.h"

namespace {

using testing_support::read_file;
using testing_support::temp_dir;
using testing_support::write_file;

struct exec_call {
  std::string path;
  std::vector<std::string> argv;
};
std::vector<exec_call> exec_calls;

void record_exec(const char *path, char *const argv[]) {
  exec_call call{path, {}};
  for (char *const *arg = argv; *arg != nullptr; ++arg) call.argv.push_back(*arg);
  exec_calls.push_back(call);
}

std::vector<std::string> tried_names() {
  std::vector<std::string> names;
  for (const exec_call &call : exec_calls) names.push_back(call.argv.empty() ? "" : call.argv[0]);
  return names;
}

// Holds a lock file's lock from a child process: lockf locks belong to a
// process, so this process would simply be granted its own lock again.
class lock_holder {
 public:
  explicit lock_holder(const std::string &path) {
    int ready[2];
    int release[2];
    if (pipe(ready) != 0 || pipe(release) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      // Only async-signal-safe calls: the toolkit runs threads of its own.
      close(release[1]);
      close(ready[0]);
      const int fd = open(path.c_str(), O_RDWR | O_CREAT, 0600);
      const char held = fd >= 0 && lockf(fd, F_LOCK, 0) == 0 ? '1' : '0';
      if (write(ready[1], &held, 1) != 1) _exit(1);
      char ignored;
      while (read(release[0], &ignored, 1) > 0) {
      }
      _exit(0);
    }
    close(ready[1]);
    close(release[0]);
    char held = '0';
    if (pid_ > 0 && read(ready[0], &held, 1) == 1 && held == '1')
      release_fd_ = release[1];
    else
      close(release[1]);
    close(ready[0]);
  }
  ~lock_holder() { release(); }

  bool holding() const { return release_fd_ >= 0; }
  // The child ends, and its lock with it.
  void release() {
    if (release_fd_ >= 0) close(release_fd_);
    release_fd_ = -1;
    if (pid_ > 0) waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
  int release_fd_ = -1;
};

const std::string give_up_lines =
    "\n"
    "Sorry, it looks like there's another version of the launcher downloading\n"
    "updates right now.  Please try again when it's finished.\n"
    "\n";
const std::string no_executables_lines =
    "\n"
    "Sorry, no executables found - cannot start game.\n"
    "This launcher will attempt to download one if you restart it.\n"
    "If this message continues to occur, please notify the game admin.\n"
    "\n";
const std::string no_valid_lines =
    "Sorry, no valid executables found - cannot start game.\n"
    "If this message continues to occur, please notify the game admin.\n";

class BootTickTest : public testing::Test {
 protected:
  void SetUp() override {
    use_config_dir(config_.path());
    boot_exec = record_exec;
    exec_calls.clear();
    update_done = 0;
    updater_lock = -1;
    updater_started = 0;
    boot_pass_done = 0;
    beta_test_enable = 0;
    frame_ = make_frame();
  }

  void TearDown() override {
    // A run started by a test ends on its own (nothing answers on the update
    // port); the window must outlive it.
    if (updater_started) {
      EXPECT_TRUE(testing_support::eventually(20, [] { return update_done != 0; }));
    }
    destroy(frame_);
    if (own_lock_ >= 0) vorn_unlock_file(own_lock_);
    boot_exec = vorn_boot_exec;
  }

  static launcher_frame *make_frame() {
    launcher_frame *frame =
        new launcher_frame("Virelan Launcher", wxDefaultPosition, wxSize(480, 300));
    frame->panel.timer.Stop();  // the test makes the ticks
    return frame;
  }
  // Deletes the frame, or lets the toolkit finish the destruction the launcher
  // asked for.
  static void destroy(launcher_frame *frame) {
    if (closed(frame)) {
      wxTheApp->ProcessIdle();
    } else {
      delete frame;
    }
  }
  static bool closed(launcher_frame *frame) { return wxTheApp->IsScheduledForDestruction(frame); }

  // Points the launcher's paths into `dir` as start-up does for a configuration
  // directory, and makes its executables directory.
  void use_config_dir(const std::string &dir) {
    config_path_ = dir;
    mkdir((dir + "/executables").c_str(), 0700);
    build_launcher_paths(dir.c_str());
    lock_path.clear();
    lock_path.append((dir + "/executables/lock.tmp").c_str());
  }
  std::string exe_dir() const { return config_path_ + "/executables"; }
  std::string bootname() const { return config_path_ + "/bootname.txt"; }

  // A manifest listing `names` in this order, and a file for each of `on_disk`
  // (paths below the executables directory).
  void install(const std::vector<std::string> &names, const std::vector<std::string> &on_disk) {
    std::string manifest = "# boot images\n\n";
    for (const std::string &name : names) manifest += "0123456789abcdef0123 12 " + name + "\n";
    write_file(exe_dir() + "/update_manifest.lst", manifest);
    for (const std::string &name : on_disk) {
      for (std::size_t slash = name.find('/'); slash != std::string::npos;
           slash = name.find('/', slash + 1)) {
        mkdir((exe_dir() + "/" + name.substr(0, slash)).c_str(), 0700);
      }
      write_file(exe_dir() + "/" + name, "client image");
    }
  }
  void install(const std::vector<std::string> &names) { install(names, names); }

  // The updater lock as this process holds it after start-up.
  void take_lock() {
    own_lock_ = vorn_lock_file(lock_path.c_str());
    ASSERT_GE(own_lock_, 0);
    updater_lock = own_lock_;
  }

  void tick(int times = 1) {
    for (int i = 0; i < times; ++i) boot_tick(&frame_->panel);
  }
  int elapsed() const { return frame_->panel.elapsed_ms; }

  temp_dir config_;
  std::string config_path_;
  launcher_frame *frame_ = nullptr;
  int own_lock_ = -1;
};

std::string failed_start_lines(const std::string &path) {
  return "Boot exec for filename '" + path + "' failed.\nTrying next in line.\n";
}

TEST_F(BootTickTest, TheFirstAttemptIsOnTheTickThatReaches1020) {
  install({"client_v1"});
  take_lock();
  update_done = 1;
  tick(50);
  EXPECT_EQ(elapsed(), 1000);
  EXPECT_TRUE(exec_calls.empty());
  tick();
  EXPECT_EQ(elapsed(), 1020);
  EXPECT_EQ(exec_calls.size(), 1u);
}

TEST_F(BootTickTest, ALongRunBootsOnTheFirstTickAfterItFinishes) {
  install({"client_v1"});
  take_lock();
  tick(250);
  EXPECT_TRUE(exec_calls.empty());
  update_done = 1;
  tick();
  EXPECT_EQ(exec_calls.size(), 1u);
}

TEST_F(BootTickTest, TheOptionsViewHoldsTheBootUntilItIsHidden) {
  install({"client_v1"});
  take_lock();
  update_done = 1;
  frame_->panel.options_view = 1;
  tick(500);
  EXPECT_TRUE(exec_calls.empty());
  frame_->panel.options_view = 0;
  tick();
  EXPECT_EQ(exec_calls.size(), 1u);
}

TEST_F(BootTickTest, GivesUpAfterThreeSecondsWhileAnotherProcessHoldsTheLock) {
  install({"client_v1"});
  lock_holder other(lock_path.c_str());
  ASSERT_TRUE(other.holding());
  testing_support::log_capture log;
  tick(150);
  EXPECT_EQ(elapsed(), 3000);
  EXPECT_EQ(log.text(), "");
  EXPECT_FALSE(closed(frame_));
  tick();
  EXPECT_EQ(log.text(), give_up_lines);
  EXPECT_TRUE(closed(frame_));
  EXPECT_LT(updater_lock.load(), 0);
  EXPECT_EQ(updater_started.load(), 0);
  EXPECT_TRUE(exec_calls.empty());
}

// The run that starts late is a real one; nothing answers on the update port,
// so it ends at once and the boot follows.
TEST_F(BootTickTest, StartsTheUpdaterLateOnceTheLockFreesUp) {
  install({"client_v1"});
  lock_holder other(lock_path.c_str());
  ASSERT_TRUE(other.holding());
  testing_support::log_capture log(2);
  tick(10);
  EXPECT_LT(updater_lock.load(), 0);
  EXPECT_EQ(updater_started.load(), 0);
  other.release();
  tick();
  EXPECT_GE(updater_lock.load(), 0);
  EXPECT_EQ(updater_started.load(), 1);
  EXPECT_EQ(updater_hooks.port, VIRELAN_TEST_UPDATE_PORT);
  EXPECT_EQ(log.text().rfind("OnTimer(), late start of updater thread.\n", 0), 0u) << log.text();
  ASSERT_TRUE(testing_support::eventually(20, [] { return update_done != 0; }));
  tick((1000 - elapsed()) / 20);
  EXPECT_EQ(elapsed(), 1000);
  EXPECT_TRUE(exec_calls.empty());
  tick();
  EXPECT_EQ(tried_names(), std::vector<std::string>{"client_v1"});
  EXPECT_FALSE(closed(frame_));
}

// A pass that starts nothing leaves the window open and is not repeated; the
// next update run allows the next pass.
TEST_F(BootTickTest, EachFinishedRunGetsOnePass) {
  install({"client_v1", "client_v2"});
  take_lock();
  update_done = 1;
  testing_support::log_capture log;
  tick(51);
  EXPECT_EQ(tried_names(), (std::vector<std::string>{"client_v2", "client_v1"}));
  const std::string first_pass = failed_start_lines(exe_dir() + "/client_v2") +
                                 failed_start_lines(exe_dir() + "/client_v1") + no_valid_lines;
  EXPECT_EQ(log.text(), first_pass);
  tick(200);
  EXPECT_EQ(exec_calls.size(), 2u);
  EXPECT_EQ(log.text(), first_pass);
  EXPECT_FALSE(closed(frame_));

  start_updater(&frame_->panel);  // what B or a late start does
  own_lock_ = -1;                 // the run releases it
  ASSERT_TRUE(testing_support::eventually(20, [] { return update_done != 0; }));
  const std::string before = log.text();
  tick();
  // "bootname.txt" now names client_v1, the last image tried.
  EXPECT_EQ(tried_names(), (std::vector<std::string>{"client_v2", "client_v1", "client_v2"}));
  EXPECT_EQ(log.text().substr(before.size()), failed_start_lines(exe_dir() + "/client_v2") +
                                                  "Previous boot of image 'client_v1' failed.\n"
                                                  "Skipping, will try older images.\n" +
                                                  no_valid_lines);
  tick(100);
  EXPECT_EQ(exec_calls.size(), 3u);
}

// Which images a pass tries, in which order, given the manifest, the files on
// disk, beta mode and "bootname.txt". Every recorded start "fails", so the
// list is the whole order; in the launcher the first start replaces the
// process.
TEST_F(BootTickTest, TriesTheImagesNewestFirstSkippingTheOneThatFailedLastTime) {
  struct Case {
    const char *what;
    std::vector<std::string> manifest;
    std::vector<std::string> on_disk;
    int beta;
    const char *bootname;  // null: no file
    std::vector<std::string> tried;
    std::string skip_lines;  // the log without the lines of failed starts
  };
  const std::vector<std::string> v5_v6_beta = {"client_v5", "client_v6_beta", "client_v6"};
  const std::string v6_skipped =
      "Previous boot of image 'client_v6' failed.\nSkipping, will try older images.\n";
  const std::string v6_retried =
      "Previous boot of image 'client_v6' failed.\nNo other images, retrying.\n";
  const Case cases[] = {
      {"newest first, beta names left out",
       v5_v6_beta,
       v5_v6_beta,
       0,
       nullptr,
       {"client_v6", "client_v5"},
       ""},
      {"beta mode takes the beta names",
       v5_v6_beta,
       v5_v6_beta,
       1,
       nullptr,
       {"client_v6_beta", "client_v6", "client_v5"},
       ""},
      {"byte-wise order, not numeric",
       {"client_v10", "client_v9"},
       {"client_v10", "client_v9"},
       0,
       nullptr,
       {"client_v9", "client_v10"},
       ""},
      {"the beta test is case-sensitive",
       {"client_v6_beta", "client_v7_Beta"},
       {"client_v6_beta", "client_v7_Beta"},
       0,
       nullptr,
       {"client_v7_Beta"},
       ""},
      {"an image missing on disk is not tried",
       {"client_v7", "client_v6"},
       {"client_v6"},
       0,
       nullptr,
       {"client_v6"},
       ""},
      {"the image that failed last time is skipped",
       v5_v6_beta,
       v5_v6_beta,
       0,
       "client_v6\n",
       {"client_v5"},
       v6_skipped},
      {"a carriage return ends the recorded name",
       v5_v6_beta,
       v5_v6_beta,
       0,
       "client_v6\r\n",
       {"client_v5"},
       v6_skipped},
      {"the name is read once, before the first start",
       {"client_v5", "client_v6"},
       {"client_v5", "client_v6"},
       0,
       "client_v5\nclient_v6\n",
       {"client_v6"},
       "Previous boot of image 'client_v5' failed.\nSkipping, will try older images.\n"},
      {"the only image is retried",
       {"client_v6"},
       {"client_v6"},
       0,
       "client_v6\n",
       {"client_v6"},
       v6_retried},
      {"a beta image left out is not another image",
       {"client_v6", "client_v6_beta"},
       {"client_v6", "client_v6_beta"},
       0,
       "client_v6\n",
       {"client_v6"},
       v6_retried},
      {"an empty file skips nothing",
       v5_v6_beta,
       v5_v6_beta,
       0,
       "",
       {"client_v6", "client_v5"},
       ""},
      {"the name must match exactly",
       v5_v6_beta,
       v5_v6_beta,
       0,
       "CLIENT_V6\n",
       {"client_v6", "client_v5"},
       ""},
      {"names with a '..' component are never started",
       {"../outside", "sub/../client_v9", "bin/client_v2", "client_v1"},
       {"../outside", "sub/../client_v9", "bin/client_v2", "client_v1"},
       0,
       nullptr,
       {"client_v1", "bin/client_v2"},
       ""},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    temp_dir dir;
    use_config_dir(dir.path());
    install(c.manifest, c.on_disk);
    if (c.bootname != nullptr) write_file(bootname(), c.bootname);
    beta_test_enable = c.beta;
    update_done = 1;
    updater_lock = 1000;  // held by this launcher; only its sign matters here
    boot_pass_done = 0;   // as every new update run starts
    exec_calls.clear();
    testing_support::log_capture log;
    tick(elapsed() > 1000 ? 1 : 51);

    EXPECT_EQ(tried_names(), c.tried);
    for (const exec_call &call : exec_calls) {
      EXPECT_EQ(call.path, exe_dir() + "/" + call.argv[0]);
      EXPECT_EQ(call.argv, (std::vector<std::string>{call.argv[0], "-l", "1.096-gtk-rc5"}));
    }
    // Each failed start adds its two lines; what remains is the skip rule's.
    std::string text = log.text();
    for (const std::string &name : c.tried) {
      const std::string lines = failed_start_lines(exe_dir() + "/" + name);
      const std::size_t at = text.find(lines);
      ASSERT_NE(at, std::string::npos) << name << "\n" << log.text();
      text.erase(at, lines.size());
    }
    EXPECT_EQ(text, c.skip_lines + no_valid_lines) << log.text();
    // The last image tried is the one recorded.
    EXPECT_EQ(read_file(bootname()), c.tried.back() + "\n");
    EXPECT_FALSE(closed(frame_));
  }
  updater_lock = -1;
}

// The record of the image about to start is written before every start; when
// it cannot be written the start goes ahead all the same.
TEST_F(BootTickTest, AnImageStartsEvenWhenItsRecordCannotBeWritten) {
  install({"client_v1"});
  take_lock();
  update_done = 1;
  mkdir(bootname().c_str(), 0700);  // cannot be opened for writing
  struct Case {
    const char *what;
    std::string path;
  };
  const Case cases[] = {{"open fails", bootname()},
                        {"the data never reaches the file", "/dev/full"}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    bootname_path.clear();
    bootname_path.append(c.path.c_str());
    boot_pass_done = 0;
    exec_calls.clear();
    testing_support::log_capture log;
    tick(elapsed() > 1000 ? 1 : 51);
    EXPECT_EQ(tried_names(), std::vector<std::string>{"client_v1"});
    EXPECT_EQ(log.text(), "write_crash_detect_file(), unable to open file '" + c.path +
                              "' for writing.\n" + failed_start_lines(exe_dir() + "/client_v1") +
                              no_valid_lines);
  }
}

// Nothing to start: the pass says so twice over and closes the window; the
// close takes effect later, so the messages after it are still written.
TEST_F(BootTickTest, WithoutImagesThePassSaysSoAndClosesTheWindow) {
  struct Case {
    const char *what;
    const char *manifest;  // null: no file
    std::vector<std::string> on_disk;
  };
  const Case cases[] = {
      {"no manifest", nullptr, {}},
      {"a manifest without entries", "# nothing yet\n", {}},
      {"a manifest whose files are gone", "0123456789abcdef0123 12 client_v1\n", {}},
      {"only beta images in plain mode",
       "0123456789abcdef0123 12 client_v1_beta\n",
       {"client_v1_beta"}},
      {"a manifest with a bad line", "client_v1\n", {"client_v1"}},
  };
  destroy(frame_);
  frame_ = nullptr;
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    temp_dir dir;
    use_config_dir(dir.path());
    if (c.manifest != nullptr) write_file(exe_dir() + "/update_manifest.lst", c.manifest);
    for (const std::string &name : c.on_disk) write_file(exe_dir() + "/" + name, "client image");
    update_done = 1;
    updater_lock = 1000;  // held by this launcher; only its sign matters here
    boot_pass_done = 0;
    exec_calls.clear();
    frame_ = make_frame();
    testing_support::log_capture log;
    tick(51);
    EXPECT_TRUE(exec_calls.empty());
    std::string text = log.text();
    // A bad manifest line is reported by the manifest itself first.
    const std::size_t own = text.find(no_executables_lines);
    EXPECT_EQ(text.substr(own == std::string::npos ? 0 : own),
              no_executables_lines + no_valid_lines);
    EXPECT_TRUE(closed(frame_));
    EXPECT_FALSE(testing_support::path_exists(bootname()));
    destroy(frame_);
    frame_ = nullptr;
  }
  updater_lock = -1;
  frame_ = make_frame();
}

}  // namespace
