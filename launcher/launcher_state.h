// The launcher's process-wide state: the paths every part of the launcher works
// with, the updater lock, and the flags the GUI thread and the updater thread
// share.
//
// The four paths are built once by start-up on the GUI thread, before any
// updater thread exists, and only read afterwards. The flags are atomics: the
// updater thread sets `update_done` and releases `updater_lock` while the GUI
// thread's timer polls them.
#ifndef VIRELAN_LAUNCHER_LAUNCHER_STATE_H
#define VIRELAN_LAUNCHER_LAUNCHER_STATE_H

#include <atomic>

#include "support/bounded_text.h"

// Base name of the configuration directory (~/.Virelan and its fallbacks).
constexpr const char *config_directory_base_name = "Virelan";
// File names inside the configuration directory.
constexpr const char *debug_log_file_name = "/torvane_launcher_log.txt";
// A log larger than this is set aside as ".old" at start-up.
constexpr long long debug_log_rotate_bytes = 1024 * 1024;
constexpr const char *manifest_file_suffix = "/executables/update_manifest.lst";
constexpr const char *executables_dir_suffix = "/executables";
constexpr const char *bootname_file_suffix = "/bootname.txt";
constexpr const char *lock_file_suffix = "/executables/lock.tmp";
// The launcher's version text, shown in the window and passed to the client.
constexpr const char *launcher_version_text = "1.096-gtk-rc5";

extern bounded_text manifest_path;    // <config>/executables/update_manifest.lst
extern bounded_text executables_dir;  // <config>/executables
extern bounded_text bootname_path;    // <config>/bootname.txt: the image started last
extern bounded_text lock_path;        // <config>/executables/lock.tmp

extern std::atomic<int> updater_lock;     // descriptor of the held lock file, or -1
extern std::atomic<int> update_done;      // the updater thread has finished its run
extern std::atomic<int> updater_started;  // an updater thread was started at least once
extern std::atomic<int> verbose_mode;     // -v was given

class vorn_bitmap;
// The decoded background picture; made at start-up, never freed.
extern vorn_bitmap *background_bitmap;
// The picture as the program carries it (a 480x300 RGBA PNG).
extern const unsigned char background_png[];
extern const unsigned int background_png_size;

// The display's usable size, as start-up found it.
extern int display_width;
extern int display_height;

// Builds manifest_path, executables_dir and bootname_path below `config_directory`.
void build_launcher_paths(const char *config_directory);

#endif  // VIRELAN_LAUNCHER_LAUNCHER_STATE_H
