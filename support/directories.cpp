#include "support/directories.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "support/bounded_text.h"
#include "support/debug_log.h"

namespace {

constexpr int module_helpers = 1;

inline bool is_separator(char c) { return c == '/' || c == '\\'; }

}  // namespace

int vorn_recursive_mkdir(const char *path, mode_t mode, bounded_text *failed_path) {
  if (path == nullptr) {
    debug_message("Error in vorn_recursive_mkdir(), NULL path.", 4, module_helpers);
    return 0;
  }
  bounded_text built;
  const char *p = path;
  if (is_separator(*p)) {
    built.append("/");
    ++p;
  }
  while (*p != '\0') {
    if (is_separator(*p)) {  // an empty component: repeated separators
      ++p;
      continue;
    }
    const char *start = p;
    while (*p != '\0' && !is_separator(*p)) ++p;
    if (*p == '\0') return 1;  // the last component names no directory to make

    // A component longer than a bounded_text's content is cut there.
    char component[bounded_text::capacity];
    std::size_t length = static_cast<std::size_t>(p - start);
    if (length > bounded_text::capacity - 1) length = bounded_text::capacity - 1;
    for (std::size_t i = 0; i < length; ++i) component[i] = start[i];
    component[length] = '\0';

    built.append(component);
    if (mkdir(built.c_str(), mode) != 0 && errno != EEXIST) {
      if (failed_path != nullptr) failed_path->append(built.c_str());
      return 0;
    }
    built.append("/");
    ++p;
  }
  return 1;
}

int vorn_create_and_check_writeable_directory(const char *path, mode_t mode,
                                              bounded_text *failed_path) {
  (void)mode;
  if (path == nullptr) {
    debug_message("Error in vorn_create_and_check_writeable_directory(), NULL path.", 4,
                  module_helpers);
    return 0;
  }
  bounded_text probe;
  if (path[0] == '\0') {
    probe.append(writeable_probe_name);
  } else {
    bounded_text directory;
    directory.append(path);
    directory.append("/");
    if (!vorn_recursive_mkdir(directory.c_str(), 0700, failed_path)) return 0;
    probe.append(path);
    probe.append("/");
    probe.append(writeable_probe_name);
  }
  // Nothing is written, so the probe is neither truncated nor followed when it
  // is a link: a link planted under the probe's name must not let this call
  // empty whatever file it points to.
  const int fd = open(probe.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) {
    if (failed_path != nullptr) failed_path->append(probe.c_str());
    return 0;
  }
  close(fd);
  std::remove(probe.c_str());
  return 1;
}
