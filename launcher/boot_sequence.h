// The boot sequence: on the GUI thread, one step per 20 ms timer tick, it waits
// for the updater lock and the finished update run, then starts the newest
// client image that did not just fail to start, replacing the launcher's
// process.
//
// Crash detection: "bootname.txt" in the configuration directory names the
// image the launcher last tried to start. That image is skipped when another
// exists, so an image that crashed on start is passed over next time. The
// launcher never clears the file; a client that started well removes it (the
// client's side of the contract, see the README).
//
// One boot pass per finished update run: a pass that started nothing leaves
// the window open with its messages and is not repeated until a new run (the B
// key) has finished. The exec happens only after the updater thread released
// the lock, so the client never inherits it.
//
// Threads: the GUI thread only. The exec function is replaceable so that tests
// can drive the ticks in-process without the process being replaced.
#ifndef VIRELAN_LAUNCHER_BOOT_SEQUENCE_H
#define VIRELAN_LAUNCHER_BOOT_SEQUENCE_H

#include <atomic>

#include "support/pointer_containers.h"
#include "updater/file_manifest.h"

class launcher_mw;

// The manifest loaded for booting, and the images to try, newest first (names
// owned by boot_manifest's entries).
extern ketu_file_manifest boot_manifest;
extern vorn_pointer_array boot_images;
// Set when a boot pass ran after the current update run; cleared by
// start_updater() for the next run.
extern std::atomic<int> boot_pass_done;

// Replaces the process; returns only when the exec failed.
using boot_exec_function = void (*)(const char *path, char *const argv[]);
extern boot_exec_function boot_exec;

// One step of the sequence (the timer's body once the window is constructed).
void boot_tick(launcher_mw *window);
// Fills boot_images from the manifest file (emptied first).
void load_boot_images();
// Records `name` as the image about to be started.
void write_crash_detect_file(const char *name);

#endif  // VIRELAN_LAUNCHER_BOOT_SEQUENCE_H
