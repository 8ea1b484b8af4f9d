#include "launcher/updater_thread.h"

#include <cstdio>
#include <cstdlib>

#include "launcher/boot_sequence.h"
#include "launcher/launcher_config.h"
#include "launcher/launcher_state.h"
#include "launcher/launcher_window.h"
#include "support/bounded_text.h"
#include "support/config_directory.h"
#include "support/debug_log.h"
#include "support/file_lock.h"
#include "support/threads.h"
#include "updater/executable_updater.h"
#include "virelan/build_config.h"

namespace {

void window_set_progress(void *window, double percent) {
  static_cast<launcher_mw *>(window)->set_progress(percent);
}
int current_beta_mode() { return get_beta_test_enable(); }
int current_verbose_mode() { return verbose_mode.load(); }

}  // namespace

int updater_thread_main(void *window) {
  bounded_text temporary;
  temporary.append(vorn_client_get_config_directory());
  temporary.append("/executables/download.tmp");
  run_executable_updater(window, VIRELAN_UPDATE_HOST, update_root_path, update_list_name,
                         manifest_path.c_str(), executables_dir.c_str(), temporary.c_str());
  // The lock first: once `update_done` is seen, the boot may exec a client
  // image, which would otherwise inherit the locked descriptor.
  vorn_unlock_file(updater_lock.load());
  update_done = 1;
  return 0;
}

void start_updater(launcher_mw *window) {
  updater_hooks.set_progress = window_set_progress;
  updater_hooks.beta_mode = current_beta_mode;
  updater_hooks.verbose_mode = current_verbose_mode;
  updater_hooks.port = VIRELAN_UPDATE_PORT;
  update_done = 0;
  boot_pass_done = 0;
  if (vorn_thread_create("executable updater", updater_thread_main, window)) {
    updater_started = 1;
    window->update_display();
    return;
  }
  if (debug_level > 0) debug_log("Launcher failed to spawn download thread, aborting.\n");
  std::exit(1);
}

void quit_launcher(int status) {
  if (debug_level > 2) debug_log("Launcher quits with status %d.\n", status);
  std::fflush(nullptr);
  std::_Exit(status);
}
