#include "launcher/boot_sequence.h"

#include <wx/toplevel.h>
#include <wx/window.h>

#include <cstdio>
#include <cstring>

#include "launcher/launcher_config.h"
#include "launcher/launcher_state.h"
#include "launcher/launcher_window.h"
#include "launcher/updater_thread.h"
#include "support/bounded_text.h"
#include "support/debug_log.h"
#include "support/file_lock.h"
#include "support/line_reader.h"
#include "support/process_launch.h"

ketu_file_manifest boot_manifest;
vorn_pointer_array boot_images;
std::atomic<int> boot_pass_done{0};
boot_exec_function boot_exec = vorn_boot_exec;

namespace {

// Newest first: the heap pops the lowest, so the comparison is reversed.
int reversed_strcmp(const void *a, const void *b) {
  return std::strcmp(static_cast<const char *>(b), static_cast<const char *>(a));
}

void close_launcher(launcher_mw *window) {
  // Takes effect once the current event is handled; the toolkit then ends its
  // loop and the process exits with status 0.
  wxWindow *top = wxGetTopLevelParent(window);
  if (top != nullptr) top->Destroy();
}

void log_lines(const char *const *lines) {
  if (debug_level <= 0) return;
  for (; *lines != nullptr; ++lines) debug_log("%s", *lines);
}

}  // namespace

void write_crash_detect_file(const char *name) {
  std::FILE *file = std::fopen(bootname_path.c_str(), "wbe");
  bool written = false;
  if (file != nullptr) {
    written = std::fprintf(file, "%s\n", name) > 0;
    if (std::fclose(file) != 0) written = false;
  }
  if (!written && debug_level > 0)
    debug_log("write_crash_detect_file(), unable to open file '%s' for writing.\n",
              bootname_path.c_str());
}

void load_boot_images() {
  // Every pass starts from the file alone: nothing of an earlier pass stays.
  boot_images.init();
  if (boot_manifest.load_file(manifest_path.c_str()) <= 0) return;
  if (boot_manifest.prune_missing(executables_dir.c_str()) <= 0) return;
  const int beta = get_beta_test_enable();
  vorn_pointer_heap heap(reversed_strcmp);
  for (ketu_file_entry *e = boot_manifest.head; e != nullptr; e = e->next) {
    if (e->name == nullptr) continue;
    // A name that could lead outside the executables directory is never started.
    if (!ketu_is_safe_name(e->name)) continue;
    if (!beta && std::strstr(e->name, "beta") != nullptr) continue;
    heap.push(e->name);
  }
  while (void *name = heap.pop()) boot_images.append(name);
  heap.free();
}

void boot_tick(launcher_mw *window) {
  window->elapsed_ms += launcher_mw::tick_ms;
  window->animate_windows(launcher_mw::tick_ms);

  if (updater_lock < 0) {
    updater_lock = vorn_lock_file(lock_path.c_str());
    if (updater_lock >= 0) {
      if (debug_level > 1) debug_log("OnTimer(), late start of updater thread.\n");
      start_updater(window);
      return;
    }
    if (window->elapsed_ms <= 3000) return;
    static const char *const give_up[] = {
        "\n", "Sorry, it looks like there's another version of the launcher downloading\n",
        "updates right now.  Please try again when it's finished.\n", "\n", nullptr};
    log_lines(give_up);
    close_launcher(window);
    return;
  }
  if (window->elapsed_ms <= 1000 || !update_done || window->options_view) return;
  // One pass per finished update run.
  if (boot_pass_done) return;
  boot_pass_done = 1;

  load_boot_images();
  bounded_text previous;
  if (std::FILE *file = std::fopen(bootname_path.c_str(), "rbe")) {
    char line[1024];
    if (fget_line(file, line, sizeof line) > 0) previous.assign(line);
    std::fclose(file);
  }
  const int count = boot_images.count;
  if (count == 0) {
    static const char *const none[] = {
        "\n",
        "Sorry, no executables found - cannot start game.\n",
        "This launcher will attempt to download one if you restart it.\n",
        "If this message continues to occur, please notify the game admin.\n",
        "\n",
        nullptr};
    log_lines(none);
    close_launcher(window);
  }
  if (debug_level > 2)
    debug_log("Loaded %d entries from current manifest file '%s'.\n", count, manifest_path.c_str());
  for (int i = 0; i < count; ++i)
    if (debug_level > 1)
      debug_log("Got executable filename '%s'.\n", static_cast<const char *>(boot_images.slots[i]));

  for (int i = 0; i < count; ++i) {
    const char *name = static_cast<const char *>(boot_images.slots[i]);
    if (std::strcmp(name, previous.c_str()) == 0) {
      if (debug_level > 0) debug_log("Previous boot of image '%s' failed.\n", name);
      if (count != 1) {
        if (debug_level > 0) debug_log("Skipping, will try older images.\n");
        continue;
      }
      if (debug_level > 0) debug_log("No other images, retrying.\n");
    }
    write_crash_detect_file(name);
    bounded_text path;
    path.append(executables_dir.c_str());
    path.append("/");
    path.append(name);
    if (debug_level > 2) debug_log("Trying executable '%s'.\n", path.c_str());
    char *argv[] = {const_cast<char *>(name), const_cast<char *>("-l"),
                    const_cast<char *>(launcher_version_text), nullptr};
    boot_exec(path.c_str(), argv);
    if (debug_level > 0) {
      debug_log("Boot exec for filename '%s' failed.\n", path.c_str());
      debug_log("Trying next in line.\n");
    }
  }
  if (debug_level > 0) {
    debug_log("Sorry, no valid executables found - cannot start game.\n");
    debug_log("If this message continues to occur, please notify the game admin.\n");
  }
}
