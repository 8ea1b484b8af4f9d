// The updater lock: an exclusive POSIX record lock on a lock file, so that only
// one launcher process updates the executables at a time.
//
// vorn_lock_file() opens (creating with mode 0600, never truncating) and locks
// the whole file without waiting; it gives the descriptor, or -1 when another
// process holds the lock or the file cannot be opened. It reports nothing: the
// caller decides what to say. vorn_unlock_file() releases and closes; the file
// itself stays.
//
// The lock belongs to the process, not to a thread: another thread of the same
// process would be granted it again, and closing any descriptor of the file in
// the holding process releases it. The descriptor is not close-on-exec, so a
// client image started by exec while the lock is held keeps holding it.
//
// vorn_process_lock()/vorn_process_unlock() keep one such lock for the whole
// process; their state is a plain pair of globals for one thread.
#ifndef VIRELAN_SUPPORT_FILE_LOCK_H
#define VIRELAN_SUPPORT_FILE_LOCK_H

// The locked file's descriptor, or -1.
int vorn_lock_file(const char *path);
// 1 when the lock was released cleanly, 0 otherwise (a handle of -1 included).
// The descriptor is closed either way.
int vorn_unlock_file(int handle);

// 1 when the process-wide lock on `path` was granted.
int vorn_process_lock(const char *path);
// Releases it: the result of vorn_unlock_file(), or 0 when none is held.
int vorn_process_unlock();

#endif  // VIRELAN_SUPPORT_FILE_LOCK_H
