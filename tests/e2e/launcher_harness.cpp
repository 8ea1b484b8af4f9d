#include "e2e/launcher_harness.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
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

std::vector<std::string> sanitizer_environment(const std::string &report_dir) {
  std::vector<std::string> env;
  for (const char *name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS", "TSAN_OPTIONS"}) {
    const char *value = std::getenv(name);
    if (value == nullptr) continue;
    std::string entry = std::string(name) + "=" + value;
    if (*value != '\0') entry += ":";
    env.push_back(entry + "log_path=" + report_dir + "/sanitizer");
  }
  return env;
}

std::string sanitizer_reports(const std::string &report_dir) {
  std::string reports;
  if (DIR *dir = opendir(report_dir.c_str())) {
    while (const dirent *entry = readdir(dir)) {
      if (std::strncmp(entry->d_name, "sanitizer.", 10) != 0) continue;
      reports += testing_support::read_file(report_dir + "/" + entry->d_name);
    }
    closedir(dir);
  }
  return reports;
}

std::string launcher_path() { return VIRELAN_LAUNCHER_PATH; }

std::string output_of(const std::string &command) {
  std::string out;
  if (std::FILE *p = popen(command.c_str(), "r")) {
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, p)) > 0) out.append(buffer, n);
    pclose(p);
  }
  return out;
}

xvfb_display *launcher_test::display_ = nullptr;

void launcher_test::SetUpTestSuite() { display_ = new xvfb_display; }

void launcher_test::TearDownTestSuite() {
  delete display_;
  display_ = nullptr;
}

void launcher_test::SetUp() {
  if (display_->name().empty()) GTEST_SKIP() << "Xvfb could not be started";
}

launch_options launcher_test::options(std::vector<std::string> args) const {
  launch_options o;
  o.args = std::move(args);
  o.display = display_->name();
  o.home = home_.path();
  o.working_directory = home_.path();
  return o;
}

const std::string &launcher_test::display_name() const { return display_->name(); }

std::string launcher_test::window() const {
  const std::string id = output_of("DISPLAY=" + display_name() +
                                   " xdotool search --onlyvisible --name '^Virelan Launcher$'"
                                   " 2>/dev/null");
  return id.substr(0, id.find('\n'));
}

void launcher_test::press(const std::string &key) const {
  output_of("DISPLAY=" + display_name() + " xdotool windowfocus --sync " + window() + " key " +
            key + " 2>/dev/null");
}

namespace {

// Starts Xvfb on display `number`; its pid, or -1.
pid_t start_xvfb(int number) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  std::vector<std::string> args = {
      "Xvfb",    ":" + std::to_string(number), "-screen", "0", "1280x1024x24", "-nolisten", "tcp",
      "-noreset"};
  std::vector<char *> argv = c_strings(args);
  pid_t pid = -1;
  if (posix_spawnp(&pid, "Xvfb", &actions, nullptr, argv.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

bool alive(pid_t pid) { return waitpid(pid, nullptr, WNOHANG) == 0; }

}  // namespace

xvfb_display::xvfb_display() {
  // -noreset: by default the server resets when its last client leaves and
  // refuses connections meanwhile, which a launcher started right after a
  // probe would run into.
  // Test programs start their servers side by side, so each picks its own
  // display number from its process id, and a server only counts once it is
  // still running after a client has talked to it: one that lost its number to
  // another server exits, and the next number is tried.
  const int first = 100 + static_cast<int>(getpid() % 5000) * 3;
  for (int number = first; number < first + 15 && name_.empty(); ++number) {
    pid_ = start_xvfb(number);
    if (pid_ < 0) return;
    const std::string name = ":" + std::to_string(number);
    const std::string probe = "xdpyinfo -display " + name + " >/dev/null 2>&1";
    const bool answers =
        eventually(10, [&] { return !alive(pid_) || std::system(probe.c_str()) == 0; });
    if (answers && alive(pid_)) {
      name_ = name;
    } else {
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

pid_t spawn_program(const std::vector<std::string> &args,
                    const std::vector<std::string> &environment, const std::string &out,
                    const std::string &err, const std::string &directory) {
  std::vector<std::string> arg_texts(args);
  std::vector<std::string> env_texts(environment);
  std::vector<char *> argv = c_strings(arg_texts);
  std::vector<char *> envp = c_strings(env_texts);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (!directory.empty()) posix_spawn_file_actions_addchdir_np(&actions, directory.c_str());
  pid_t pid = -1;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

bool child_process::running() {
  if (pid_ <= 0) return false;
  int status = 0;
  const pid_t r = waitpid(pid_, &status, WNOHANG);
  if (r == 0) return true;
  if (r == pid_) status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  pid_ = -1;
  return false;
}

int child_process::wait(double seconds) {
  if (!eventually(seconds, [this] { return !running(); })) return -1;
  return status_;
}

void child_process::stop(int signal) {
  if (!running()) return;
  kill(pid_, signal);
  int status = 0;
  if (waitpid(pid_, &status, 0) == pid_)
    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  pid_ = -1;
}

launcher_process::launcher_process(const launch_options &options) {
  std::vector<std::string> args = {launcher_path()};
  args.insert(args.end(), options.args.begin(), options.args.end());
  std::vector<std::string> env = {"PATH=/usr/bin:/bin", "LC_ALL=C.UTF-8", "NO_AT_BRIDGE=1",
                                  "GDK_BACKEND=x11"};
  if (!options.display.empty()) env.push_back("DISPLAY=" + options.display);
  if (!options.home.empty()) env.push_back("HOME=" + options.home);
  env.insert(env.end(), options.environment.begin(), options.environment.end());
  for (std::string &entry : sanitizer_environment(output_dir_.path()))
    env.push_back(std::move(entry));
  process_.start(spawn_program(args, env, output_dir_ / "stdout", output_dir_ / "stderr",
                               options.working_directory));
}

launcher_process::~launcher_process() {
  process_.stop(SIGKILL);
  const std::string reports = sanitizer_reports(output_dir_.path());
  EXPECT_EQ(reports, "") << "the launcher or its client reported the above";
}

void launcher_process::terminate() {
  if (running()) kill(process_.pid(), SIGTERM);
}

std::string launcher_process::standard_output() const {
  return testing_support::read_file(output_dir_ / "stdout");
}

std::string launcher_process::standard_error() const {
  return testing_support::read_file(output_dir_ / "stderr");
}

}  // namespace e2e
