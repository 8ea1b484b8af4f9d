#include "common/test_support.h"

#include <ftw.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include "support/debug_log.h"

namespace testing_support {

namespace {

int make_removable(const char *path, const struct stat *, int type, struct FTW *) {
  if (type == FTW_D || type == FTW_DNR) chmod(path, 0700);
  return 0;
}

int remove_entry(const char *path, const struct stat *, int, struct FTW *) {
  std::remove(path);
  return 0;
}

}  // namespace

temp_dir::temp_dir() {
  const char *base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/virelan-test-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) {
    std::perror("mkdtemp");
    std::abort();
  }
  path_ = pattern;
}

temp_dir::~temp_dir() {
  nftw(path_.c_str(), make_removable, 16, FTW_PHYS);
  nftw(path_.c_str(), remove_entry, 16, FTW_DEPTH | FTW_PHYS);
}

log_capture::log_capture(int level)
    : path_(dir_ / "log.txt"),
      saved_level_(debug_level.load()),
      saved_mask_(debug_category_mask.load()),
      saved_enabled_(debug_messages_enabled.load()) {
  if (vorn_client_debug_logfile_is_open()) vorn_client_debug_logfile_close();
  vorn_client_set_debug_logfile_name(path_.c_str());
  // Open it now, quietly, so that the open's own report never lands in a test's
  // expectations.
  debug_level = 0;
  vorn_client_try_open_debug_logfile();
  debug_level = level;
  debug_category_mask = 0;
  debug_messages_enabled = 1;
}

log_capture::~log_capture() {
  if (vorn_client_debug_logfile_is_open()) vorn_client_debug_logfile_close();
  vorn_client_set_debug_logfile_name(nullptr);
  debug_level = saved_level_;
  debug_category_mask = saved_mask_;
  debug_messages_enabled = saved_enabled_;
}

std::string log_capture::text() const { return path_exists(path_) ? read_file(path_) : ""; }

std::string read_file(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void write_file(const std::string &path, const std::string &content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
  if (!out.good()) {
    std::fprintf(stderr, "cannot write %s\n", path.c_str());
    std::abort();
  }
}

bool path_exists(const std::string &path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

int file_mode(const std::string &path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return -1;
  return static_cast<int>(st.st_mode & 07777);
}

bool eventually(double seconds, const std::function<bool()> &condition) {
  const auto deadline = std::chrono::steady_clock::now() +
                        std::chrono::milliseconds(static_cast<int>(seconds * 1000));
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

int run_in_child(const std::function<int()> &body) {
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    const int status = body();
    std::fflush(nullptr);
    _exit(status);
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

}  // namespace testing_support
