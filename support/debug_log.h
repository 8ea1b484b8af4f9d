// The debug log: one process-wide log file and the message filter in front of it.
//
// debug_log() formats like printf and writes the result with a single write()
// call, so lines from the GUI thread and the updater thread never interleave
// inside a message. The log opens lazily on the first message that gets through:
// the file named by vorn_client_set_debug_logfile_name(), or, when no name was
// set, standard output (and the name can then no longer be changed). What
// reaches the file is exactly the formatted text: no prefix, no time stamp, no
// added newline.
//
// Callers test `debug_level` before calling debug_log(): above 0 for normal
// messages, above 1 for details, above 2 for traces. Library code uses
// debug_message() with a category bit (1..256, 256 marking verbose text) and a
// module number instead; see debug_message() for the filter.
//
// Threads: debug_log() and debug_message() may be called from any thread. The
// naming and closing calls belong to start-up and tests, not to a running
// worker. The log's descriptor is deliberately inherited across exec.
#ifndef VIRELAN_SUPPORT_DEBUG_LOG_H
#define VIRELAN_SUPPORT_DEBUG_LOG_H

#include <atomic>

// Verbosity threshold tested by callers of debug_log(); 1 in a shipped launcher.
extern std::atomic<int> debug_level;
// When 0, debug_message() writes nothing.
extern std::atomic<int> debug_messages_enabled;
// Categories whose bits are set here are suppressed by debug_message().
extern std::atomic<int> debug_category_mask;

// Largest formatted message; longer ones are cut to debug_log_max_message - 1.
constexpr int debug_log_max_message = 10240;

// Formats and writes to the log; see the file comment.
void debug_log(const char *format, ...) __attribute__((format(printf, 1, 2)));

// Writes `text` and a newline unless the filter drops it: nothing while messages
// are disabled or when every bit of `category` is masked; category 256 needs
// debug_level 3 or more, the others 1 or more. `module` names the issuer and is
// not used by the filter.
void debug_message(const char *text, int category, int module);

// debug_message() of `before` + `subject` + `after` (null parts are left out),
// for the many messages that name a path or a value in the middle.
void debug_message_about(const char *before, const char *subject, const char *after, int category,
                         int module);

// For a forked child before exec, where only async-signal-safe calls are
// allowed: the same filter as debug_message(), then `line` (which carries its own
// newline) in one write to the log if it is already open. Nothing is formatted,
// allocated or opened.
void debug_message_prebuilt(const char *line, int category);

void debug_messages_enable();
void debug_messages_disable();
void set_debug_category_mask(int mask);

// Keeps a log file from growing for ever: when `path` is larger than `limit`
// bytes it is renamed to `path` + ".old", replacing an earlier copy, so the next
// message starts a new file. For start-up, before the log is opened. 1 when the
// file was renamed, 0 when it was small enough or missing, -1 when the rename
// failed (the file is then left as it was).
int vorn_rotate_debug_logfile(const char *path, long long limit);

// Names the log file (a copy is kept). Refused while the log is open. Clears
// the failed-open flag, so a log that could not be opened is tried again.
void vorn_client_set_debug_logfile_name(const char *path);
// Names a bare file that the lazy opener places under /tmp/ when no path is set.
void vorn_client_set_autoopen_debug_logfile_name(const char *name);
// Opens the log now: the named file, or standard output when none is named.
void vorn_client_try_open_debug_logfile();
// The lazy opener behind debug_log(): opens the log unless it is open or an
// earlier attempt failed.
void vorn_client_check_debug_logfile();
// Closes the log; the next message opens it again (standard output when no name
// is set).
void vorn_client_debug_logfile_close();

int vorn_client_debug_logfile_is_open();
// Null when not set. The returned text stays valid until the name is changed.
const char *vorn_client_get_debug_logfile_autoopen_name();
const char *vorn_client_get_debug_logfile_path();
int vorn_client_get_debug_logfile_failed();

// A log file that needs nothing but open(), dup(), write() and close(), so that
// it can be written where buffered I/O and the heap are off limits (a signal
// handler). Each write is one system call; a short write is not retried. A
// write that fails is reported once through the debug log until a write
// succeeds again, and nested writes (the report of a failure writing the report)
// stop at a depth of 25.
struct vorn_signal_safe_logfile {
  vorn_signal_safe_logfile() = default;
  vorn_signal_safe_logfile(const vorn_signal_safe_logfile &) = delete;
  vorn_signal_safe_logfile &operator=(const vorn_signal_safe_logfile &) = delete;
  ~vorn_signal_safe_logfile() { close(); }

  // Opens `path` for appending (created with mode 0644). 1 on success.
  int open_file(const char *path);
  // Writes to a duplicate of standard output. 1 on success.
  int open_stdout();
  void close();
  // 1 when the write call succeeded (a short write counts), 0 otherwise.
  int write(const char *text);
  // Writes `value` in decimal without any library formatting.
  int write_int(int value);

  std::atomic<int> descriptor{-1};
  std::atomic<int> depth{0};         // write() calls in progress on this object
  std::atomic<int> write_failed{0};  // a failure was reported, no success since
};

// The log's file.
extern vorn_signal_safe_logfile debug_logfile;

#endif  // VIRELAN_SUPPORT_DEBUG_LOG_H
