#include "updater/executable_updater.h"

#include <cstdio>
#include <cstring>
#include <ctime>

#include "support/bounded_text.h"
#include "support/debug_log.h"
#include "support/file_info.h"
#include "support/pointer_containers.h"
#include "updater/file_updater.h"
#include "updater/remote_manifest.h"
#include "updater/updater_text.h"

executable_updater_hooks updater_hooks;

namespace {

// When the last "complete" line was considered (updater thread only).
std::time_t update_progress_time = 0;

int verbose() { return updater_hooks.verbose_mode != nullptr && updater_hooks.verbose_mode() > 0; }

void report(const char *text) {
  if (debug_level >= 1) {
    debug_log("%s\n", text);
    std::fflush(nullptr);
  }
}

void report_about(const char *before, const char *subject, const char *after) {
  bounded_text text;
  text.append(before);
  text.append(subject);
  text.append(after);
  report(text.c_str());
}

int list_progress(void *, int received, int total) {
  if (debug_level >= 1) debug_log(received != total ? "." : ".\n");
  std::fflush(nullptr);
  return 0;
}

void byte_progress(void *, int received, int total) {
  if (!verbose() || debug_level < 1) return;
  if (received != total) {
    debug_log(".");
    std::fflush(nullptr);
  } else {
    debug_log(".\n");
  }
}

void percent_progress(void *window, double done, double total) {
  double percent = done * 100 / (total <= 0 ? 1 : total);
  if (updater_hooks.set_progress != nullptr) updater_hooks.set_progress(window, percent);
  std::time_t now = std::time(nullptr);
  if (now == update_progress_time) return;
  if (!verbose() && debug_level >= 1) debug_log("%5.1f%% complete.\n", percent);
  update_progress_time = now;
}

void message(void *, const char *text) {
  if (debug_level >= 1) debug_log("%s\n", text);
}

void summary(const char *format, const char *value) {
  if (debug_level > 2) debug_log(format, value);
}

}  // namespace

int run_executable_updater(void *window, const char *host, const char *root_path,
                           const char *list_name, const char *manifest_path,
                           const char *destination_path, const char *temp_path) {
  if (verbose() && debug_level > 2) {
    debug_log("Filesystem updater -------\n");
    summary("Server name:       %s\n", host);
    summary("Root path:         %s\n", root_path);
    summary("Remote file list:  %s\n", list_name);
    summary("Local manifest:    %s\n", manifest_path);
    summary("Destination path:  %s\n", destination_path);
    summary("Temporary file:    %s\n", temp_path);
  }

  http_fetch_remote_manifest_data list;
  list.progress_callback = list_progress;
  list.progress_user = nullptr;
  bounded_text list_path;
  if (root_path != nullptr && root_path[0] != '\0') list_path.append(root_path);
  list_path.append("/");
  list_path.append(list_name);
  int count = list.fetch(host, updater_hooks.port, 0, list_path.c_str());
  if (count == -1) {
    report_about("Error fetching update file '", list_name,
                 "' from remote server, aborting update.");
    return 0;
  }
  if (verbose()) {
    char text[1024];
    std::snprintf(text, sizeof text, "Retrieved %d records from remote server.", count);
    report(text);
  }

  ketu_file_updater updater;
  updater.message_callback = message;
  updater.byte_progress_callback = byte_progress;
  updater.percent_callback = percent_progress;
  updater.verbose = verbose();
  updater.file_delay_ms = 0;
  updater.user_data = window;
  updater.port = updater_hooks.port;
  if (!updater.set_destination_path(destination_path)) {
    report_about("Unable to set download target directory, to '", destination_path,
                 "', aborting update.");
    return 0;
  }
  if (!updater.set_temp_file(temp_path)) {
    report_about("Unable to access temporary download file '", temp_path, "', aborting update.");
    return 0;
  }
  if (!updater.load_manifest(manifest_path))
    report_about("Unable to load local manifest file '", manifest_path, "', creating new.");

  vorn_pointer_array chosen;
  int first_plain = 1;
  int first_beta = 1;
  for (ketu_file_entry *entry = list.head; entry != nullptr; entry = entry->next) {
    if (entry->name == nullptr) {
      report("Error in run_executable_updater(), got null filename?");
      continue;
    }
    // The list decides file names below the executables directory: a name
    // that could reach outside it is never fetched, recorded or started.
    if (!ketu_is_safe_name(entry->name)) {
      report_about("Refusing unsafe file name '", entry->name, "' from the update list.");
      continue;
    }
    const bool beta = std::strstr(entry->name, "beta") != nullptr;
    bounded_text local;
    updater_text::file_path(local, destination_path, entry->name);
    vorn_file_info info;
    bool examine_manifest = true;
    if (!vorn_filename_get_file_info(local.c_str(), &info) || !info.is_regular_file) {
      if (verbose()) report_about("No backing file for '", local.c_str(), "'.");
    } else if (info.size != static_cast<long long>(entry->size)) {
      if (verbose())
        report_about("File '", entry->name, "' had different expected size, forcing update.");
      chosen.append(entry);
      examine_manifest = false;
    }
    if (examine_manifest) {
      if (!updater.needs_update(entry)) {
        if (verbose()) report_about("File '", entry->name, "' up to date.");
      } else if (!beta) {
        if (first_plain) {
          if (verbose()) report_about("Found first file '", entry->name, "'.");
          chosen.append(entry);
        }
      } else if (first_beta && updater_hooks.beta_mode != nullptr && updater_hooks.beta_mode()) {
        if (verbose()) report_about("Found first beta file '", entry->name, "'.");
        chosen.append(entry);
      }
    }
    if (beta)
      first_beta = 0;
    else
      first_plain = 0;
  }

  if (chosen.count == 0) {
    report("Everything appears to be up to date already.");
  } else {
    if (chosen.count == 1) {
      report("One file to update.");
    } else {
      char text[1024];
      std::snprintf(text, sizeof text, "%d files to update.", chosen.count);
      report(text);
    }
    update_progress_time = std::time(nullptr);
    updater.update_files(host, root_path, chosen);
  }
  return 1;
}
