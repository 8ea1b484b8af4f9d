// The updater thread: started by start_updater() at start-up when the updater
// lock is held (and later by the boot sequence and the B key), it runs one
// update run and then tells the GUI thread it is done.
//
// Ordering: the thread releases the updater lock before it sets `update_done`,
// so the boot sequence, which waits for `update_done`, never hands the lock's
// descriptor to a client image it execs.
//
// Threads: start_updater() is called on the GUI thread; updater_thread_main()
// is the thread's body. The window outlives the thread (the process ends by
// exec or quit_launcher(), never by destroying the window while a run goes on).
#ifndef VIRELAN_LAUNCHER_UPDATER_THREAD_H
#define VIRELAN_LAUNCHER_UPDATER_THREAD_H

class launcher_mw;

// The update server's list: constants of the build.
constexpr const char *update_root_path = "/downloads/torvane_v3";
constexpr const char *update_list_name = "manifest_linux32_executables.txt.gz";

// Clears `update_done` and starts the "executable updater" thread; on success
// marks it started and refreshes the window, on failure logs and exits (1).
void start_updater(launcher_mw *window);
// The thread's body: one update run, then the lock released and `update_done` set.
int updater_thread_main(void *window);

// Ends the launcher now with `status`, on the GUI thread, whether or not an
// update run is going on: standard output is flushed and the process ends
// without running static destructors, which would otherwise tear down the log
// and the paths the updater thread is still using. A run cut short this way is
// like a killed one: its download sits in the temporary file, and the manifest
// and the installed images are as the last save left them.
[[noreturn]] void quit_launcher(int status);

#endif  // VIRELAN_LAUNCHER_UPDATER_THREAD_H
