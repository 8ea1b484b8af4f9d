// Directory creation helpers.
//
// vorn_recursive_mkdir() creates every directory a path names up to its last
// separator, so a file's path can be passed to create the file's directories
// (the text after the last separator is never created), and a directory's path
// must end in a separator to be created itself. Both "/" and "\" separate;
// repeated separators are skipped. On failure the directory that could not be
// made is appended to `failed_path` when one is given.
//
// vorn_create_and_check_writeable_directory() creates a directory (always with
// mode 0700) and proves that a file can be created in it by creating and
// removing the probe file "xx-rw-test.qqq".
//
// Both are stateless and may be called from any thread; they report only null
// paths.
#ifndef VIRELAN_SUPPORT_DIRECTORIES_H
#define VIRELAN_SUPPORT_DIRECTORIES_H

#include <sys/types.h>

class bounded_text;

// Name of the file that proves a directory writeable; removed right after.
constexpr const char *writeable_probe_name = "xx-rw-test.qqq";

// 1 when every directory up to the last separator exists afterwards, else 0.
int vorn_recursive_mkdir(const char *path, mode_t mode, bounded_text *failed_path);

// 1 when the directory exists afterwards and a file can be created in it. An
// empty path probes the current working directory. `mode` is ignored: the
// directories are private to the user (0700) whatever the caller asks.
int vorn_create_and_check_writeable_directory(const char *path, mode_t mode,
                                              bounded_text *failed_path);

#endif  // VIRELAN_SUPPORT_DIRECTORIES_H
