// The launcher's update run: fetch the server's file list, choose what to
// fetch, and hand the choice to the update pass.
//
// The choice: of the entries that differ from the manifest, only the first
// plain entry of the list and (in beta mode) the first entry whose name
// contains "beta"; any listed file present on disk with a size other than the
// listed one is fetched again wherever it stands. Names that could leave the
// executables directory are refused with a report.
//
// The run knows nothing of windows: the launcher installs `updater_hooks`
// before it starts the updater thread, and `window` is only handed back to
// hooks.set_progress. Progress goes to the window and, as text, to the log.
//
// Threads: run_executable_updater runs on the updater thread. The hooks are
// set once before the thread starts; set_progress must be safe to call from
// that thread.
#ifndef VIRELAN_UPDATER_EXECUTABLE_UPDATER_H
#define VIRELAN_UPDATER_EXECUTABLE_UPDATER_H

struct executable_updater_hooks {
  // The window's progress sink (0..100), called on the updater thread.
  void (*set_progress)(void *window, double percent) = nullptr;
  // Beta mode as it is now; read when the first beta entry is examined.
  int (*beta_mode)() = nullptr;
  // The -v option.
  int (*verbose_mode)() = nullptr;
  // The update server's port (80 in a shipped launcher).
  int port = 80;
};
extern executable_updater_hooks updater_hooks;

// 0 when the run was abandoned before the update pass (list not fetched,
// destination or temporary file unusable), 1 otherwise.
int run_executable_updater(void *window, const char *host, const char *root_path,
                           const char *list_name, const char *manifest_path,
                           const char *destination_path, const char *temp_path);

#endif  // VIRELAN_UPDATER_EXECUTABLE_UPDATER_H
