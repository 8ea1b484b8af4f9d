#include "updater/file_manifest.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <new>

#include "support/bounded_text.h"
#include "support/debug_log.h"
#include "support/file_info.h"
#include "support/line_reader.h"
#include "support/text_utilities.h"
#include "support/words.h"
#include "updater/updater_text.h"

namespace {

constexpr int module_updater = 12;
constexpr int line_buffer = 1024;

int is_blank(char c) { return c == ' ' || c == '\t'; }
int is_separator(char c) { return c == ' ' || c == '\t' || c == '\n'; }
int is_lower_hex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }

uint32_t entry_hash(const void *item) {
  return hash_string(static_cast<const ketu_file_entry *>(item)->name);
}
uint32_t key_hash(const void *key) { return hash_string(static_cast<const char *>(key)); }
int entry_matches(const void *item, const void *key) {
  const char *name = static_cast<const ketu_file_entry *>(item)->name;
  return name != nullptr && std::strcmp(name, static_cast<const char *>(key)) == 0;
}

void syntax_error(const char *source, const char *reason, const char *line) {
  bounded_text message;
  message.append("Syntax error in ");
  message.append(source);
  message.append(reason);
  debug_message(message.c_str(), 16, module_updater);
  debug_message(line, 16, module_updater);
}

// Writes all of `text` or reports failure.
int write_all(int fd, const char *text, size_t length) {
  while (length > 0) {
    ssize_t n = ::write(fd, text, length);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return 0;
    text += n;
    length -= static_cast<size_t>(n);
  }
  return 1;
}

// Collects small pieces and writes them in large blocks; remembers a failure.
class block_writer {
 public:
  explicit block_writer(int fd) : fd_(fd) {}
  void put(const char *text, size_t length) {
    if (!ok_) return;
    if (used_ + length > sizeof buffer_) flush();
    if (length > sizeof buffer_) {
      ok_ = write_all(fd_, text, length);
      return;
    }
    std::memcpy(buffer_ + used_, text, length);
    used_ += length;
  }
  // 1 when everything reached the file.
  int flush() {
    if (ok_ && used_ > 0) ok_ = write_all(fd_, buffer_, used_);
    used_ = 0;
    return ok_;
  }

 private:
  int fd_;
  int ok_ = 1;
  size_t used_ = 0;
  char buffer_[1 << 16];
};

}  // namespace

ketu_file_entry::~ketu_file_entry() {
  std::free(name);
  std::free(hash);
}

ketu_file_entry *ketu_file_entry::create(const char *name_text, const char *hash_text,
                                         int32_t size_value) {
  ketu_file_entry *entry = new (std::nothrow) ketu_file_entry;
  if (entry == nullptr) return nullptr;
  entry->name = copy_text(name_text);
  entry->hash = copy_text(hash_text);
  entry->size = size_value;
  if ((name_text != nullptr && entry->name == nullptr) ||
      (hash_text != nullptr && entry->hash == nullptr)) {
    delete entry;
    return nullptr;
  }
  return entry;
}

void ketu_free_entry_list(ketu_file_entry *head) {
  while (head != nullptr) {
    ketu_file_entry *next = head->next;
    delete head;
    head = next;
  }
}

int ketu_is_safe_name(const char *name) {
  if (name == nullptr) return 0;
  const char *p = name;
  while (*p == '/' || *p == '\\') ++p;
  if (*p == '\0') return 0;
  // The updater's own files in the executables directory.
  for (const char *own : {"lock.tmp", "update_manifest.lst", "download.tmp"})
    if (std::strcmp(p, own) == 0) return 0;
  for (const char *start = name;;) {
    const char *end = start;
    while (*end != '\0' && *end != '/' && *end != '\\') ++end;
    if (end - start == 2 && start[0] == '.' && start[1] == '.') return 0;
    if (*end == '\0') return 1;
    start = end + 1;
  }
}

int parse_manifest_line(const char *source, const char *line, ketu_file_entry **out) {
  *out = nullptr;
  if (line == nullptr) return 1;
  const char *p = line;
  while (is_blank(*p)) ++p;
  if (*p == '#' || *p == '\0') return 1;
  // Only spaces and tabs before the end make a blank line; a line feed here
  // starts no digest either.
  for (int i = 0; i < 10; ++i) {
    if (!is_lower_hex(p[i])) {
      syntax_error(source, " - bad or missing hash field for line:", line);
      return 0;
    }
  }
  bounded_text digest;
  for (const char *d = p; *d != '\0' && !is_separator(*d); ++d) digest.append_char(*d);

  const char *size_field = next_arg(p);
  int size_value = 0;
  if (size_field == nullptr || !parse_integer(size_field, &size_value)) {
    syntax_error(source, " - bad or missing file size for line:", line);
    return 0;
  }
  const char *name = next_arg(size_field);
  if (name == nullptr) {
    syntax_error(source, " - missing file name for line:", line);
    return 0;
  }
  *out = ketu_file_entry::create(name, digest.c_str(), size_value);
  return *out != nullptr ? 1 : 0;
}

int ketu_load_name_list(const char *path, ketu_file_entry **head) {
  std::FILE *file = path != nullptr ? std::fopen(path, "re") : nullptr;
  if (file == nullptr) return -1;
  ketu_file_entry **tail = head;
  while (*tail != nullptr) tail = &(*tail)->next;
  char line[line_buffer];
  int count = 0;
  while (fget_line(file, line, sizeof line) > 0) {
    const char *p = line;
    while (is_blank(*p)) ++p;
    if (*p == '\0' || *p == '#') continue;
    ketu_file_entry *entry = ketu_file_entry::create(p, nullptr, 0);
    if (entry == nullptr) continue;
    *tail = entry;
    tail = &entry->next;
    ++count;
  }
  std::fclose(file);
  return count;
}

ketu_file_manifest::ketu_file_manifest() : index(entry_hash, key_hash, entry_matches) {}

ketu_file_manifest::~ketu_file_manifest() { clear(); }

void ketu_file_manifest::clear() {
  index.clear();
  ketu_free_entry_list(head);
  head = nullptr;
}

int ketu_file_manifest::load_file(const char *path) {
  clear();
  std::FILE *file = path != nullptr ? std::fopen(path, "re") : nullptr;
  if (file == nullptr) return -1;
  ketu_file_entry **tail = &head;
  char line[line_buffer];
  int count = 0;
  while (fget_line(file, line, sizeof line) > 0) {
    ketu_file_entry *entry = nullptr;
    if (!parse_manifest_line("file manifest", line, &entry)) {
      std::fclose(file);
      return -1;
    }
    if (entry == nullptr) continue;
    *tail = entry;
    tail = &entry->next;
    index.add(entry);
    ++count;
  }
  std::fclose(file);
  return count;
}

ketu_file_entry *ketu_file_manifest::find_entry(const char *name) const {
  if (name == nullptr) return nullptr;
  return static_cast<ketu_file_entry *>(index.find(name));
}

void ketu_file_manifest::merge_entry(const ketu_file_entry *entry) {
  if (entry == nullptr || entry->name == nullptr) return;
  ketu_file_entry *known = find_entry(entry->name);
  if (known != nullptr) {
    char *hash = copy_text(entry->hash);
    if (entry->hash != nullptr && hash == nullptr) return;
    std::free(known->hash);
    known->hash = hash;
    known->size = entry->size;
    return;
  }
  ketu_file_entry *copy = ketu_file_entry::create(entry->name, entry->hash, entry->size);
  if (copy == nullptr) return;
  copy->next = head;
  head = copy;
  index.add(copy);
}

int ketu_file_manifest::prune_missing(const char *directory) {
  int kept = 0;
  for (ketu_file_entry **link = &head; *link != nullptr;) {
    ketu_file_entry *entry = *link;
    bounded_text path;
    updater_text::file_path(path, directory, entry->name);
    if (vorn_is_regular_file(path.c_str())) {
      ++kept;
      link = &entry->next;
    } else {
      *link = entry->next;
      index.remove(entry);
      delete entry;
    }
  }
  return kept;
}

int ketu_file_manifest::save_file(const char *path) {
  bounded_text temporary;
  temporary.append(path);
  temporary.append(".XXXXXX");
  int fd = -1;
  if (path != nullptr && temporary.length < bounded_text::full)
    fd = mkostemp(temporary.text, O_CLOEXEC);
  if (fd < 0) {
    debug_message_about("Error in ketu_file_manifest::save_file() - unable to save file '", path,
                        "'.", 16, module_updater);
    return 0;
  }
  // The file keeps mkostemp's mode 0600: only this user's launchers read it.
  static const char header[] =
      "# This is an automatically generated file - do not modify\n"
      "# It contains a list of the files currently managed by the\n"
      "# updater.  Changing or deleting it may cause your next\n"
      "# update to download far more things than it needs.\n"
      "\n";
  block_writer out(fd);
  out.put(header, sizeof header - 1);
  for (ketu_file_entry *entry = head; entry != nullptr; entry = entry->next) {
    const char *hash = entry->hash != nullptr ? entry->hash : "";
    size_t hash_length = std::strlen(hash);
    if (hash_length < 20) {
      char length_text[16];
      std::snprintf(length_text, sizeof length_text, "%d", static_cast<int>(hash_length));
      bounded_text message;
      message.append("Error in ketu_file_manifest::save_file(), file '");
      message.append(entry->name);
      message.append("' had short hash len of ");
      message.append(length_text);
      message.append(".\n");
      debug_message(message.c_str(), 32, module_updater);
    }
    char size_text[16];
    int size_length =
        std::snprintf(size_text, sizeof size_text, " %10d ", static_cast<int>(entry->size));
    out.put(hash, hash_length);
    out.put(size_text, static_cast<size_t>(size_length));
    out.put(entry->name, std::strlen(entry->name));
    out.put("\n", 1);
  }
  int ok = out.flush();
  // On disk before it takes the old file's name, so that a crash leaves one
  // whole manifest or the other.
  if (ok && fsync(fd) != 0) ok = 0;
  if (::close(fd) != 0) ok = 0;
  if (ok && std::rename(temporary.c_str(), path) != 0) ok = 0;
  if (!ok) {
    unlink(temporary.c_str());
    debug_message_about("Error in ketu_file_manifest::save_file() - unable to save file '", path,
                        "'.", 16, module_updater);
    return 0;
  }
  // The rename itself reaches the disk with the directory.
  bounded_text directory;
  directory.append(path);
  char *slash = std::strrchr(directory.text, '/');
  if (slash != nullptr) {
    *(slash == directory.text ? slash + 1 : slash) = '\0';
    int dir_fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir_fd >= 0) {
      fsync(dir_fd);
      ::close(dir_fd);
    }
  }
  return 1;
}
