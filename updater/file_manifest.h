// The file manifest: for every file the updater manages below the executables
// directory, the digest text and size the update server announced when the
// file was last fetched. It is the updater's memory between runs; the boot
// sequence reads the same file to find the images it may start.
//
// The line format ("digest size name") serves both the local file
// "update_manifest.lst" and the server's list (parse_manifest_line). The digest
// is an opaque token compared as text; the launcher never computes one.
//
// List order matters to the boot sequence: load_file() appends in file order,
// merge_entry() puts a new entry first, prune_missing() keeps the order of the
// survivors, save_file() writes front to back.
//
// Ownership: the manifest owns the entries of its list; the index holds
// pointers to the same entries and owns none. Threads: one thread at a time
// (the updater's manifest on the updater thread, the boot's on the GUI thread);
// they share only the file, which save_file() replaces atomically.
#ifndef VIRELAN_UPDATER_FILE_MANIFEST_H
#define VIRELAN_UPDATER_FILE_MANIFEST_H

#include <cstdint>

#include "support/pointer_hash_table.h"

// One managed file. Destroying it frees `name` and `hash`.
struct ketu_file_entry {
  ketu_file_entry() = default;
  ~ketu_file_entry();
  ketu_file_entry(const ketu_file_entry &) = delete;
  ketu_file_entry &operator=(const ketu_file_entry &) = delete;

  // A new entry with copies of the texts (null texts stay null); null when
  // memory ran out.
  static ketu_file_entry *create(const char *name, const char *hash, int32_t size);

  char *name = nullptr;  // path relative to the executables directory
  char *hash = nullptr;  // digest text
  int32_t size = 0;
  ketu_file_entry *next = nullptr;
};

// Frees a list of entries linked through `next`.
void ketu_free_entry_list(ketu_file_entry *head);

// 1 when `name` may be used as a path below the executables directory: not
// empty once leading "/" and "\" are removed, without a ".." component
// (components split at "/" and "\"), and not one of the updater's own files
// there ("lock.tmp", "update_manifest.lst", "download.tmp"). The server's list
// decides these names, so anything that could reach outside the directory or
// replace the updater's files is refused.
int ketu_is_safe_name(const char *name);

// Parses one line of the manifest grammar. 1 when accepted, with `*out` a new
// entry (entry line) or null (blank or comment line); 0 after reporting a
// syntax error (two messages: the reason naming `source`, then the line), with
// `*out` null.
int parse_manifest_line(const char *source, const char *line, ketu_file_entry **out);

// Reads a file of one name per line (blank and "#" lines skipped, leading blanks
// removed) into a list of name-only entries in file order, appended at `*tail`.
// The count, or -1 when the file cannot be opened.
int ketu_load_name_list(const char *path, ketu_file_entry **head);

class ketu_file_manifest {
 public:
  ketu_file_manifest();
  ~ketu_file_manifest();
  ketu_file_manifest(const ketu_file_manifest &) = delete;
  ketu_file_manifest &operator=(const ketu_file_manifest &) = delete;

  // Replaces the content with the entries of the file: their number, or -1
  // when the file cannot be opened or a line has a syntax error (the entries
  // before the bad line stay). A reload never holds an entry twice.
  int load_file(const char *path);
  // The entry of that name (the most recently added of equal names), or null.
  ketu_file_entry *find_entry(const char *name) const;
  // Records a downloaded file: updates the entry of that name, or puts a copy
  // of `entry` first in the list.
  void merge_entry(const ketu_file_entry *entry);
  // Removes the entries whose file is not a regular file below `directory`;
  // returns how many remain.
  int prune_missing(const char *directory);
  // Writes the manifest to a temporary file beside `path`, checks every write,
  // flushes it to disk and renames it over `path`. 1 on success; 0 with a
  // report and the old file untouched otherwise.
  int save_file(const char *path);
  // Removes every entry.
  void clear();

  ketu_file_entry *head = nullptr;
  VoidPointerHashTable index;
};

#endif  // VIRELAN_UPDATER_FILE_MANIFEST_H
