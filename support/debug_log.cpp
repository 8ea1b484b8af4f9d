#include "support/debug_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "support/bounded_text.h"
#include "support/text_utilities.h"

std::atomic<int> debug_level{1};
std::atomic<int> debug_messages_enabled{1};
std::atomic<int> debug_category_mask{0};

vorn_signal_safe_logfile debug_logfile;

namespace {

constexpr int module_debug_log = 70;
constexpr int module_signal_safe_log = 10;
constexpr int depth_limit = 25;

// Guards the names and the opening of the log. Never held while a message is
// written, so the reports made while opening can go through debug_log().
std::mutex log_state_mutex;
char *logfile_path = nullptr;           // heap copy, or null
char *logfile_autoopen_name = nullptr;  // heap copy, or null
std::atomic<int> logfile_failed{0};

void forget_names() {
  std::free(logfile_path);
  logfile_path = nullptr;
  std::free(logfile_autoopen_name);
  logfile_autoopen_name = nullptr;
}

// Replaces one of the two names; refused while the log is open.
void set_name(char **slot, const char *value, const char *refusal) {
  {
    std::lock_guard<std::mutex> hold(log_state_mutex);
    if (debug_logfile.descriptor.load() < 0) {
      forget_names();
      logfile_failed = 0;
      *slot = copy_text(value);
      return;
    }
  }
  debug_message(refusal, 4, module_debug_log);
}

// The message filter: nothing while disabled or when every bit is masked;
// verbose messages (bit 256) need level 3, the others level 1.
bool passes_filter(int category) {
  if (!debug_messages_enabled.load()) return false;
  const int bits = category & ~debug_category_mask.load();
  if (bits == 0) return false;
  return debug_level.load() >= ((bits & 256) ? 3 : 1);
}

}  // namespace

void debug_messages_enable() { debug_messages_enabled = 1; }
void debug_messages_disable() { debug_messages_enabled = 0; }
void set_debug_category_mask(int mask) { debug_category_mask = mask; }

void debug_log(const char *format, ...) {
  if (debug_logfile.descriptor.load() < 0) {
    if (logfile_failed.load()) return;
    vorn_client_check_debug_logfile();
    if (logfile_failed.load() || debug_logfile.descriptor.load() < 0) return;
  }
  char buffer[debug_log_max_message];
  va_list args;
  va_start(args, format);
  std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  debug_logfile.write(buffer);
}

void debug_message(const char *text, int category, int module) {
  (void)module;
  if (passes_filter(category)) debug_log("%s\n", text);
}

void debug_message_about(const char *before, const char *subject, const char *after, int category,
                         int module) {
  if (!passes_filter(category)) return;
  bounded_text text;
  if (before != nullptr) text.append(before);
  if (subject != nullptr) text.append(subject);
  if (after != nullptr) text.append(after);
  debug_message(text.c_str(), category, module);
}

void debug_message_prebuilt(const char *line, int category) {
  if (passes_filter(category) && debug_logfile.descriptor.load() >= 0) debug_logfile.write(line);
}

int vorn_rotate_debug_logfile(const char *path, long long limit) {
  if (path == nullptr) return 0;
  struct stat info;
  if (stat(path, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size <= limit) return 0;
  std::string old_copy = std::string(path) + ".old";
  return std::rename(path, old_copy.c_str()) == 0 ? 1 : -1;
}

void vorn_client_set_debug_logfile_name(const char *path) {
  set_name(&logfile_path, path,
           "Error in vorn_client_set_debug_logfile_name(), logfile already open.");
}

void vorn_client_set_autoopen_debug_logfile_name(const char *name) {
  set_name(&logfile_autoopen_name, name,
           "Error in vorn_client_set_autoopen_debug_logfile_name(), logfile already open.");
}

void vorn_client_try_open_debug_logfile() {
  bounded_text report;
  int category = 256;
  {
    std::lock_guard<std::mutex> hold(log_state_mutex);
    if (debug_logfile.descriptor.load() >= 0) {
      report.assign("Error in vorn_client_try_open_debug_logfile(), logfile already open.");
      category = 4;
    } else if (logfile_path != nullptr) {
      const bool opened = debug_logfile.open_file(logfile_path);
      logfile_failed = opened ? 0 : 1;
      report.assign(opened ? "vorn_client_try_open_debug_logfile() opened logfile '"
                           : "vorn_client_try_open_debug_logfile() failed to open logfile '");
      report.append(logfile_path);
      report.append("'");
    } else {
      const bool opened = debug_logfile.open_stdout();
      logfile_failed = opened ? 0 : 1;
      report.assign(
          opened ? "vorn_client_try_open_debug_logfile() - using STDOUT."
                 : "vorn_client_try_open_debug_logfile() - unable to use STDOUT for log data.");
    }
  }
  debug_message(report.c_str(), category, module_debug_log);
}

void vorn_client_check_debug_logfile() {
  {
    std::lock_guard<std::mutex> hold(log_state_mutex);
    if (debug_logfile.descriptor.load() >= 0 || logfile_failed.load()) return;
    if (logfile_path == nullptr && logfile_autoopen_name != nullptr) {
      bounded_text path;
      path.append("/tmp/");
      path.append(logfile_autoopen_name);
      logfile_path = copy_text(path.c_str());
    }
  }
  vorn_client_try_open_debug_logfile();
}

void vorn_client_debug_logfile_close() {
  {
    std::lock_guard<std::mutex> hold(log_state_mutex);
    if (debug_logfile.descriptor.load() >= 0) {
      debug_logfile.close();
      forget_names();
      logfile_failed = 0;
      return;
    }
  }
  debug_message("Error in vorn_client_debug_logfile_close(), no logfile open.", 4,
                module_debug_log);
}

int vorn_client_debug_logfile_is_open() { return debug_logfile.descriptor.load() >= 0; }

const char *vorn_client_get_debug_logfile_autoopen_name() { return logfile_autoopen_name; }

const char *vorn_client_get_debug_logfile_path() {
  vorn_client_check_debug_logfile();
  return logfile_path;
}

int vorn_client_get_debug_logfile_failed() {
  vorn_client_check_debug_logfile();
  return logfile_failed.load();
}

int vorn_signal_safe_logfile::open_file(const char *path) {
  close();
  // Not close-on-exec: a program the launcher execs keeps writing to the log.
  const int fd = ::open(path, O_WRONLY | O_CREAT | O_APPEND, 0644);
  descriptor = fd;
  return fd >= 0 ? 1 : 0;
}

int vorn_signal_safe_logfile::open_stdout() {
  close();
  const int fd = ::dup(STDOUT_FILENO);
  descriptor = fd;
  return fd >= 0 ? 1 : 0;
}

void vorn_signal_safe_logfile::close() {
  const int fd = descriptor.exchange(-1);
  if (fd >= 0) ::close(fd);
}

int vorn_signal_safe_logfile::write(const char *text) {
  const int current = depth.load();
  if (current > depth_limit) return 0;
  if (current == depth_limit) {
    // The report below comes back here (when this is the debug log) and is
    // dropped by the test above.
    depth.fetch_add(1);
    debug_message("Error in vorn_signal_safe_logfile::write(), recursion limiter triggered.", 2,
                  module_signal_safe_log);
    depth.fetch_sub(1);
    return 0;
  }
  depth.fetch_add(1);
  if (text == nullptr) text = "(null)";
  const ssize_t written = ::write(descriptor.load(), text, std::strlen(text));
  if (written >= 0) {
    write_failed = 0;
    depth.fetch_sub(1);
    return 1;
  }
  if (!write_failed.load()) {
    debug_message("Error in vorn_signal_safe_logfile::write(), write failed.", 2,
                  module_signal_safe_log);
    write_failed = 1;
  }
  depth.fetch_sub(1);
  return 0;
}

int vorn_signal_safe_logfile::write_int(int value) {
  char digits[16];
  int pos = static_cast<int>(sizeof digits) - 1;
  digits[pos] = '\0';
  // Work on the magnitude as unsigned so that INT_MIN needs no special case.
  unsigned int magnitude =
      value < 0 ? 0u - static_cast<unsigned int>(value) : static_cast<unsigned int>(value);
  do {
    digits[--pos] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  if (value < 0) digits[--pos] = '-';
  return write(digits + pos);
}
