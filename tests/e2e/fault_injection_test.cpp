// Faults around an update run, end to end: the real launcher under Xvfb in a
// temporary HOME against virelan-update-server on the test build's update port,
// killed, starved of its server, fed a broken list or broken files of its own,
// or raced by a second launcher. After each fault the installed images and the
// manifest must still agree, no file may stand half written under its final
// name, and a following run still starts a whole image.
//
// The client images are small shell scripts padded to a chosen size: each
// start clears "bootname.txt" (a start that went well) and records the path it
// was started under and its arguments through VIRELAN_DEMO_RECORD.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <string>
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

const std::string list_name = "manifest_linux32_executables.txt.gz";
const std::string list_request = "\"GET /downloads/torvane_v3/" + list_name + " HTTP/1.1\" 200";
const std::string give_up_lines =
    "\n"
    "Sorry, it looks like there's another version of the launcher downloading\n"
    "updates right now.  Please try again when it's finished.\n"
    "\n";

long long file_size(const std::string &path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 ? static_cast<long long>(info.st_size) : -1;
}

std::string sha256_of(const std::string &path) {
  return e2e::output_of("sha256sum '" + path + "'").substr(0, 64);
}

class FaultInjectionTest : public e2e::launcher_test {
 protected:
  void SetUp() override {
    launcher_test::SetUp();
    if (IsSkipped()) return;
    mkdir(config_dir().c_str(), 0700);
    mkdir(exe_dir().c_str(), 0700);
    ASSERT_EQ(std::system(("mkdir -p '" + published_dir() + "'").c_str()), 0);
  }

  std::string config_dir() const { return home_ / ".Virelan"; }
  std::string exe_dir() const { return config_dir() + "/executables"; }
  std::string manifest_path() const { return exe_dir() + "/update_manifest.lst"; }
  std::string temp_path() const { return exe_dir() + "/download.tmp"; }
  std::string server_root() const { return home_ / "server"; }
  std::string published_dir() const { return server_root() + "/downloads/torvane_v3"; }
  std::string record_path() const { return home_ / "record.txt"; }
  std::string log_path() const { return config_dir() + "/torvane_launcher_log.txt"; }
  std::string log_text() const { return path_exists(log_path()) ? read_file(log_path()) : ""; }

  // A client image named `name`, `size` bytes long; the name is part of the
  // padding, so no two builds have the same content.
  static std::string image(const std::string &name, std::size_t size = 600) {
    std::string text =
        "#!/bin/sh\n"
        "rm -f \"$HOME/.Virelan/bootname.txt\"\n"
        "printf '%s\\n' \"$0\" \"$@\" > \"$VIRELAN_DEMO_RECORD\"\n"
        "# " +
        name + " ";
    if (text.size() + 1 < size) text.append(size - text.size() - 1, '.');
    return text + "\n";
  }
  // What an image records when the launcher started it.
  std::string started_as(const std::string &name) const {
    return exe_dir() + "/" + name + "\n-l\n1.096-gtk-rc5\n";
  }

  // Puts `content` on the server as `name` and lists the directory anew.
  void publish(const std::string &name, const std::string &content) {
    write_file(published_dir() + "/" + name, content);
    published_[name] = content;
    digests_[name] = sha256_of(published_dir() + "/" + name);
    relist();
  }
  void withdraw(const std::string &name) {
    ASSERT_EQ(unlink((published_dir() + "/" + name).c_str()), 0);
    relist();
  }
  void relist() {
    ASSERT_EQ(
        std::system((std::string(VIRELAN_MAKE_LIST_PATH) + " '" + published_dir() + "' >/dev/null")
                        .c_str()),
        0);
  }

  std::unique_ptr<e2e::launcher_process> start() {
    unlink(record_path().c_str());
    e2e::launch_options o = options({"-u"});
    o.environment = {"VIRELAN_DEMO_RECORD=" + record_path()};
    return std::make_unique<e2e::launcher_process>(o);
  }
  std::string recorded() const {
    return path_exists(record_path()) ? read_file(record_path()) : "";
  }
  // Waits for the start of image `name`.
  ::testing::AssertionResult boots(const std::string &name, double seconds = 20) const {
    if (e2e::eventually(seconds, [&] { return recorded() == started_as(name); }))
      return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "expected a start of " << name << "\nrecorded: " << recorded() << "\nlog:\n"
           << log_text();
  }

  // A whole run against a healthy, unthrottled server that ends with the
  // start of `name`.
  void run_to_boot(const std::string &name) {
    update_server server(server_root(), 0);
    ASSERT_TRUE(server.listening()) << server.errors();
    std::unique_ptr<e2e::launcher_process> launcher = start();
    ASSERT_TRUE(boots(name)) << launcher->standard_error();
    EXPECT_EQ(launcher->wait(10), 0);
  }

  // Waits until a download has put bytes into download.tmp.
  bool download_under_way() const {
    return e2e::eventually(20, [&] { return file_size(temp_path()) > 0; });
  }

  // client_v1 installed by a whole run, then client_v2 published: 30000 bytes,
  // some seconds of download from a throttled server. `manifest` is the
  // manifest as the run left it.
  void install_v1_then_publish_v2(std::string &manifest) {
    ASSERT_NO_FATAL_FAILURE(publish("client_v1", image("client_v1")));
    ASSERT_NO_FATAL_FAILURE(run_to_boot("client_v1"));
    manifest = read_file(manifest_path());
    ASSERT_NO_FATAL_FAILURE(publish("client_v2", image("client_v2", 30000)));
  }

  // Ends a launcher with `stop` while the new build is half downloaded and
  // expects the exit status `status`. Nothing may have changed: no client
  // started, the lock is free, the old build and the manifest are untouched;
  // and the next run installs and starts the new build.
  void interrupt_download_then_rerun(const std::function<void(e2e::launcher_process &)> &stop,
                                     int status) {
    std::string manifest_before;
    ASSERT_NO_FATAL_FAILURE(install_v1_then_publish_v2(manifest_before));
    {
      update_server slow(server_root(), 4000);
      ASSERT_TRUE(slow.listening()) << slow.errors();
      std::unique_ptr<e2e::launcher_process> launcher = start();
      ASSERT_TRUE(download_under_way()) << log_text();
      ASSERT_NO_FATAL_FAILURE(stop(*launcher));
      EXPECT_EQ(launcher->wait(10), status) << launcher->standard_error();
    }
    EXPECT_EQ(recorded(), "");
    EXPECT_TRUE(lock_is_free());
    EXPECT_LT(file_size(temp_path()), 30000);
    EXPECT_FALSE(path_exists(exe_dir() + "/client_v2"));
    EXPECT_EQ(read_file(manifest_path()), manifest_before);
    expect_consistent();

    ASSERT_NO_FATAL_FAILURE(run_to_boot("client_v2"));
    expect_consistent();
    EXPECT_EQ(manifest().size(), 2u);
  }

  // True when no process holds the updater lock.
  bool lock_is_free() const {
    const int fd = open((exe_dir() + "/lock.tmp").c_str(), O_RDWR);
    if (fd < 0) return true;
    const bool free = lockf(fd, F_TEST, 0) == 0;
    close(fd);
    return free;
  }

  // The manifest's entries: name -> (digest, size).
  std::map<std::string, std::pair<std::string, long long>> manifest(
      const std::string &directory) const {
    std::map<std::string, std::pair<std::string, long long>> entries;
    const std::string path = directory + "/update_manifest.lst";
    if (!path_exists(path)) return entries;
    std::istringstream in(read_file(path));
    for (std::string line; std::getline(in, line);) {
      if (line.empty() || line[0] == '#') continue;
      std::istringstream fields(line);
      std::string digest, name;
      long long size = -1;
      fields >> digest >> size >> name;
      entries[name] = {digest, size};
    }
    return entries;
  }

  std::map<std::string, std::pair<std::string, long long>> manifest() const {
    return manifest(exe_dir());
  }

  // Every manifest entry names a whole published build with its digest and
  // size, and every other file under a final name is a whole published build.
  void expect_consistent(const std::string &directory) const {
    for (const auto &[name, entry] : manifest(directory)) {
      SCOPED_TRACE("manifest entry " + name);
      const std::string path = directory + "/" + name;
      ASSERT_TRUE(path_exists(path));
      ASSERT_TRUE(published_.count(name));
      EXPECT_EQ(entry.second, static_cast<long long>(published_.at(name).size()));
      EXPECT_EQ(file_size(path), entry.second);
      EXPECT_EQ(sha256_of(path), entry.first);
      EXPECT_EQ(digests_.at(name), entry.first);
    }
    DIR *dir = opendir(directory.c_str());
    ASSERT_NE(dir, nullptr);
    while (dirent *e = readdir(dir)) {
      const std::string name = e->d_name;
      // The lock, the download area and the manifest's own temporary file
      // are not final names.
      if (name == "." || name == ".." || name == "lock.tmp" || name == "download.tmp" ||
          name == "update_manifest.lst" || name.rfind("update_manifest.lst.", 0) == 0)
        continue;
      SCOPED_TRACE("installed file " + name);
      EXPECT_TRUE(published_.count(name));
      if (published_.count(name)) {
        EXPECT_EQ(read_file(directory + "/" + name), published_.at(name));
      }
    }
    closedir(dir);
  }
  void expect_consistent() const { expect_consistent(exe_dir()); }

  // Every build ever published, with its digest as the list gave it.
  std::map<std::string, std::string> published_;
  std::map<std::string, std::string> digests_;
};

// Killed outright while the new build is half downloaded.
TEST_F(FaultInjectionTest, AKilledDownloadLeavesTheOldBuildAndIsRedoneNextRun) {
  interrupt_download_then_rerun(
      [](e2e::launcher_process &launcher) { kill(launcher.pid(), SIGKILL); }, 128 + SIGKILL);
}

// Q in the middle of a download quits at once, like a kill the player asked for.
TEST_F(FaultInjectionTest, QuittingMidDownloadLeavesTheOldBuildAndIsRedoneNextRun) {
  interrupt_download_then_rerun(
      [this](e2e::launcher_process &) {
        ASSERT_TRUE(e2e::eventually(10, [&] { return !window().empty(); }));
        press("q");
      },
      0);
}

// The server gone in the middle of the body: the run reports the failed
// download and the launcher starts the build it already had.
TEST_F(FaultInjectionTest, AServerThatVanishesMidDownloadLeavesTheOldBuildToBoot) {
  std::string manifest_before;
  ASSERT_NO_FATAL_FAILURE(install_v1_then_publish_v2(manifest_before));
  update_server slow(server_root(), 4000);
  ASSERT_TRUE(slow.listening()) << slow.errors();
  std::unique_ptr<e2e::launcher_process> launcher = start();
  ASSERT_TRUE(download_under_way()) << log_text();
  slow.vanish();
  ASSERT_TRUE(boots("client_v1")) << launcher->standard_error();
  EXPECT_NE(log_text().find("Unable to update file 'client_v2' - download failed."),
            std::string::npos)
      << log_text();
  EXPECT_FALSE(path_exists(exe_dir() + "/client_v2"));
  EXPECT_EQ(read_file(manifest_path()), manifest_before);
  expect_consistent();
}

// A list that is not one: the run stops before it touches anything, and the
// installed build starts.
TEST_F(FaultInjectionTest, ABrokenListAbortsTheUpdateAndTheInstalledBuildBoots) {
  ASSERT_NO_FATAL_FAILURE(publish("client_v1", image("client_v1")));
  ASSERT_NO_FATAL_FAILURE(run_to_boot("client_v1"));
  const std::string manifest_before = read_file(manifest_path());
  ASSERT_NO_FATAL_FAILURE(publish("client_v2", image("client_v2")));
  const std::string list = read_file(published_dir() + "/" + list_name);

  struct Case {
    const char *what;
    std::string content;
  };
  const Case cases[] = {
      {"plain text", "b0a1 12 client_v9\nthis is not gzip at all\n"},
      {"a gzip stream cut in half", list.substr(0, list.size() / 2)},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    write_file(published_dir() + "/" + list_name, c.content);
    unlink(log_path().c_str());
    update_server server(server_root(), 0);
    ASSERT_TRUE(server.listening()) << server.errors();
    std::unique_ptr<e2e::launcher_process> launcher = start();
    ASSERT_TRUE(boots("client_v1")) << launcher->standard_error();
    EXPECT_NE(log_text().find("Error fetching update file '" + list_name +
                              "' from remote server, aborting update."),
              std::string::npos)
        << log_text();
    EXPECT_EQ(server.count(list_request), 1) << server.requests();
    EXPECT_EQ(server.count("client_v2"), 0) << server.requests();
    EXPECT_EQ(read_file(manifest_path()), manifest_before);
    expect_consistent();
  }
}

// A newer build appears and is installed and started; once it is withdrawn
// from the list the launcher keeps it, and still starts it as the newest.
TEST_F(FaultInjectionTest, ANewerBuildIsTakenAndKeptAfterItIsWithdrawn) {
  ASSERT_NO_FATAL_FAILURE(publish("client_v1", image("client_v1")));
  ASSERT_NO_FATAL_FAILURE(run_to_boot("client_v1"));
  ASSERT_NO_FATAL_FAILURE(publish("client_v2", image("client_v2")));
  ASSERT_NO_FATAL_FAILURE(run_to_boot("client_v2"));
  expect_consistent();
  const std::string manifest_before = read_file(manifest_path());
  EXPECT_EQ(manifest().size(), 2u);

  withdraw("client_v2");
  unlink(log_path().c_str());
  ASSERT_NO_FATAL_FAILURE(run_to_boot("client_v2"));
  EXPECT_NE(log_text().find("Everything appears to be up to date already."), std::string::npos)
      << log_text();
  EXPECT_EQ(read_file(manifest_path()), manifest_before);
  expect_consistent();
}

// Garbage in the launcher's own files: it says so, fetches what it must and
// starts the build.
TEST_F(FaultInjectionTest, GarbageInTheManifestOrTheSettingsStillEndsInABoot) {
  ASSERT_NO_FATAL_FAILURE(publish("client_v1", image("client_v1")));
  ASSERT_NO_FATAL_FAILURE(run_to_boot("client_v1"));
  const std::string garbage("\x89\x01\xff\xfe garbage \x00\x7f\n\x1b[0m\xc3(\n", 20);

  struct Case {
    std::string file;
    std::string report;
    int refetches;  // how often the run fetches client_v1 again
  };
  const Case cases[] = {
      {manifest_path(),
       "Unable to load local manifest file '" + manifest_path() + "', creating new.", 1},
      {config_dir() + "/launcher.cfg", "Warning in load_system_config_file() - bad XML header", 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.file);
    write_file(c.file, garbage);
    unlink(log_path().c_str());
    update_server server(server_root(), 0);
    ASSERT_TRUE(server.listening()) << server.errors();
    std::unique_ptr<e2e::launcher_process> launcher = start();
    ASSERT_TRUE(boots("client_v1")) << launcher->standard_error();
    EXPECT_EQ(launcher->wait(10), 0);
    EXPECT_NE(log_text().find(c.report), std::string::npos) << log_text();
    EXPECT_EQ(server.count("\"GET /downloads/torvane_v3/client_v1 HTTP/1.1\" 200"), c.refetches)
        << server.requests();
    expect_consistent();
    EXPECT_EQ(manifest().size(), 1u);
  }
}

// Two launchers started together while a new build downloads slowly, round
// after round: one of them updates and starts the build, the other gives up
// with its message and status 0, and the manifest stays whole.
TEST_F(FaultInjectionTest, OfTwoLaunchersStartedTogetherExactlyOneUpdates) {
  constexpr int rounds = 4;
  update_server server(server_root(), 5000);
  ASSERT_TRUE(server.listening()) << server.errors();
  for (int round = 1; round <= rounds; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    const std::string name = "client_v" + std::to_string(round);
    // Downloads for about five seconds: past the loser's three seconds of
    // trying for the lock.
    publish(name, image(name, 25000));
    unlink(log_path().c_str());
    unlink(record_path().c_str());
    std::unique_ptr<e2e::launcher_process> first = start();
    std::unique_ptr<e2e::launcher_process> second = start();
    ASSERT_TRUE(boots(name)) << first->standard_error() << second->standard_error();
    const int first_status = first->wait(10);
    const int second_status = second->wait(10);
    EXPECT_EQ(first_status, 0);
    EXPECT_EQ(second_status, 0);
    EXPECT_EQ(server.count(list_request), round) << server.requests();
    EXPECT_EQ(server.count("\"GET /downloads/torvane_v3/" + name + " HTTP/1.1\" 200"), 1)
        << server.requests();
    const std::string log = log_text();
    EXPECT_EQ(occurrences(log, "Sorry, it looks like"), 1) << log;
    // The winner's progress lines may come in between the loser's lines.
    std::string without_progress;
    std::istringstream in(log);
    for (std::string line; std::getline(in, line);)
      if (line.find("% complete.") == std::string::npos) without_progress += line + "\n";
    EXPECT_NE(without_progress.find(give_up_lines), std::string::npos) << log;
    EXPECT_TRUE(lock_is_free());
    expect_consistent();
    EXPECT_EQ(manifest().size(), static_cast<std::size_t>(round));
  }
}

// An executables directory that its user cannot write: the run gives up before
// it fetches anything and the installed build starts; once the directory is
// writable again the next run installs the new build. The launcher runs as
// uid/gid 65534 (through setpriv) in a HOME of that user's own.
TEST_F(FaultInjectionTest, AnUnwritableExecutablesDirectoryLeavesTheInstalledBuildToBoot) {
  if (getuid() != 0) GTEST_SKIP() << "running the launcher as another user needs root";
  ASSERT_NO_FATAL_FAILURE(publish("client_v1", image("client_v1")));
  ASSERT_NO_FATAL_FAILURE(run_to_boot("client_v1"));
  ASSERT_NO_FATAL_FAILURE(publish("client_v2", image("client_v2")));

  const std::string user_home = home_ / "user";
  const std::string user_config = user_home + "/.Virelan";
  const std::string user_exe = user_config + "/executables";
  const std::string user_record = user_home + "/record.txt";
  ASSERT_EQ(chmod(home_.path().c_str(), 0711), 0);
  ASSERT_EQ(std::system(("mkdir '" + user_home + "' && cp -a '" + config_dir() + "' '" +
                         user_config + "' && chown -R 65534:65534 '" + user_home + "'")
                            .c_str()),
            0);
  auto run_as_user = [&](const std::string &expected) {
    unlink(user_record.c_str());
    testing_support::temp_dir output;
    std::vector<std::string> environment = {
        "PATH=/usr/bin:/bin",         "LC_ALL=C.UTF-8",    "NO_AT_BRIDGE=1",
        "GDK_BACKEND=x11",            "DISPLAY=" + display_name(), "HOME=" + user_home,
        "VIRELAN_DEMO_RECORD=" + user_record};
    // The user writes its sanitizer reports (if any) into its own home.
    for (std::string &entry : e2e::sanitizer_environment(user_home))
      environment.push_back(std::move(entry));
    e2e::child_process run;
    run.start(e2e::spawn_program(
        {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
         e2e::launcher_path(), "-u"},
        environment, output / "stdout", output / "stderr", user_home));
    const bool started = e2e::eventually(20, [&] {
      return path_exists(user_record) &&
             read_file(user_record) == user_exe + "/" + expected + "\n-l\n1.096-gtk-rc5\n";
    });
    EXPECT_TRUE(started) << read_file(output / "stderr") << "\nlog:\n"
                         << read_file(user_config + "/torvane_launcher_log.txt");
    EXPECT_EQ(run.wait(10), 0);
    EXPECT_EQ(e2e::sanitizer_reports(user_home), "");
  };

  ASSERT_EQ(chmod(user_exe.c_str(), 0500), 0);
  {
    update_server server(server_root(), 0);
    ASSERT_TRUE(server.listening()) << server.errors();
    run_as_user("client_v1");
    EXPECT_EQ(server.count("client_v2"), 0) << server.requests();
  }
  EXPECT_NE(
      read_file(user_config + "/torvane_launcher_log.txt")
          .find("Unable to set download target directory, to '" + user_exe + "', aborting update."),
      std::string::npos)
      << read_file(user_config + "/torvane_launcher_log.txt");
  EXPECT_FALSE(path_exists(user_exe + "/client_v2"));
  expect_consistent(user_exe);

  ASSERT_EQ(chmod(user_exe.c_str(), 0700), 0);
  {
    update_server server(server_root(), 0);
    ASSERT_TRUE(server.listening()) << server.errors();
    run_as_user("client_v2");
  }
  expect_consistent(user_exe);
  EXPECT_EQ(manifest(user_exe).size(), 2u);
}

// The disk full in the middle of a download: a tiny file system of its own over
// the configuration directory, in a private mount namespace. The run cannot
// finish the new build and starts the installed one; what the file system
// holds afterwards (copied out before the namespace goes) is still consistent.
TEST_F(FaultInjectionTest, AFullDiskLeavesTheInstalledBuildToBoot) {
  if (getuid() != 0) GTEST_SKIP() << "mounting a small file system needs root";
  if (std::system("unshare -m true >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "no private mount namespace here (unshare -m failed)";
  ASSERT_NO_FATAL_FAILURE(publish("client_v1", image("client_v1")));
  ASSERT_NO_FATAL_FAILURE(run_to_boot("client_v1"));
  ASSERT_NO_FATAL_FAILURE(publish("client_v2", image("client_v2", 400000)));

  const std::string saved = home_ / "saved";
  const std::string after = home_ / "after";
  ASSERT_EQ(mkdir(after.c_str(), 0700), 0);
  const std::string script =
      "mkdir \"$SAVED\" && cp -a \"$CFG/.\" \"$SAVED/\" &&"
      " mount -t tmpfs -o size=128k,mode=0700 tmpfs \"$CFG\" &&"
      " cp -a \"$SAVED/.\" \"$CFG/\" || exit 99\n"
      "\"$LAUNCHER\" -u\n"
      "status=$?\n"
      "cp -a \"$CFG/.\" \"$AFTER/\"\n"
      "exit $status\n";
  std::vector<std::string> environment = {"PATH=/usr/bin:/bin:/usr/sbin:/sbin",
                                                "LC_ALL=C.UTF-8",
                                                "NO_AT_BRIDGE=1",
                                                "GDK_BACKEND=x11",
                                                "DISPLAY=" + display_name(),
                                                "HOME=" + home_.path(),
                                                "VIRELAN_DEMO_RECORD=" + record_path(),
                                                "CFG=" + config_dir(),
                                                "SAVED=" + saved,
                                                "AFTER=" + after,
                                                "LAUNCHER=" + e2e::launcher_path()};
  {
    update_server server(server_root(), 0);
    ASSERT_TRUE(server.listening()) << server.errors();
    unlink(record_path().c_str());
    testing_support::temp_dir output;
    for (std::string &entry : e2e::sanitizer_environment(output.path()))
      environment.push_back(std::move(entry));
    e2e::child_process run;
    run.start(e2e::spawn_program(
        {"/usr/bin/unshare", "-m", "--propagation", "private", "/bin/sh", "-c", script},
        environment, output / "stdout", output / "stderr", home_.path()));
    ASSERT_EQ(run.wait(30), 0) << read_file(output / "stderr");
    EXPECT_TRUE(boots("client_v1")) << read_file(output / "stderr");
    EXPECT_EQ(e2e::sanitizer_reports(output.path()), "");
    // The run did ask for the new build.
    EXPECT_EQ(server.count("\"GET /downloads/torvane_v3/client_v2 HTTP/1.1\" 200"), 1)
        << server.requests();
    EXPECT_FALSE(path_exists(after + "/executables/client_v2"));
    EXPECT_EQ(manifest(after + "/executables").size(), 1u);
    expect_consistent(after + "/executables");
  }
  // Outside the namespace nothing changed: the next run installs the build.
  expect_consistent();
  ASSERT_NO_FATAL_FAILURE(run_to_boot("client_v2"));
  expect_consistent();
}

}  // namespace
