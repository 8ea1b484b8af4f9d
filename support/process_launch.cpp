#include "support/process_launch.h"

#include <errno.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "support/bounded_text.h"
#include "support/debug_log.h"

namespace {

constexpr int module_helpers = 1;
constexpr int category_error = 2;
constexpr int category_verbose = 256;

// "Error in <function>(), <what> failed.  Return code R, error code E. Filename: <path>"
void report_failure(const char *function, const char *what, int result, int error,
                    const char *path) {
  char head[1024];
  std::snprintf(head, sizeof head, "Error in %s(), %s failed.  Return code %d, error code %d.",
                function, what, result, error);
  std::strncat(head, " Filename: ", sizeof head - std::strlen(head) - 1);
  debug_message_about(head, path, nullptr, category_error, module_helpers);
}

int make_executable(const char *function, const char *path) {
  const int result = chmod(path, 0700);
  if (result != 0) report_failure(function, "chmod", result, errno, path);
  return result == 0;
}

// A forked child cannot open the log (no allocation, no stdio there), so the
// parent opens it beforehand whenever an error report would be written.
void open_log_for_child_reports() {
  if (debug_messages_enabled.load() && (debug_category_mask.load() & category_error) == 0 &&
      debug_level.load() >= 1) {
    vorn_client_check_debug_logfile();
  }
}

// Appends `text` to the line being built in [out, end); async-signal-safe.
char *append_text(char *out, const char *end, const char *text) {
  while (*text != '\0' && out < end) *out++ = *text++;
  return out;
}

// Appends `value` in decimal; async-signal-safe.
char *append_int(char *out, const char *end, int value) {
  unsigned int magnitude =
      value < 0 ? 0u - static_cast<unsigned int>(value) : static_cast<unsigned int>(value);
  char digits[12];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  if (value < 0 && out < end) *out++ = '-';
  while (n > 0 && out < end) *out++ = digits[--n];
  return out;
}

// The child side of vorn_fork_exec. `report_tail` (". Filename: <path>\n") was
// built before the fork; only the numbers are added here.
[[noreturn]] void exec_in_child(const char *path, char *const argv[], const char *report_tail) {
  setsid();
  const int result = execv(path, argv);
  const int error = errno;
  char line[bounded_text::capacity + 128];
  const char *end = line + sizeof line - 1;
  char *p = append_text(line, end, "Error in vorn_fork_exec(), exec failed.  Return code ");
  p = append_int(p, end, result);
  p = append_text(p, end, ", error code ");
  p = append_int(p, end, error);
  p = append_text(p, end, report_tail);
  *p = '\0';
  debug_message_prebuilt(line, category_error);
  // Not exit(): the parent's atexit handlers and stdio buffers belong to it.
  _exit(1);
}

}  // namespace

void vorn_boot_exec(const char *path, char *const argv[]) {
  if (!make_executable("vorn_boot_exec", path)) return;
  debug_message_about("vorn_boot_exec() - trying to boot image '", path, "'", category_verbose,
                      module_helpers);
  std::fflush(nullptr);
  const int result = execv(path, argv);
  report_failure("vorn_boot_exec", "exec", result, errno, path);
  std::fflush(nullptr);
}

int vorn_fork_exec(const char *path, char *const argv[]) {
  if (!make_executable("vorn_fork_exec", path)) return 0;
  debug_message_about("vorn_fork_exec() - trying to run image '", path, "'", category_verbose,
                      module_helpers);
  std::fflush(nullptr);

  bounded_text report_tail;
  report_tail.append(". Filename: ");
  report_tail.append(path);
  report_tail.append("\n");
  open_log_for_child_reports();

  const pid_t pid = fork();
  if (pid == 0) exec_in_child(path, argv, report_tail.c_str());
  if (pid < 0) {
    report_failure("vorn_fork_exec", "fork", -1, errno, path);
    std::fflush(nullptr);
    return 0;
  }
  return 1;
}

int vorn_is_boot_file_bad(const char *path) {
  std::FILE *f = std::fopen(path, "rb");
  if (f == nullptr) {
    debug_message_about("vorn_is_boot_file_bad() - cannot open image file '", path, "'.",
                        category_verbose, module_helpers);
    return 1;
  }
  std::fseek(f, 0, SEEK_END);
  const off_t size = ftello(f);
  std::fclose(f);
  if (size >= 100) return 0;
  debug_message_about("vorn_is_boot_file_bad() - image '", path, "' is too small to be valid.",
                      category_error, module_helpers);
  return 1;
}

int vorn_http_fork(const char *address) {
  // Everything the child needs exists before the fork. exec does not write to
  // the argument strings, so the caller's address goes in as it is, uncut.
  char program[] = "firefox";
  char *argv[] = {program, const_cast<char *>(address != nullptr ? address : "(null)"), nullptr};

  const pid_t pid = fork();
  if (pid == 0) {
    // glibc's execvp searches PATH on the stack, without allocating.
    execvp(program, argv);
    _exit(127);  // what a shell answers for a command it cannot find
  }
  int status = 0;
  int error = 0;
  if (pid < 0) {
    error = errno;
  } else {
    while (waitpid(pid, &status, 0) < 0) {
      if (errno != EINTR) {
        error = errno;
        break;
      }
    }
  }
  if (error == 0) return WIFSIGNALED(status) ? 0 : 1;
  // With SIGCHLD ignored the browser was reaped without us: it did run.
  if (error == ECHILD) return 1;
  char report[64];
  std::snprintf(report, sizeof report, "vorn_http_fork() failed with errno %d.", error);
  debug_message(report, category_error, module_helpers);
  return 0;
}
