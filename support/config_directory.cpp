#include "support/config_directory.h"

#include <errno.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "support/bounded_text.h"
#include "support/debug_log.h"
#include "support/directories.h"
#include "support/text_utilities.h"

namespace {

constexpr int module_config_directory = 71;

// Heap copy of the chosen directory. A replaced path is never freed: a caller
// may still hold it.
std::atomic<char *> config_directory_path{nullptr};

void report_refusal(const char *path, const char *reason) {
  bounded_text tail;
  tail.append("': ");
  tail.append(reason);
  debug_message_about("Error in vorn_client_set_up_config_directory(), refusing config directory '",
                      path, tail.c_str(), 16, module_config_directory);
}

// Creates the candidate if needed, then checks that it is private and writeable.
int check_candidate(const char *candidate) {
  bounded_text line;
  line.append("Checking config directory: ");
  line.append(candidate);
  // Create first and judge afterwards, so that nobody can slip a directory of
  // their own in between the check and its use.
  bounded_text directory;
  directory.append(candidate);
  directory.append("/");
  int ok = vorn_recursive_mkdir(directory.c_str(), 0700, nullptr);
  if (ok) ok = vorn_directory_is_private(candidate);
  if (ok) ok = vorn_create_and_check_writeable_directory(candidate, 0700, nullptr);
  if (!ok) line.append(" [FAIL]");
  debug_message(line.c_str(), 256, module_config_directory);
  return ok;
}

}  // namespace

int vorn_directory_is_private(const char *path) {
  const uid_t me = geteuid();
  char reason[200];
  struct stat link_info;
  struct stat info;
  if (lstat(path, &link_info) != 0 || stat(path, &info) != 0) return 0;
  if (!S_ISDIR(info.st_mode)) return 0;
  if (S_ISLNK(link_info.st_mode) && link_info.st_uid != me) {
    std::snprintf(reason, sizeof reason, "it is a link owned by another user (uid %u).",
                  static_cast<unsigned>(link_info.st_uid));
    report_refusal(path, reason);
    return 0;
  }
  if (info.st_uid != me) {
    std::snprintf(reason, sizeof reason, "it is owned by another user (uid %u).",
                  static_cast<unsigned>(info.st_uid));
    report_refusal(path, reason);
    return 0;
  }
  if (info.st_mode & (S_IWGRP | S_IWOTH)) {
    std::snprintf(reason, sizeof reason, "it is writable by group or others (mode %04o).",
                  static_cast<unsigned>(info.st_mode & 07777));
    report_refusal(path, reason);
    return 0;
  }
  return 1;
}

int vorn_client_set_up_config_directory(const char *base_name) {
  if (base_name == nullptr) return 0;
  const char *old_path = config_directory_path.load();
  if (old_path != nullptr) {
    debug_message(
        "Error in vorn_client_set_up_config_directory(), attempt to change config directory path "
        "after initial configuration.",
        4, module_config_directory);
    bounded_text details;
    details.append("Old path '");
    details.append(old_path);
    details.append("', new base name '");
    details.append(base_name);
    details.append("'");
    debug_message(details.c_str(), 256, module_config_directory);
  }

  // An empty HOME names no directory; taken literally it would put the
  // directory at the file system's root.
  const char *home = std::getenv("HOME");
  if (home == nullptr || home[0] == '\0') {
    debug_message(
        "Error in vorn_client_set_up_config_directory(), unable to fetch home directory - please "
        "set HOME environment variable and restart.",
        4, module_config_directory);
    return 0;
  }

  bounded_text candidates[4];
  candidates[0].append(home);
  candidates[0].append("/.");
  candidates[0].append(base_name);
  candidates[1].append(".");
  candidates[1].append(base_name);
  candidates[2].append("/tmp/");
  candidates[2].append(base_name);
  candidates[3].append(base_name);

  for (const bounded_text &candidate : candidates) {
    if (!check_candidate(candidate.c_str())) continue;
    char *copy = copy_text(candidate.c_str());
    if (copy == nullptr) break;
    config_directory_path = copy;
    debug_message_about("vorn_client_set_up_config_directory() - got final config directory '",
                        copy, "'", 256, module_config_directory);
    return 1;
  }
  debug_message(
      "vorn_client_set_up_config_directory() - Giving up.  Cannot create config directory.", 16,
      module_config_directory);
  return 0;
}

const char *vorn_client_get_config_directory() { return config_directory_path.load(); }

int vorn_client_cd_to_config_directory() {
  const char *path = config_directory_path.load();
  if (path == nullptr) return 0;
  if (chdir(path) == 0) return 1;
  const char *report = nullptr;
  switch (errno) {
    case EACCES:
      report = "Error in vorn_client_cd_to_config_directory(), failed due to access permissions.";
      break;
    case ENOTDIR:
      report = "Error in vorn_client_cd_to_config_directory(), target path is not a directory.";
      break;
    case ENOENT:
      report = "Error in vorn_client_cd_to_config_directory(), target path does not exist.";
      break;
    default:
      break;
  }
  if (report != nullptr) debug_message(report, 4, module_config_directory);
  return 0;
}
