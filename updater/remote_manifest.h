// http_fetch_remote_manifest_data: downloads the update server's compressed
// file list, inflates it as it arrives (gzip or zlib, recognised by its
// header), cuts the text into lines and parses each into a ketu_file_entry.
// The list is never held whole: between blocks only the current, incomplete
// line is kept. The result is the entries in the order of the server's lines.
//
// A fetch succeeds only when the compressed stream reached its end: a list cut
// short (a truncated upload, a server that closed early) is refused rather
// than taken as a shorter list. A syntax error anywhere empties the list.
//
// Ownership: the object owns its entries until the next fetch or its
// destruction; callers may keep pointers to them while it lives. Threads: one
// thread (the updater thread).
#ifndef VIRELAN_UPDATER_REMOTE_MANIFEST_H
#define VIRELAN_UPDATER_REMOTE_MANIFEST_H

#include <zlib.h>

#include "support/bounded_text.h"
#include "updater/file_manifest.h"

// Told of the list download's progress (received, total; total -1 when the
// server gave no length). The result is handed back to the downloader, which
// ignores it.
typedef int (*remote_manifest_progress_callback)(void *user, int received, int total);

class http_fetch_remote_manifest_data {
 public:
  http_fetch_remote_manifest_data() = default;
  ~http_fetch_remote_manifest_data();
  http_fetch_remote_manifest_data(const http_fetch_remote_manifest_data &) = delete;
  http_fetch_remote_manifest_data &operator=(const http_fetch_remote_manifest_data &) = delete;

  // Downloads `path` and fills the list: the number of entries, or -1 on
  // failure (the list is then empty).
  int fetch(const char *host, int port, int use_tls, const char *path);
  // The downloader's data callback: inflates one block of the body. 1 accepts.
  static int download_data_callback(void *self, const char *data, int length);
  // The downloader's progress callback: completes a last line without a line
  // feed once everything announced has arrived, then forwards.
  static void progress_forwarder(void *self, int received, int total);
  // Adds inflated bytes to the line splitter; 1 normally, 0 after a syntax
  // error (the list is then emptied).
  int feed_text(const char *text, int length);
  // Empties the list.
  void clear();

  bounded_text line;
  ketu_file_entry *head = nullptr;
  ketu_file_entry **tail = &head;
  int count = 0;
  z_stream stream{};
  void *progress_user = nullptr;
  remote_manifest_progress_callback progress_callback = nullptr;

 private:
  int stream_ended_ = 0;
  int inflate_failed_ = 0;
};

#endif  // VIRELAN_UPDATER_REMOTE_MANIFEST_H
