#include "updater/file_updater.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "http/http_downloader.h"
#include "support/bounded_text.h"
#include "support/directories.h"
#include "support/file_info.h"
#include "support/text_utilities.h"
#include "support/threads.h"
#include "updater/remote_manifest.h"
#include "updater/updater_text.h"

namespace {

void replace(char **field, const char *text) {
  std::free(*field);
  *field = copy_text(text);
}

int temp_file_usable(const char *path) {
  if (!vorn_recursive_mkdir(path, 0700, nullptr)) return 0;
  std::FILE *file = std::fopen(path, "we");
  if (file == nullptr) return 0;
  std::fclose(file);
  return 1;
}

}  // namespace

std::time_t ketu_file_updater::default_clock() { return std::time(nullptr); }

ketu_file_updater::~ketu_file_updater() {
  std::free(manifest_path);
  std::free(temp_path);
  std::free(destination_path);
  ketu_free_entry_list(exclude_list);
}

void ketu_file_updater::report(const char *text) {
  if (message_callback != nullptr) message_callback(user_data, text);
}

void ketu_file_updater::report_about(const char *before, const char *subject, const char *after) {
  bounded_text text;
  text.append(before);
  text.append(subject);
  text.append(after);
  report(text.c_str());
}

int ketu_file_updater::set_destination_path(const char *path) {
  replace(&destination_path, path);
  if (destination_path == nullptr) return 0;
  return vorn_create_and_check_writeable_directory(destination_path, 0700, nullptr);
}

int ketu_file_updater::set_temp_file(const char *path) {
  replace(&temp_path, path);
  if (temp_path == nullptr) return 0;
  return temp_file_usable(temp_path);
}

int ketu_file_updater::load_manifest(const char *path) {
  replace(&manifest_path, path);
  int count = manifest.load_file(path);
  if (count < 0) return 0;
  if (verbose) {
    char text[1024];
    std::snprintf(text, sizeof text, "Loaded %d entries from current manifest file '", count);
    report_about(text, path, "'.");
  }
  entries_loaded = count;
  int kept = manifest.prune_missing(destination_path);
  if (kept != count && verbose) {
    char text[1024];
    std::snprintf(text, sizeof text, "Some files were deleted.  Only %d entries remain.", kept);
    report(text);
  }
  entries_kept = kept;
  return 1;
}

int ketu_file_updater::compare_entry(const ketu_file_entry *remote) {
  const ketu_file_entry *local = manifest.find_entry(remote->name);
  if (local != nullptr) {
    if (local->size == remote->size && local->hash != nullptr && remote->hash != nullptr &&
        std::strcmp(local->hash, remote->hash) == 0)
      return 0;
    if (verbose) {
      char text[1024];
      std::snprintf(text, sizeof text, "Expected %8d, ", static_cast<int>(remote->size));
      report_about(text, remote->hash, nullptr);
      std::snprintf(text, sizeof text, "Previous %8d, ", static_cast<int>(local->size));
      bounded_text line;
      line.append(text);
      line.append(local->hash);
      line.append(" - file '");
      line.append(remote->name);
      line.append("'");
      report(line.c_str());
    }
    return 1;
  }
  if (verbose) report_about("File '", remote->name, "' missing, should update.");
  return 1;
}

int ketu_file_updater::needs_update(const ketu_file_entry *remote) {
  if (compare_entry(remote) == 0) return 0;
  if (filter_callback != nullptr) return filter_callback(remote->name, remote);
  return 1;
}

int ketu_file_updater::download_entry(const char *host, const char *root, const char *name) {
  vorn_http_downloader downloader;
  downloader.progress_callback = on_download_progress;
  downloader.callback_user = this;
  downloader.set_connection(host, port, 0);
  bounded_text request;
  request.append(root);
  request.append("/");
  request.append(name[0] == '/' ? name + 1 : name);
  if (verbose) report_about("Starting download of file '", request.c_str(), "'.");
  return downloader.download(host, request.c_str(), temp_path);
}

int ketu_file_updater::verify_download(const ketu_file_entry *entry) {
  int fd = ::open(temp_path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  struct stat info;
  int ok = fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
  if (ok && info.st_size != static_cast<off_t>(entry->size)) {
    char text[1024];
    std::snprintf(text, sizeof text, "' arrived with %lld bytes instead of the %d the list gives.",
                  static_cast<long long>(info.st_size), static_cast<int>(entry->size));
    report_about("File '", entry->name, text);
    ok = 0;
  }
  // On disk before it takes the file's name: a power loss must not leave an
  // empty or partial executable there.
  if (ok && fsync(fd) != 0) ok = 0;
  ::close(fd);
  return ok;
}

int ketu_file_updater::update_files(const char *host, const char *root,
                                    const vorn_pointer_array &entries) {
  if (temp_path == nullptr) {
    report("No temporary download filename set.");
    return 1;
  }
  if (!temp_file_usable(temp_path)) {
    report("Temporary file unwriteable.");
    return 5;
  }
  if (destination_path == nullptr) {
    report("No destination path set to store downloaded files.");
    return 2;
  }
  if (!vorn_create_and_check_writeable_directory(destination_path, 0700, nullptr)) {
    report("Download base path appears to be unwriteable.");
    return 5;
  }
  for (int i = 0; i < entries.count; ++i)
    total_bytes += static_cast<const ketu_file_entry *>(entries.slots[i])->size;
  files_to_update = entries.count;
  manifest_dirty = 0;
  last_save_time = clock();

  for (int i = 0; i < entries.count; ++i) {
    const ketu_file_entry *entry = static_cast<const ketu_file_entry *>(entries.slots[i]);
    if (!ketu_is_safe_name(entry->name)) {
      report_about("Unable to update file '", entry->name, "' - unsafe file name.");
      ++other_failures;
      continue;
    }
    bounded_text target;
    updater_text::file_path(target, destination_path, entry->name);
    if (verbose) report_about("Updating file '", entry->name, "'.");
    if (!vorn_recursive_mkdir(target.c_str(), 0700, nullptr)) {
      report_about("Unable to update file '", entry->name, "' - cannot create directory.");
      ++other_failures;
      continue;
    }
    int downloaded = download_entry(host, root, entry->name);
    completed_bytes += entry->size;
    if (verbose) {
      char text[1024];
      std::snprintf(text, sizeof text, "Received %10.0f / %10.0f bytes.", completed_bytes,
                    total_bytes);
      report(text);
    }
    if (downloaded && !verify_download(entry)) downloaded = 0;
    if (!downloaded) {
      report_about("Unable to update file '", entry->name, "' - download failed.");
      ++download_failures;
    } else if (!vorn_is_regular_file(target.c_str()) && ::unlink(target.c_str()) != 0 &&
               errno != ENOENT) {
      // A regular file is replaced by the rename itself, in one step, so the
      // old build stays in place until the new one is; anything else in the
      // way (a link, a directory) is removed first.
      report_about("Unable to update file '", entry->name, "' - cannot remove old version.");
      ++other_failures;
    } else if (std::rename(temp_path, target.c_str()) != 0) {
      report_about("Unable to update file '", entry->name, "' - cannot write new version.");
      ++other_failures;
    } else {
      manifest.merge_entry(entry);
      ++files_updated;
      manifest_dirty = 1;
      updated_bytes += entry->size;
      report_progress();
    }
    if (file_delay_ms > 0) vorn_sleep_ms(file_delay_ms);
  }
  save_on_completion();
  return 0;
}

void ketu_file_updater::on_download_progress(void *self, int received, int total) {
  auto *u = static_cast<ketu_file_updater *>(self);
  if (u->byte_progress_callback != nullptr)
    u->byte_progress_callback(u->user_data, received, total);
  if (received != total) {
    u->current_bytes = received;
    u->report_progress();
  } else {
    u->current_bytes = 0;
  }
}

void ketu_file_updater::report_progress() {
  save_if_due();
  done_bytes = completed_bytes + current_bytes;
  if (percent_callback != nullptr) percent_callback(user_data, done_bytes, total_bytes);
}

void ketu_file_updater::save_or_bail_out() {
  if (!manifest.save_file(manifest_path)) {
    report("Error - unable to save manifest file.  Bailing out.");
    std::exit(1);
  }
  manifest_dirty = 0;
}

void ketu_file_updater::save_if_due() {
  std::time_t now = clock();
  if (manifest_dirty) {
    if (last_save_time + 10 >= now) return;
    if (verbose) report("Saving file manifest.");
    save_or_bail_out();
  }
  last_save_time = now;
}

void ketu_file_updater::save_on_completion() {
  if (!manifest_dirty) return;
  if (verbose) report("Saving file manifest due to completion.");
  save_or_bail_out();
  last_save_time = clock();
}

int ketu_file_updater::load_exclude_manifest(const char *path) {
  int count = ketu_load_name_list(path, &exclude_list);
  if (count < 0) return 0;
  if (verbose) {
    char text[1024];
    std::snprintf(text, sizeof text, "Loaded %d entries from current exclude manifest file '",
                  count);
    report_about(text, path, "'.");
  }
  return 1;
}

int ketu_file_updater::is_excluded(const ketu_file_entry *entry) {
  for (const ketu_file_entry *e = exclude_list; e != nullptr; e = e->next)
    if (entry->name != nullptr && std::strcmp(e->name, entry->name) == 0) return 1;
  return 0;
}

namespace {
int forward_list_progress(void *user, int received, int total) {
  auto *u = static_cast<ketu_file_updater *>(user);
  if (u->byte_progress_callback != nullptr)
    u->byte_progress_callback(u->user_data, received, total);
  return 0;
}
}  // namespace

int ketu_file_updater::run(const char *host, const char *root, const char *list_name) {
  if (manifest_path == nullptr) {
    report("No manifest filename set.");
    return 3;
  }
  if (temp_path == nullptr) {
    report("No temporary download filename set.");
    return 1;
  }
  if (destination_path == nullptr) {
    report("No destination path set to store downloaded files.");
    return 2;
  }
  http_fetch_remote_manifest_data list;
  list.progress_callback = forward_list_progress;
  list.progress_user = this;
  bounded_text list_path;
  list_path.append(root);
  list_path.append("/");
  list_path.append(list_name);
  int count = list.fetch(host, port, 0, list_path.c_str());
  if (count < 0) {
    report_about("Error fetching update file '", list_name,
                 "' from remote server, aborting update.");
    return 4;
  }
  remote_entries = count;
  if (verbose) {
    char text[1024];
    std::snprintf(text, sizeof text, "Retrieved %d records from remote server.", count);
    report(text);
  }
  vorn_pointer_array chosen;
  for (ketu_file_entry *e = list.head; e != nullptr; e = e->next) {
    if (is_excluded(e)) {
      report_about("Skipping file '", e->name, "'.");
      ++files_skipped;
    } else if (needs_update(e)) {
      chosen.append(e);
    }
  }
  files_to_update = chosen.count;
  if (chosen.count == 0) {
    if (verbose) report("Everything appears to be up to date already.");
    return 0;
  }
  if (chosen.count == 1) {
    report("One file to update.");
  } else {
    char text[1024];
    std::snprintf(text, sizeof text, "%d files to update.", chosen.count);
    report(text);
  }
  return update_files(host, root, chosen);
}
