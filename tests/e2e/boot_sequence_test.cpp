// The boot sequence end to end: the real launcher under Xvfb in a temporary
// HOME, virelan-update-server on the test build's update port, and client
// images that are copies of the demo client (each start records its argument
// vector through VIRELAN_DEMO_RECORD and removes "bootname.txt") or small shell
// scripts where the program's own name does not matter.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "common/test_support.h"
#include "e2e/launcher_harness.h"
#include "e2e/update_server_process.h"

namespace {

using e2e::occurrences;
using e2e::update_server;
using testing_support::path_exists;
using testing_support::read_file;
using testing_support::write_file;

const std::string list_request =
    "\"GET /downloads/torvane_v3/manifest_linux32_executables.txt.gz HTTP/1.1\" 200";
const std::string no_executables_lines =
    "\n"
    "Sorry, no executables found - cannot start game.\n"
    "This launcher will attempt to download one if you restart it.\n"
    "If this message continues to occur, please notify the game admin.\n"
    "\n"
    "Sorry, no valid executables found - cannot start game.\n"
    "If this message continues to occur, please notify the game admin.\n";
const std::string give_up_lines =
    "\n"
    "Sorry, it looks like there's another version of the launcher downloading\n"
    "updates right now.  Please try again when it's finished.\n"
    "\n";

// The launcher with VIRELAN_DEMO_RECORD and VIRELAN_DEMO_SECONDS in its
// environment, for the client it hands over to.
class launcher_run {
 public:
  launcher_run(e2e::launch_options o, const std::string &record)
      : started_(std::chrono::steady_clock::now()),
        process_(
            (o.environment = {"VIRELAN_DEMO_RECORD=" + record, "VIRELAN_DEMO_SECONDS=20"}, o)) {}

  e2e::launcher_process &process() { return process_; }
  std::chrono::steady_clock::time_point started() const { return started_; }
  std::string standard_error() const { return process_.standard_error(); }

 private:
  std::chrono::steady_clock::time_point started_;
  e2e::launcher_process process_;
};

// A client image that only records its arguments after the program's name
// (a script never sees the name it was started under), padded to `size` bytes.
std::string script_image(std::size_t size = 0) {
  std::string text = "#!/bin/sh\nprintf '%s\\n' \"$@\" > \"$VIRELAN_DEMO_RECORD\"\n";
  if (text.size() < size) {
    std::string padding = "#";
    padding.append(size - text.size() - 2, '.');
    text += padding + "\n";
  }
  return text;
}

class BootSequenceTest : public e2e::launcher_test {
 protected:
  void SetUp() override {
    launcher_test::SetUp();
    if (IsSkipped()) return;
    mkdir(config_dir().c_str(), 0700);
    mkdir(exe_dir().c_str(), 0700);
  }

  std::string config_dir() const { return home_ / ".Virelan"; }
  std::string exe_dir() const { return config_dir() + "/executables"; }
  std::string server_root() const { return home_ / "server"; }
  std::string published_dir() const { return server_root() + "/downloads/torvane_v3"; }
  std::string record_path() const { return home_ / "record.txt"; }
  std::string bootname_path() const { return config_dir() + "/bootname.txt"; }
  std::string log_text() const {
    const std::string path = config_dir() + "/torvane_launcher_log.txt";
    return path_exists(path) ? read_file(path) : "";
  }
  static const std::string &demo_client() {
    static const std::string image = read_file(VIRELAN_DEMO_CLIENT_PATH);
    return image;
  }
  // What the demo client records when it was started as `name`.
  static std::string client_arguments(const std::string &name) {
    return name + "\n-l\n1.096-gtk-rc5\n";
  }

  // Images already on disk with a manifest naming them: the run finds no
  // server, gives up at once, and the boot takes what is there.
  void install(const std::vector<std::pair<std::string, std::string>> &images) {
    std::string manifest;
    for (const auto &[name, content] : images) {
      write_file(exe_dir() + "/" + name, content);
      manifest += "0123456789abcdef01234567 " + std::to_string(content.size()) + " " + name + "\n";
    }
    write_file(exe_dir() + "/update_manifest.lst", manifest);
  }
  // Files on the server, listed with virelan-make-list.
  void publish(const std::vector<std::pair<std::string, std::string>> &files) {
    ASSERT_EQ(std::system(("mkdir -p '" + published_dir() + "'").c_str()), 0);
    for (const auto &[name, content] : files) write_file(published_dir() + "/" + name, content);
    ASSERT_EQ(
        std::system((std::string(VIRELAN_MAKE_LIST_PATH) + " '" + published_dir() + "'").c_str()),
        0);
  }

  std::unique_ptr<launcher_run> start(std::vector<std::string> args = {}) {
    unlink(record_path().c_str());
    return std::make_unique<launcher_run>(options(std::move(args)), record_path());
  }
  std::string recorded() const {
    return path_exists(record_path()) ? read_file(record_path()) : "";
  }
  // Waits for a client start that records `arguments`.
  bool client_started(const std::string &arguments, double seconds = 20) const {
    return e2e::eventually(seconds, [&] { return recorded() == arguments; });
  }

  // True when no process holds the updater lock.
  bool lock_is_free() const {
    const int fd = open((exe_dir() + "/lock.tmp").c_str(), O_RDWR);
    if (fd < 0) return false;
    const bool free = lockf(fd, F_TEST, 0) == 0;
    close(fd);
    return free;
  }

};

// The whole story: the run fetches the list and the newest image, writes the
// manifest, releases the lock, and the launcher's own process becomes the
// client with the fixed argument vector.
TEST_F(BootSequenceTest, AFullRunUpdatesThenHandsOverToTheClient) {
  publish({{"client_v1", demo_client()}});
  update_server server(server_root(), 0);
  ASSERT_TRUE(server.listening()) << server.errors();
  std::unique_ptr<launcher_run> launcher = start({"-u"});
  ASSERT_TRUE(client_started(client_arguments("client_v1")))
      << "recorded: " << recorded() << "\nlog: " << log_text()
      << "\nstderr: " << launcher->standard_error();

  // The same process, now running the downloaded image.
  ASSERT_TRUE(launcher->process().running());
  char exe[4096] = "";
  const ssize_t n = readlink(
      ("/proc/" + std::to_string(launcher->process().pid()) + "/exe").c_str(), exe, sizeof exe - 1);
  EXPECT_EQ(std::string(exe, n > 0 ? n : 0), exe_dir() + "/client_v1");
  EXPECT_EQ(read_file(exe_dir() + "/client_v1"), demo_client());
  // The client said its start went well.
  EXPECT_FALSE(path_exists(bootname_path()));
  EXPECT_TRUE(lock_is_free());
  const std::string digest =
      e2e::output_of("sha256sum '" + published_dir() + "/client_v1'").substr(0, 64);
  char size_field[32];
  std::snprintf(size_field, sizeof size_field, " %10zu ", demo_client().size());
  EXPECT_NE(read_file(exe_dir() + "/update_manifest.lst")
                .find("\n" + digest + size_field + "client_v1\n"),
            std::string::npos);
  EXPECT_EQ(server.count(list_request), 1) << server.requests();
  EXPECT_EQ(server.count("\"GET /downloads/torvane_v3/client_v1 HTTP/1.1\" 200"), 1);
}

// client_v5, client_v6 and client_v6_beta on disk: beta mode decides which one
// is the newest allowed. No start comes before a second of ticks has passed.
TEST_F(BootSequenceTest, StartsTheNewestImageThatBetaModeAllows) {
  install({{"client_v5", demo_client()},
           {"client_v6", demo_client()},
           {"client_v6_beta", demo_client()}});
  const std::pair<std::string, std::string> cases[] = {{"-u", "client_v6"},
                                                       {"-b", "client_v6_beta"}};
  for (const auto &[option, image] : cases) {
    SCOPED_TRACE(option);
    std::unique_ptr<launcher_run> launcher = start({option});
    ASSERT_TRUE(client_started(client_arguments(image)))
        << "recorded: " << recorded() << "\nlog: " << log_text();
    const std::chrono::duration<double> waited =
        std::chrono::steady_clock::now() - launcher->started();
    EXPECT_GE(waited.count(), 1.0);
    EXPECT_FALSE(path_exists(bootname_path()));
  }
}

// "bootname.txt" names the image whose start did not come through: an older one
// is started instead, or the same one when there is no other.
TEST_F(BootSequenceTest, SkipsTheImageWhosePreviousStartFailed) {
  struct Case {
    std::vector<std::string> images;
    std::string started;
    std::string log_lines;
  };
  const Case cases[] = {
      {{"client_v5", "client_v6"},
       "client_v5",
       "Previous boot of image 'client_v6' failed.\nSkipping, will try older images.\n"},
      {{"client_v6"},
       "client_v6",
       "Previous boot of image 'client_v6' failed.\nNo other images, retrying.\n"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.started);
    std::vector<std::pair<std::string, std::string>> images;
    for (const std::string &name : c.images) images.push_back({name, demo_client()});
    install(images);
    write_file(bootname_path(), "client_v6\n");
    unlink((config_dir() + "/torvane_launcher_log.txt").c_str());
    std::unique_ptr<launcher_run> launcher = start({"-u"});
    ASSERT_TRUE(client_started(client_arguments(c.started)))
        << "recorded: " << recorded() << "\nlog: " << log_text();
    EXPECT_NE(log_text().find(c.log_lines), std::string::npos) << log_text();
    EXPECT_FALSE(path_exists(bootname_path()));
    for (const std::string &name : c.images) unlink((exe_dir() + "/" + name).c_str());
  }
}

TEST_F(BootSequenceTest, AnImageThatCannotRunIsPassedOverForTheNextOne) {
  install({{"client_v5", demo_client()}, {"client_v6", "This is not a program.\n"}});
  std::unique_ptr<launcher_run> launcher = start({"-u"});
  ASSERT_TRUE(client_started(client_arguments("client_v5")))
      << "recorded: " << recorded() << "\nlog: " << log_text();
  EXPECT_NE(log_text().find("Boot exec for filename '" + exe_dir() +
                            "/client_v6' failed.\nTrying next in line.\n"),
            std::string::npos)
      << log_text();
}

// Nothing to start: the messages, and the launcher closes with status 0.
TEST_F(BootSequenceTest, WithoutImagesItSaysSoAndCloses) {
  struct Case {
    const char *what;
    const char *manifest;  // null: no file
  };
  const Case cases[] = {{"no manifest", nullptr},
                        {"the listed image is gone", "0123456789abcdef0123 12 client_v1\n"}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    if (c.manifest != nullptr) write_file(exe_dir() + "/update_manifest.lst", c.manifest);
    unlink((config_dir() + "/torvane_launcher_log.txt").c_str());
    std::unique_ptr<launcher_run> launcher = start({"-u"});
    EXPECT_EQ(launcher->process().wait(20), 0) << launcher->standard_error();
    const std::string log = log_text();
    ASSERT_GE(log.size(), no_executables_lines.size()) << log;
    EXPECT_EQ(log.substr(log.size() - no_executables_lines.size()), no_executables_lines) << log;
    EXPECT_EQ(occurrences(log, "Sorry, no executables found"), 1) << log;
    EXPECT_EQ(recorded(), "");
  }
}

// While the options view is shown the boot waits, however long the update has
// been done; hiding the view lets it go on. The throttled download keeps the
// boot from racing the key.
TEST_F(BootSequenceTest, TheOptionsViewHoldsTheBoot) {
  publish({{"client_v1", script_image(5000)}});
  update_server server(server_root(), 2000);
  ASSERT_TRUE(server.listening()) << server.errors();
  std::unique_ptr<launcher_run> launcher = start({"-u"});
  ASSERT_TRUE(e2e::eventually(20, [&] { return !window().empty(); }));
  press("Escape");
  ASSERT_TRUE(e2e::eventually(20, [&] {
    return path_exists(exe_dir() + "/update_manifest.lst") && lock_is_free();
  })) << log_text();
  std::this_thread::sleep_for(std::chrono::seconds(2));
  EXPECT_EQ(recorded(), "");
  EXPECT_TRUE(launcher->process().running());
  press("Escape");
  EXPECT_TRUE(client_started("-l\n1.096-gtk-rc5\n", 10)) << log_text();
}

// A second launcher in the same HOME cannot take the lock while the first one
// downloads: it gives up after three seconds of ticks and ends with status 0.
TEST_F(BootSequenceTest, ASecondLauncherGivesUpWhileTheFirstDownloads) {
  // About twenty seconds of download; the list fits in the first burst.
  publish({{"client_v1", script_image(40000)}});
  update_server server(server_root(), 2000);
  ASSERT_TRUE(server.listening()) << server.errors();
  std::unique_ptr<launcher_run> first = start({"-u"});
  ASSERT_TRUE(e2e::eventually(20, [&] {
    return path_exists(exe_dir() + "/download.tmp") && !lock_is_free();
  })) << log_text();
  std::unique_ptr<launcher_run> second = start({"-u"});
  EXPECT_EQ(second->process().wait(15), 0) << second->standard_error();
  // It kept trying for three seconds of ticks first.
  const std::chrono::duration<double> tried = std::chrono::steady_clock::now() - second->started();
  EXPECT_GE(tried.count(), 3.0);
  EXPECT_TRUE(first->process().running());
  EXPECT_FALSE(lock_is_free());
  // The first launcher's progress lines may come in between.
  const std::string text = log_text();
  std::string log;
  for (std::size_t at = 0, end; at < text.size(); at = end + 1) {
    end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(at, end - at + 1);
    if (line.find("% complete.") == std::string::npos) log += line;
  }
  EXPECT_NE(log.find(give_up_lines), std::string::npos) << text;
  EXPECT_EQ(occurrences(text, "Sorry, it looks like"), 1) << text;
  EXPECT_EQ(recorded(), "");
}

// B after a finished run starts a new run (a second request for the list) and
// so a new boot pass. The image cannot run, so the window stays open, and the
// first pass is not repeated while nothing new happens.
TEST_F(BootSequenceTest, BAfterAFinishedRunStartsANewRun) {
  publish({{"client_v1", "This is not a program.\n"}});
  update_server server(server_root(), 0);
  ASSERT_TRUE(server.listening()) << server.errors();
  std::unique_ptr<launcher_run> launcher = start({"-u"});
  auto passes = [&] { return occurrences(log_text(), "Sorry, no valid executables found"); };
  ASSERT_TRUE(e2e::eventually(20, [&] { return passes() == 1; })) << log_text();
  std::this_thread::sleep_for(std::chrono::seconds(1));
  EXPECT_EQ(passes(), 1);
  EXPECT_EQ(server.count(list_request), 1) << server.requests();
  ASSERT_TRUE(launcher->process().running());

  press("b");
  EXPECT_TRUE(e2e::eventually(20, [&] { return server.count(list_request) == 2; }))
      << server.requests();
  EXPECT_TRUE(e2e::eventually(20, [&] { return passes() == 2; })) << log_text();
  // The second pass finds its own failed start recorded.
  EXPECT_NE(log_text().find("Previous boot of image 'client_v1' failed.\nNo other images, "
                            "retrying.\n"),
            std::string::npos)
      << log_text();
  EXPECT_TRUE(launcher->process().running());
}

}  // namespace
