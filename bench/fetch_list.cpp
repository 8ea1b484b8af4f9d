// One fetch of the update list with http_fetch_remote_manifest_data: download,
// inflate and parse, the way the update run does it. scripts/bench times it
// against `curl -s URL | gzip -dc > /dev/null` on the same list.
//
// Usage: virelan_bench_fetch_list HOST PORT PATH
// Prints the number of entries; exit status 0 when the fetch succeeded.
#include <cstdio>
#include <cstdlib>

#include "support/debug_log.h"
#include "updater/remote_manifest.h"

int main(int argc, char **argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s HOST PORT PATH\n", argv[0]);
    return 2;
  }
  debug_messages_disable();
  http_fetch_remote_manifest_data list;
  int count = list.fetch(argv[1], std::atoi(argv[2]), 0, argv[3]);
  std::printf("%d entries\n", count);
  return count >= 0 ? 0 : 1;
}
