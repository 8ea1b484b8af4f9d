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

// "<function>, <what> failed.  Return code R, error code E. Filename: <path>"
void report_failure(const char *function, const char *what, int result, int error,
                    const char *path) {
  char head[1024];
  std::snprintf(head, sizeof head, "Error in %s(), %s failed.  Return code %d, error code %d.",
                function, what, result, error);
  std::strncat(head, " Filename: ", sizeof head - std::strlen(head) - 1);
  debug_message_about(head, path, nullptr, 2, module_helpers);
}

int make_executable(const char *function, const char *path) {
  const int result = chmod(path, 0700);
  if (result != 0) report_failure(function, "chmod", result, errno, path);
  return result == 0;
}

// Appends the decimal form of a non-negative `value` to `out` without the C
// library, for use between fork and exec.
char *append_decimal(char *out, int value) {
  char digits[12];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value > 0 && n < 11);
  while (n > 0) *out++ = digits[--n];
  return out;
}

char *append_text(char *out, const char *end, const char *text) {
  while (*text != '\0' && out < end) *out++ = *text++;
  return out;
}

}  // namespace

void vorn_boot_exec(const char *path, char *const argv[]) {
  if (!make_executable("vorn_boot_exec", path)) return;
  debug_message_about("vorn_boot_exec() - trying to boot image '", path, "'", 256, module_helpers);
  std::fflush(nullptr);
  const int result = execv(path, argv);
  report_failure("vorn_boot_exec", "exec", result, errno, path);
  std::fflush(nullptr);
}

int vorn_fork_exec(const char *path, char *const argv[]) {
  if (!make_executable("vorn_fork_exec", path)) return 0;
  debug_message_about("vorn_fork_exec() - trying to run image '", path, "'", 256, module_helpers);
  std::fflush(nullptr);

  // The child of a threaded process may only make async-signal-safe calls
  // before exec, so its failure report is put together here, short of the
  // error number.
  bounded_text tail;
  tail.append(". Filename: ");
  tail.append(path);
  tail.append("\n");

  const pid_t pid = fork();
  if (pid < 0) {
    report_failure("vorn_fork_exec", "fork", -1, errno, path);
    std::fflush(nullptr);
    return 0;
  }
  if (pid > 0) return 1;

  setsid();
  const int result = execv(path, argv);
  const int error = errno;
  char line[bounded_text::capacity + 128];
  const char *end = line + sizeof line - 1;
  char *p = append_text(line, end, "Error in vorn_fork_exec(), exec failed.  Return code ");
  p = append_text(p, end, result < 0 ? "-" : "");
  p = append_decimal(p, result < 0 ? -result : result);
  p = append_text(p, end, ", error code ");
  p = append_decimal(p, error);
  p = append_text(p, end, tail.c_str());
  *p = '\0';
  debug_message_prebuilt(line, 2);
  _exit(1);
}

int vorn_is_boot_file_bad(const char *path) {
  std::FILE *f = std::fopen(path, "rb");
  if (f == nullptr) {
    debug_message_about("vorn_is_boot_file_bad() - cannot open image file '", path, "'.", 256,
                        module_helpers);
    return 1;
  }
  std::fseek(f, 0, SEEK_END);
  const off_t size = ftello(f);
  std::fclose(f);
  if (size >= 100) return 0;
  debug_message_about("vorn_is_boot_file_bad() - image '", path, "' is too small to be valid.", 2,
                      module_helpers);
  return 1;
}

int vorn_http_fork(const char *address) {
  // Built before fork: the child only execs.
  char program[] = "firefox";
  bounded_text argument;
  argument.append(address);
  char *argv[] = {program, argument.text, nullptr};

  const pid_t pid = fork();
  if (pid == 0) {
    execvp(program, argv);
    _exit(127);  // as a shell says "command not found"
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
  // Nobody to wait for (SIGCHLD ignored): the browser was started.
  if (error == ECHILD) return 1;
  char report[64];
  std::snprintf(report, sizeof report, "vorn_http_fork() failed with errno %d.", error);
  debug_message(report, 2, module_helpers);
  return 0;
}
