// File information and thin file-system wrappers.
//
// vorn_filename_get_file_info() fills a vorn_file_info from stat() (symbolic
// links followed). Sizes and times are 64-bit on every target, so files over
// 2 GiB and dates after 2038 come out right on 32-bit x86 too. The other
// helpers answer yes/no questions about a path, or pass straight through to the
// system with its own results. All are stateless and callable from any thread.
#ifndef VIRELAN_SUPPORT_FILE_INFO_H
#define VIRELAN_SUPPORT_FILE_INFO_H

#include <cstdint>

struct vorn_file_info {
  int is_directory;                // 0 or 1
  int is_regular_file;             // 0 or 1; both 0 for devices, sockets, pipes
  std::int64_t size;               // bytes
  std::int64_t modification_time;  // seconds since 1970-01-01 UTC
};

// 1 when the path could be examined and `info` was filled; otherwise 0 and
// `info` is untouched. A null `info` is reported.
int vorn_filename_get_file_info(const char *path, vorn_file_info *info);
// 1 when the path can be examined.
int vorn_file_exists(const char *path);
// 1 when the path can be examined and is a directory.
int vorn_is_directory(const char *path);
// 1 when the path can be examined and is a regular file.
int vorn_is_regular_file(const char *path);

// getcwd() into the caller's buffer: the buffer, or null on failure.
char *vorn_get_current_directory(char *buffer, int size);
// chdir(): 0 on success, -1 on failure.
int vorn_change_directory(const char *path);
// unlink(): 0 on success, -1 on failure.
int vorn_remove_file(const char *path);

#endif  // VIRELAN_SUPPORT_FILE_INFO_H
