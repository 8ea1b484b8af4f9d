// The per-user configuration directory.
//
// vorn_client_set_up_config_directory() chooses it once at start-up from a base
// name, trying in order HOME + "/." + base, "." + base (relative to the working
// directory), "/tmp/" + base and base itself. A candidate is taken when it can
// be created (mode 0700), belongs to the current user, cannot be written by
// group or others, and a file can be created in it. The launcher later runs
// programs from inside this directory, so a directory that another local user
// made or can write to is refused with a report and the next candidate tried.
//
// The chosen path is kept for the life of the process. Set-up belongs to the
// start-up thread; once it is done, the getters may be called from any thread.
#ifndef VIRELAN_SUPPORT_CONFIG_DIRECTORY_H
#define VIRELAN_SUPPORT_CONFIG_DIRECTORY_H

// 1 when a directory was chosen and created, 0 when HOME is not set (or empty)
// or no candidate is usable. A later call is reported; when it succeeds its
// directory replaces the first one.
int vorn_client_set_up_config_directory(const char *base_name);

// The chosen directory, or null before a successful set-up.
const char *vorn_client_get_config_directory();

// Makes the chosen directory the working directory. 1 on success.
int vorn_client_cd_to_config_directory();

// 1 when `path` is a directory that the current user owns and that no one else
// may write to; otherwise 0, with the reason in a report (category 16) naming
// the path. A symbolic link is judged by its own owner as well as its target's.
int vorn_directory_is_private(const char *path);

#endif  // VIRELAN_SUPPORT_CONFIG_DIRECTORY_H
