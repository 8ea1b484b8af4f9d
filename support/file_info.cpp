#include "support/file_info.h"

#include <sys/stat.h>
#include <unistd.h>

#include "support/debug_log.h"

int vorn_filename_get_file_info(const char *path, vorn_file_info *info) {
  if (info == nullptr) {
    debug_message("Error in vorn_filename_get_file_info(), NULL dest.", 4, 1);
    return 0;
  }
  struct stat st;
  if (path == nullptr || stat(path, &st) != 0) return 0;
  info->is_directory = S_ISDIR(st.st_mode) ? 1 : 0;
  info->is_regular_file = S_ISREG(st.st_mode) ? 1 : 0;
  info->size = static_cast<std::int64_t>(st.st_size);
  info->modification_time = static_cast<std::int64_t>(st.st_mtime);
  return 1;
}

int vorn_file_exists(const char *path) {
  struct stat st;
  return path != nullptr && stat(path, &st) == 0;
}

int vorn_is_directory(const char *path) {
  struct stat st;
  return path != nullptr && stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

int vorn_is_regular_file(const char *path) {
  struct stat st;
  return path != nullptr && stat(path, &st) == 0 && S_ISREG(st.st_mode);
}

char *vorn_get_current_directory(char *buffer, int size) {
  if (buffer == nullptr || size <= 0) return nullptr;
  return getcwd(buffer, static_cast<size_t>(size));
}

int vorn_change_directory(const char *path) { return chdir(path); }

int vorn_remove_file(const char *path) { return unlink(path); }
