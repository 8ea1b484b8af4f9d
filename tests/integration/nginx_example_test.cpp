// The game admin's example nginx configuration (packaging/nginx-virelan-updates.conf)
// run for real: its server block, with only the listen lines and the root
// replaced, serves a directory published with virelan-make-list to the
// launcher's update run and to curl.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "common/test_support.h"
#include "integration/loopback_peers.h"
#include "updater/executable_updater.h"

namespace {

using loopback_peers::child_process;
using loopback_peers::find_program;
using loopback_peers::make_directories;
using loopback_peers::program_result;
using loopback_peers::run_program;
using testing_support::log_capture;
using testing_support::path_exists;
using testing_support::read_file;
using testing_support::temp_dir;
using testing_support::write_file;

const char example_path[] = VIRELAN_SOURCE_DIR "/packaging/nginx-virelan-updates.conf";
const char root_path[] = "/downloads/torvane_v3";
const char list_name[] = "manifest_linux32_executables.txt.gz";

// Replaces the one occurrence of `from` in `text`; false when there is none
// or more than one.
bool replace_once(std::string *text, const std::string &from, const std::string &to) {
  const size_t at = text->find(from);
  if (at == std::string::npos || text->find(from, at + 1) != std::string::npos) return false;
  text->replace(at, from.size(), to);
  return true;
}

// nginx running the example's server block on 127.0.0.1:port(), serving
// root() (the example's /srv/www).
class example_nginx {
 public:
  bool start(std::string *why) {
    const std::string program = find_program({"/usr/sbin/nginx", "/usr/bin/nginx"});
    if (program.empty()) {
      *why = "nginx is not installed (Debian package nginx-light or nginx)";
      return false;
    }
    const std::string example = read_file(example_path);
    // Run as root, the worker drops to nobody: the tree it serves must be
    // open to others.
    chmod(dir_.path().c_str(), 0755);
    make_directories(root());
    for (int attempt = 0; attempt < 3; ++attempt) {
      port_ = loopback_peers::free_loopback_port();
      std::string server = example;
      // The example must keep these lines as they are: an admin edits
      // exactly these, and the test stands in for that edit.
      if (!replace_once(&server, "    listen 80;\n",
                        "    listen 127.0.0.1:" + std::to_string(port_) + ";\n") ||
          !replace_once(&server, "    listen [::]:80;\n", "") ||
          !replace_once(&server, "    root /srv/www;\n", "    root " + root() + ";\n")) {
        *why =
            "the example no longer has the lines \"listen 80;\", \"listen [::]:80;\" and "
            "\"root /srv/www;\" this test replaces";
        return false;
      }
      write_config(server);
      if (!process_.start({program, "-p", dir_.path(), "-e", dir_ / "error.log", "-c",
                           dir_ / "nginx.conf", "-g", "daemon off;"},
                          "", dir_ / "stderr.log")) {
        *why = "cannot start " + program;
        return false;
      }
      if (testing_support::eventually(
              5, [&] { return !process_.running() || loopback_peers::port_accepts(port_); }) &&
          process_.running())
        return true;
      process_.stop();
    }
    *why = "nginx did not start with the example: " + read_file(dir_ / "error.log") +
           read_file(dir_ / "stderr.log");
    return false;
  }

  std::string root() const { return dir_ / "www"; }
  int port() const { return port_; }

 private:
  // The main context the example's server block lives in, with every file
  // nginx writes kept in the test's directory.
  void write_config(const std::string &server) {
    const std::string d = dir_.path();
    std::string config = "pid " + d + "/nginx.pid;\nerror_log " + d +
                         "/error.log;\nworker_processes 1;\n"
                         "events { worker_connections 64; }\nhttp {\n  access_log " +
                         d + "/access.log;\n";
    for (const char *temp : {"client_body", "proxy", "fastcgi", "uwsgi", "scgi"})
      config += std::string("  ") + temp + "_temp_path " + d + "/" + temp + ";\n";
    write_file(d + "/nginx.conf", config + server + "}\n");
  }

  temp_dir dir_;
  child_process process_;
  int port_ = -1;
};

std::string repeated(const std::string &piece, size_t times) {
  std::string text;
  for (size_t i = 0; i < times; ++i) text += piece;
  return text;
}

std::string lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

int no_beta() { return 0; }
int not_verbose() { return 0; }
void record_progress(void *window, double percent) {
  static_cast<std::vector<double> *>(window)->push_back(percent);
}

// The example serving a directory of two plain builds, published with
// virelan-make-list as an admin would.
class NginxExampleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    if (!nginx_.start(&why)) GTEST_SKIP() << why;
    const std::string published = nginx_.root() + root_path;
    ASSERT_TRUE(make_directories(published));
    for (const auto &build :
         {std::make_pair("client_v0005", old_build_), std::make_pair("client_v0006", new_build_)}) {
      write_file(published + "/" + build.first, build.second);
      chmod((published + "/" + build.first).c_str(), 0644);
    }
    const program_result r =
        run_program({std::string(VIRELAN_BIN_DIR) + "/virelan-make-list", published});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
  }

  example_nginx nginx_;
  const std::string old_build_ = repeated("client build 5\n", 1000);
  // Large enough to arrive in many pieces through sendfile.
  const std::string new_build_ = repeated("client build 6, a longer one\n", 100000);
};

TEST_F(NginxExampleTest, LauncherInstallsTheNewestBuildAndIsUpToDateOnTheNextRun) {
  const executable_updater_hooks saved = updater_hooks;
  updater_hooks.set_progress = record_progress;
  updater_hooks.beta_mode = no_beta;
  updater_hooks.verbose_mode = not_verbose;
  updater_hooks.port = nginx_.port();
  temp_dir config;
  const std::string executables = config / "executables";
  const std::string manifest = executables + "/update_manifest.lst";
  auto run = [&](std::vector<double> *progress) {
    return run_executable_updater(progress, "127.0.0.1", root_path, list_name, manifest.c_str(),
                                  executables.c_str(), (executables + "/download.tmp").c_str());
  };
  std::vector<double> first_progress, second_progress;
  log_capture log;

  EXPECT_EQ(run(&first_progress), 1);
  const std::string first_log = log.text();
  EXPECT_EQ(run(&second_progress), 1);

  updater_hooks = saved;
  EXPECT_NE(first_log.find("One file to update.\n"), std::string::npos) << first_log;
  EXPECT_TRUE(read_file(executables + "/client_v0006") == new_build_);
  EXPECT_FALSE(path_exists(executables + "/client_v0005"));
  ASSERT_FALSE(first_progress.empty());
  EXPECT_DOUBLE_EQ(first_progress.back(), 100.0);
  const std::string second_log = log.text().substr(first_log.size());
  EXPECT_NE(second_log.find("Everything appears to be up to date already.\n"), std::string::npos)
      << second_log;
  EXPECT_TRUE(second_progress.empty());
}

// The headers a cache or CDN in front of the server goes by, and what is
// never served, as curl sees them (asking for gzip, as a browser would).
TEST_F(NginxExampleTest, ListIsRevalidatedBuildsMayBeCachedAndHiddenFilesAreNotServed) {
  const std::string curl = find_program({"/usr/bin/curl", "/usr/local/bin/curl"});
  if (curl.empty()) GTEST_SKIP() << "curl is not installed";
  const std::string published = nginx_.root() + root_path;
  // What an interrupted virelan-make-list would leave behind.
  write_file(published + "/.virelan-make-list.tmp", "half a list");
  chmod((published + "/.virelan-make-list.tmp").c_str(), 0644);
  const struct {
    std::string path;
    std::string status;
    std::vector<std::string> present;  // header lines, in lower case
    std::vector<std::string> absent;   // header names, in lower case
  } cases[] = {
      {std::string(root_path) + "/" + list_name,
       "200",
       {"content-type: application/octet-stream", "cache-control: no-cache"},
       {"content-encoding:", "max-age"}},
      {std::string(root_path) + "/client_v0006",
       "200",
       {"content-type: application/octet-stream", "cache-control: public, max-age=86400",
        "content-length: " + std::to_string(new_build_.size())},
       {"content-encoding:"}},
      // A build listed before it was uploaded: the miss is not kept.
      {std::string(root_path) + "/client_v0007", "404", {}, {"cache-control:"}},
      {std::string(root_path) + "/.virelan-make-list.tmp", "404", {}, {}},
      // No listing of what is published.
      {std::string(root_path) + "/", "403", {}, {}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.path);
    const program_result r = run_program(
        {curl, "-sS", "-o", "/dev/null", "-D", "-", "-H", "Accept-Encoding: gzip, deflate",
         "http://127.0.0.1:" + std::to_string(nginx_.port()) + c.path});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string headers = lower(r.out);

    EXPECT_EQ(headers.substr(0, 13), "http/1.1 " + c.status + " ") << r.out;
    for (const std::string &line : c.present)
      EXPECT_NE(headers.find("\r\n" + line + "\r\n"), std::string::npos) << line << "\n" << r.out;
    for (const std::string &name : c.absent)
      EXPECT_EQ(headers.find(name), std::string::npos) << name << "\n" << r.out;
  }
}

}  // namespace
