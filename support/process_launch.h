// Starting other programs: the launcher ends by replacing itself with the game
// client (vorn_boot_exec); the same module starts an image as a separate child,
// tests an image file's size, and opens a web address in the browser.
//
// The argument vector is a null-terminated array handed unchanged to execv(); its
// first entry is the name the new program sees, and it stays the caller's. Nothing
// else is prepared for the new image: descriptors without close-on-exec (the
// debug log, a held updater lock) stay open in it, and the environment and
// working directory are inherited. Both exec calls make the image mode 0700
// first and leave it so even when the exec then fails.
//
// Every failure is reported through the debug log (module 1) and returned. The
// functions keep no state. vorn_boot_exec belongs to the GUI thread (any other
// thread ends with the exec); the others may be called from any thread, and the
// children they fork make only async-signal-safe calls before exec, so other
// threads holding locks at the moment of fork cannot hang them.
#ifndef VIRELAN_SUPPORT_PROCESS_LAUNCH_H
#define VIRELAN_SUPPORT_PROCESS_LAUNCH_H

// Replaces the process with the image at `path`. Returns only when that failed.
void vorn_boot_exec(const char *path, char *const argv[]);

// Starts the image as a child in a session of its own. 1 in the parent when the
// child was created (it is neither waited for nor reaped: a caller that wants
// no zombies waits for it or ignores SIGCHLD), 0 on failure. A child whose exec
// fails reports that to the debug log and ends with status 1 without running
// the parent's exit handlers.
int vorn_fork_exec(const char *path, char *const argv[]);

// 1 when the image cannot be opened or is shorter than 100 bytes, else 0.
int vorn_is_boot_file_bad(const char *path);

// Runs "firefox" (looked up on PATH) on `address` and waits for it to end. The
// address is passed whole as the browser's one argument, never through a shell,
// so no character in it can run a command. 0 when the browser was ended by a
// signal or could not be forked; 1 otherwise, including a browser that exited
// with an error or was not found (status 127) and a browser that could not be
// waited for because SIGCHLD is ignored.
int vorn_http_fork(const char *address);

#endif  // VIRELAN_SUPPORT_PROCESS_LAUNCH_H
