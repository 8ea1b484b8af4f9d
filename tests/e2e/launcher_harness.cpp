#include "e2e/launcher_harness.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

extern char **environ;

namespace e2e {

namespace {

std::vector<char *> c_strings(std::vector<std::string> &texts) {
  std::vector<char *> out;
  for (std::string &t : texts) out.push_back(t.data());
  out.push_back(nullptr);
  return out;
}

}  // namespace

std::string launcher_path() { return VIRELAN_LAUNCHER_PATH; }

namespace {

// Starts one Xvfb on a display it picks itself; the number, or "" on failure.
std::string start_xvfb(pid_t *pid) {
  int fds[2];
  if (pipe(fds) != 0) return "";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], 3);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  std::vector<std::string> args = {"Xvfb", "-displayfd",   "3",         "-screen",
                                   "0",    "1280x1024x24", "-nolisten", "tcp"};
  std::vector<char *> argv = c_strings(args);
  const int rc = posix_spawnp(pid, "Xvfb", &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(fds[1]);
  std::string number;
  if (rc == 0) {
    // Xvfb writes the display number once it listens.
    char c;
    while (read(fds[0], &c, 1) == 1 && c != '\n') number += c;
  } else {
    *pid = -1;
  }
  close(fds[0]);
  return number;
}

// True once a client can talk to the display.
bool display_answers(const std::string &name) {
  const std::string command = "xdpyinfo -display " + name + " >/dev/null 2>&1";
  return eventually(5, [&] { return std::system(command.c_str()) == 0; });
}

}  // namespace

xvfb_display::xvfb_display() {
  // A server that lost a race for its display number or cannot be reached is
  // replaced rather than handed to a test.
  for (int attempt = 0; attempt < 3 && name_.empty(); ++attempt) {
    const std::string number = start_xvfb(&pid_);
    if (!number.empty() && display_answers(":" + number)) {
      name_ = ":" + number;
    } else if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
      pid_ = -1;
    }
  }
}

xvfb_display::~xvfb_display() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
}

launcher_process::launcher_process(const launch_options &options) {
  std::vector<std::string> args = {launcher_path()};
  args.insert(args.end(), options.args.begin(), options.args.end());
  std::vector<std::string> env = {"PATH=/usr/bin:/bin", "LC_ALL=C.UTF-8", "NO_AT_BRIDGE=1",
                                  "GDK_BACKEND=x11"};
  if (!options.display.empty()) env.push_back("DISPLAY=" + options.display);
  if (!options.home.empty()) env.push_back("HOME=" + options.home);
  std::vector<char *> argv = c_strings(args);
  std::vector<char *> envp = c_strings(env);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  const std::string out = output_dir_ / "stdout";
  const std::string err = output_dir_ / "stderr";
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (!options.working_directory.empty()) {
    posix_spawn_file_actions_addchdir_np(&actions, options.working_directory.c_str());
  }
  if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) pid_ = -1;
  posix_spawn_file_actions_destroy(&actions);
}

launcher_process::~launcher_process() {
  if (running()) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
}

bool launcher_process::running() {
  if (pid_ <= 0) return false;
  int status = 0;
  const pid_t r = waitpid(pid_, &status, WNOHANG);
  if (r == 0) return true;
  if (r == pid_) status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  pid_ = -1;
  return false;
}

int launcher_process::wait(double seconds) {
  if (!eventually(seconds, [this] { return !running(); })) return -1;
  return status_;
}

void launcher_process::terminate() {
  if (running()) kill(pid_, SIGTERM);
}

std::string launcher_process::standard_output() const {
  return testing_support::read_file(output_dir_ / "stdout");
}

std::string launcher_process::standard_error() const {
  return testing_support::read_file(output_dir_ / "stderr");
}

}  // namespace e2e
