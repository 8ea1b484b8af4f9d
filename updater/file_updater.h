// ketu_file_updater: one update run's state besides the remote list: the local
// manifest, the three paths (manifest file, temporary download file,
// destination directory), the caller's callbacks and the counters.
//
// update_files() downloads each chosen entry into the temporary file, checks
// that it is the file the list announced (its size), flushes it to disk and
// renames it over the old file, then records the entry in the manifest. The
// rename replaces the old build in one step: a file is never half-written
// under its own name, and never missing while its replacement is on its way. The manifest is saved when a progress report finds it changed and at
// least 11 seconds past the last save, and once more at the end; a manifest
// that cannot be saved ends the process with status 1.
//
// Names come from the update server. A name that could leave the destination
// directory (a ".." component, or nothing but separators) is refused with a
// report: never downloaded, written or recorded.
//
// Ownership: the updater owns its paths, manifest and exclude list. The
// entries handed to update_files() belong to the caller and must outlive the
// call. Threads: the updater thread alone; the callbacks run on it.
#ifndef VIRELAN_UPDATER_FILE_UPDATER_H
#define VIRELAN_UPDATER_FILE_UPDATER_H

#include <ctime>

#include "support/pointer_containers.h"
#include "updater/file_manifest.h"

class ketu_file_updater {
 public:
  using byte_progress_function = void (*)(void *user, int received, int total);
  using percent_function = void (*)(void *user, double done, double total);
  using message_function = void (*)(void *user, const char *text);
  using filter_function = int (*)(const char *name, const ketu_file_entry *entry);
  using clock_function = std::time_t (*)();

  ketu_file_updater() = default;
  ~ketu_file_updater();
  ketu_file_updater(const ketu_file_updater &) = delete;
  ketu_file_updater &operator=(const ketu_file_updater &) = delete;

  // Stores the directory and proves it writeable (created if needed). 1 on success.
  int set_destination_path(const char *path);
  // Stores the path, creates its directories and proves the file can be made.
  int set_temp_file(const char *path);
  // Loads and prunes the manifest (the destination must be set first). 0 when
  // the file could not be read; the path is kept for the saves either way.
  int load_manifest(const char *path);
  // 0 when the manifest holds the entry with the same size and digest.
  int compare_entry(const ketu_file_entry *remote);
  // compare_entry(), then the filter.
  int needs_update(const ketu_file_entry *remote);
  // The pass over `entries` (ketu_file_entry pointers, in order): 0 when it
  // ran, whatever happened to single files; 1 no temporary file set, 2 no
  // destination set, 5 either fails its check.
  int update_files(const char *host, const char *root, const vorn_pointer_array &entries);
  // Fetches one file into the temporary file. Nonzero on success.
  int download_entry(const char *host, const char *root, const char *name);

  // The generic run (the launcher makes its own choice of files).
  int load_exclude_manifest(const char *path);
  int is_excluded(const ketu_file_entry *entry);
  int run(const char *host, const char *root, const char *list_name);

  ketu_file_entry *exclude_list = nullptr;
  ketu_file_manifest manifest;
  char *manifest_path = nullptr;
  char *temp_path = nullptr;
  char *destination_path = nullptr;
  int manifest_dirty = 0;
  std::time_t last_save_time = 0;
  int verbose = 0;
  int file_delay_ms = 0;
  double current_bytes = 0;
  void *user_data = nullptr;
  byte_progress_function byte_progress_callback = nullptr;
  percent_function percent_callback = nullptr;
  message_function message_callback = nullptr;
  filter_function filter_callback = nullptr;
  int entries_loaded = 0;
  int entries_kept = 0;
  int remote_entries = 0;
  int files_skipped = 0;
  int files_to_update = 0;
  int files_updated = 0;
  int download_failures = 0;
  int other_failures = 0;
  double total_bytes = 0;
  double completed_bytes = 0;
  double done_bytes = 0;
  double updated_bytes = 0;
  // The update server's port (80 in a shipped launcher) and the clock the
  // periodic save reads (tests drive it).
  int port = 80;
  clock_function clock = default_clock;

  static std::time_t default_clock();

 private:
  static void on_download_progress(void *self, int received, int total);
  void report(const char *text);
  void report_about(const char *before, const char *subject, const char *after);
  void report_progress();
  void save_if_due();
  void save_on_completion();
  // Saves the manifest or ends the process.
  void save_or_bail_out();
  // Checks the finished download against the entry and flushes it to disk.
  int verify_download(const ketu_file_entry *entry);
};

#endif  // VIRELAN_UPDATER_FILE_UPDATER_H
