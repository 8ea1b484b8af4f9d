#include "launcher/launcher_state.h"

bounded_text manifest_path;
bounded_text executables_dir;
bounded_text bootname_path;
bounded_text lock_path;

std::atomic<int> updater_lock{-1};
std::atomic<int> update_done{0};
std::atomic<int> updater_started{0};
std::atomic<int> verbose_mode{0};

vorn_bitmap *background_bitmap = nullptr;

int display_width = 0;
int display_height = 0;

void build_launcher_paths(const char *config_directory) {
  manifest_path.clear();
  manifest_path.append(config_directory);
  manifest_path.append(manifest_file_suffix);
  executables_dir.clear();
  executables_dir.append(config_directory);
  executables_dir.append(executables_dir_suffix);
  bootname_path.clear();
  bootname_path.append(config_directory);
  bootname_path.append(bootname_file_suffix);
}
