#include "updater/remote_manifest.h"

#include "http/http_downloader.h"
#include "support/debug_log.h"

namespace {
constexpr int module_updater = 12;
constexpr int inflate_block = 65536;
}  // namespace

http_fetch_remote_manifest_data::~http_fetch_remote_manifest_data() { clear(); }

void http_fetch_remote_manifest_data::clear() {
  ketu_free_entry_list(head);
  head = nullptr;
  tail = &head;
  count = 0;
}

int http_fetch_remote_manifest_data::fetch(const char *host, int port, int use_tls,
                                           const char *path) {
  clear();
  line.clear();
  stream_ended_ = 0;
  inflate_failed_ = 0;
  stream = z_stream{};
  // 15 + 32: a 32 KiB window and automatic recognition of a gzip or zlib header.
  if (inflateInit2(&stream, 47) != Z_OK) return -1;

  int ok;
  {
    vorn_http_downloader downloader;
    downloader.progress_callback = progress_forwarder;
    downloader.data_callback = download_data_callback;
    downloader.callback_user = this;
    downloader.set_connection(host, port, use_tls);
    ok = downloader.download(host, path);
  }
  inflateEnd(&stream);
  if (ok && !stream_ended_) {
    // The body ended inside the compressed stream: part of the list is missing.
    debug_message("Error in http_fetch_remote_manifest_data::fetch(), compressed list ended early.",
                  2, module_updater);
    ok = 0;
  }
  if (!ok) {
    clear();
    return -1;
  }
  // A last line without a line feed, when no length told the forwarder that
  // everything had arrived.
  if (line.length > 0) feed_text("\n", 1);
  return count;
}

int http_fetch_remote_manifest_data::download_data_callback(void *self, const char *data,
                                                            int length) {
  auto *f = static_cast<http_fetch_remote_manifest_data *>(self);
  if (f->stream_ended_) return 1;  // bytes after the end of the stream are ignored
  f->stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data));
  f->stream.avail_in = static_cast<uInt>(length);
  static thread_local char output[inflate_block];
  for (;;) {
    f->stream.next_out = reinterpret_cast<Bytef *>(output);
    f->stream.avail_out = sizeof output;
    int r = inflate(&f->stream, Z_NO_FLUSH);
    if (r == Z_BUF_ERROR) return 1;
    if (r != Z_OK && r != Z_STREAM_END) {
      debug_message(
          "Error in http_fetch_remote_manifest_data::download_data_callback(), ZLip inflate "
          "failed?",
          2, module_updater);
      f->inflate_failed_ = 1;
      return 0;
    }
    int produced = static_cast<int>(sizeof output - f->stream.avail_out);
    if (produced > 0 && !f->feed_text(output, produced)) return 0;
    if (r == Z_STREAM_END) {
      f->stream_ended_ = 1;
      return 1;
    }
    // All input used and the output not full: inflate has nothing more now.
    if (f->stream.avail_in == 0 && f->stream.avail_out > 0) return 1;
  }
}

void http_fetch_remote_manifest_data::progress_forwarder(void *self, int received, int total) {
  auto *f = static_cast<http_fetch_remote_manifest_data *>(self);
  if (received == total) f->feed_text("\n", 1);
  if (f->progress_callback != nullptr) f->progress_callback(f->progress_user, received, total);
}

int http_fetch_remote_manifest_data::feed_text(const char *text, int length) {
  for (int i = 0; i < length; ++i) {
    if (text[i] != '\n') {
      line.append_char(text[i]);
      continue;
    }
    ketu_file_entry *entry = nullptr;
    if (!parse_manifest_line("downloaded data", line.c_str(), &entry)) {
      clear();
      line.clear();
      return 0;
    }
    line.clear();
    if (entry == nullptr) continue;
    *tail = entry;
    tail = &entry->next;
    ++count;
  }
  return 1;
}
