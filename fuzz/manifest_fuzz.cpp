// The update list's path from bytes on the wire to entries: arbitrary bytes,
// first as a compressed stream cut into arbitrary blocks and handed to the
// inflating data callback, then the same bytes as already inflated text. The
// input's first byte chooses the block size. Checks what the updater relies
// on: every entry has a name and a digest of at least 10 characters, the count
// matches the list, and a syntax error leaves the list empty.
#include <zlib.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "support/debug_log.h"
#include "updater/remote_manifest.h"

namespace {

void check(const http_fetch_remote_manifest_data &list) {
  int n = 0;
  for (const ketu_file_entry *e = list.head; e != nullptr; e = e->next) {
    if (e->name == nullptr || e->name[0] == '\0' || e->hash == nullptr || std::strlen(e->hash) < 10)
      std::abort();
    ++n;
  }
  if (n != list.count) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  if (size < 1) return 0;
  debug_messages_disable();
  const std::size_t block = 1 + data[0] % 97;
  const char *bytes = reinterpret_cast<const char *>(data + 1);
  const int length = static_cast<int>(size - 1);

  {
    http_fetch_remote_manifest_data list;
    if (inflateInit2(&list.stream, 47) != Z_OK) return 0;
    for (int at = 0; at < length;) {
      int n = static_cast<int>(block) < length - at ? static_cast<int>(block) : length - at;
      int accepted = http_fetch_remote_manifest_data::download_data_callback(&list, bytes + at, n);
      check(list);
      // A refused block ends the download; fetch() then empties the list.
      if (!accepted) break;
      at += n;
    }
    inflateEnd(&list.stream);
  }
  {
    http_fetch_remote_manifest_data list;
    for (int at = 0; at < length;) {
      int n = static_cast<int>(block) < length - at ? static_cast<int>(block) : length - at;
      if (!list.feed_text(bytes + at, n)) {
        if (list.count != 0) std::abort();
        break;
      }
      check(list);
      at += n;
    }
    list.feed_text("\n", 1);
    check(list);
  }
  return 0;
}
