// The local manifest at scale: load, prune and save of 100,000 entries (the
// everyday manifest holds a few), each beside a plain peer doing the same file
// work with the standard library.
#include <benchmark/benchmark.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <unordered_map>
#include <vector>

#include "support/debug_log.h"
#include "updater/file_manifest.h"

namespace {

constexpr int entries = 100000;

struct fixture {
  std::string dir;
  std::string manifest;
  fixture() {
    char pattern[] = "/tmp/virelan-bench-XXXXXX";
    dir = mkdtemp(pattern);
    manifest = dir + "/update_manifest.lst";
    mkdir((dir + "/files").c_str(), 0700);
    ketu_file_manifest m;
    for (int i = 0; i < entries; ++i) {
      char name[64];
      std::snprintf(name, sizeof name, "data/client_file_%07d.pak", i);
      ketu_file_entry *e = ketu_file_entry::create(name, "0123456789abcdef0123456789abcdef", i);
      m.merge_entry(e);
      delete e;
    }
    debug_messages_disable();
    m.save_file(manifest.c_str());
  }
  ~fixture() { std::system(("rm -rf '" + dir + "'").c_str()); }
};

fixture &files() {
  static fixture f;
  return f;
}

void manifest_load_ours(benchmark::State &state) {
  for (auto _ : state) {
    ketu_file_manifest m;
    benchmark::DoNotOptimize(m.load_file(files().manifest.c_str()));
  }
}
BENCHMARK(manifest_load_ours)->Name("manifest_load/ours")->Unit(benchmark::kMillisecond);

// The peer: the same lines read with std::getline, split with sscanf and
// indexed by name in an unordered_map.
void manifest_load_peer(benchmark::State &state) {
  struct record {
    std::string hash;
    int size;
  };
  for (auto _ : state) {
    std::unordered_map<std::string, record> index;
    std::ifstream in(files().manifest);
    std::string line;
    while (std::getline(in, line)) {
      if (line.empty() || line[0] == '#') continue;
      char hash[128];
      int size = 0, offset = 0;
      if (std::sscanf(line.c_str(), "%127s %d %n", hash, &size, &offset) < 2) continue;
      index.emplace(line.substr(static_cast<size_t>(offset)), record{hash, size});
    }
    benchmark::DoNotOptimize(index.size());
  }
}
BENCHMARK(manifest_load_peer)->Name("manifest_load/peer")->Unit(benchmark::kMillisecond);

void manifest_prune_ours(benchmark::State &state) {
  ketu_file_manifest m;
  for (auto _ : state) {
    state.PauseTiming();
    m.load_file(files().manifest.c_str());
    state.ResumeTiming();
    benchmark::DoNotOptimize(m.prune_missing((files().dir + "/files").c_str()));
  }
}
BENCHMARK(manifest_prune_ours)->Name("manifest_prune/ours")->Unit(benchmark::kMillisecond);

// The peer: one stat() per name, the system work a prune cannot avoid.
void manifest_prune_peer(benchmark::State &state) {
  std::vector<std::string> paths;
  for (int i = 0; i < entries; ++i) {
    char name[96];
    std::snprintf(name, sizeof name, "/files/data/client_file_%07d.pak", i);
    paths.push_back(files().dir + name);
  }
  for (auto _ : state) {
    int kept = 0;
    struct stat info;
    for (const auto &p : paths) kept += stat(p.c_str(), &info) == 0 && S_ISREG(info.st_mode);
    benchmark::DoNotOptimize(kept);
  }
}
BENCHMARK(manifest_prune_peer)->Name("manifest_prune/peer")->Unit(benchmark::kMillisecond);

void manifest_save_ours(benchmark::State &state) {
  ketu_file_manifest m;
  m.load_file(files().manifest.c_str());
  const std::string out = files().dir + "/saved.lst";
  for (auto _ : state) benchmark::DoNotOptimize(m.save_file(out.c_str()));
}
BENCHMARK(manifest_save_ours)->Name("manifest_save/ours")->Unit(benchmark::kMillisecond);

// The peer: the same text through one buffered stream, then fsync and rename,
// as a careful save must.
void manifest_save_peer(benchmark::State &state) {
  ketu_file_manifest m;
  m.load_file(files().manifest.c_str());
  const std::string out = files().dir + "/saved.lst";
  const std::string temporary = out + ".tmp";
  for (auto _ : state) {
    std::FILE *f = std::fopen(temporary.c_str(), "w");
    std::fputs("# header\n\n", f);
    for (ketu_file_entry *e = m.head; e != nullptr; e = e->next)
      std::fprintf(f, "%s %10d %s\n", e->hash, e->size, e->name);
    std::fflush(f);
    fsync(fileno(f));
    std::fclose(f);
    std::rename(temporary.c_str(), out.c_str());
  }
}
BENCHMARK(manifest_save_peer)->Name("manifest_save/peer")->Unit(benchmark::kMillisecond);

}  // namespace
