// One download with vorn_http_downloader, the way the updater runs it: file
// mode, plain HTTP, a progress callback. scripts/bench times it against
// `curl -o` fetching the same file from the same server.
//
// Usage: virelan_bench_download HOST PORT PATH DESTINATION
// Exit status 0 when the download succeeded.
#include <cstdio>
#include <cstdlib>

#include "http/http_downloader.h"
#include "support/debug_log.h"

namespace {
void progress(void *, int, int) {}
}  // namespace

int main(int argc, char **argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: %s HOST PORT PATH DESTINATION\n", argv[0]);
    return 2;
  }
  // The downloader's messages only when asked for (VIRELAN_BENCH_LOG=1).
  if (std::getenv("VIRELAN_BENCH_LOG") == nullptr) debug_messages_disable();
  vorn_http_downloader downloader;
  downloader.progress_callback = progress;
  if (!downloader.set_connection(argv[1], std::atoi(argv[2]), 0)) {
    std::fprintf(stderr, "cannot resolve %s\n", argv[1]);
    return 1;
  }
  return downloader.download(argv[1], argv[3], argv[4]) ? 0 : 1;
}
