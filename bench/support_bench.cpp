// Micro-benchmarks of the support library, each beside the standard-library
// peer doing the same work. A benchmark is named "<pair>/ours" or "<pair>/peer",
// followed by its argument if it has one; scripts/bench prints the ratio of the
// two medians.
//
// - hash_table_add/<n>: index n file entries (100,000 and 100) by name, starting
//   from an empty table each time (destruction included). The entries are
//   shaped like the manifest's: a record allocated on its own that holds its
//   name and digest as heap strings. Ours is VoidPointerHashTable with
//   hash_string, holding pointers to the entries; the peer is
//   std::unordered_map<std::string, void *> from name to entry, which copies
//   each name into its node.
// - hash_table_find/<n>: look up all n names (separate copies of the texts, in
//   shuffled order) in a table of n entries built once.
// - text_build_path: directory + "/" + name + suffix into a fresh buffer,
//   bounded_text against std::string.
// - text_fill_short_appends: 1,000 appends of 1 to 8 characters (about 2,900
//   bytes, below bounded_text's limit) into a fresh buffer.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include "support/bounded_text.h"
#include "support/pointer_hash_table.h"

namespace {

constexpr int name_count = 100000;

// A managed file as the manifest keeps one.
struct file_entry {
  std::string name;
  std::string digest;
  int size;
};

// File names as an update list holds them: a few directories, a number, an
// extension; 28 to 42 characters, so std::string cannot keep them inline.
const std::vector<std::string> &file_names() {
  static const std::vector<std::string> names = [] {
    const char *directories[] = {"executables", "data/maps", "data/sounds",    "data/textures",
                                 "lib",         "docs",      "patches/pending"};
    const char *extensions[] = {"bin", "pak", "ogg", "png", "so.1", "txt", "tar.gz"};
    std::vector<std::string> out;
    out.reserve(name_count);
    char text[128];
    for (int i = 0; i < name_count; ++i) {
      std::snprintf(text, sizeof text, "%s/client_file_%07u.%s", directories[i % 7],
                    static_cast<unsigned>(i) * 2654435761u % 10000000u, extensions[i % 7]);
      out.emplace_back(text);
    }
    return out;
  }();
  return names;
}

const std::vector<std::unique_ptr<file_entry>> &file_entries() {
  static const std::vector<std::unique_ptr<file_entry>> entries = [] {
    std::vector<std::unique_ptr<file_entry>> out;
    out.reserve(name_count);
    for (const std::string &name : file_names()) {
      out.push_back(std::make_unique<file_entry>(
          file_entry{name, "d41d8cd98f00b204e9800998ecf8427e", static_cast<int>(name.size())}));
    }
    return out;
  }();
  return entries;
}

// Copies of the first `n` names in shuffled order, so a lookup neither meets
// the stored text's own pointer nor walks the table in insertion order.
std::vector<std::string> lookup_keys(int n) {
  std::vector<std::string> keys(file_names().begin(), file_names().begin() + n);
  std::shuffle(keys.begin(), keys.end(), std::mt19937(12345));
  return keys;
}

uint32_t name_item_hash(const void *item) {
  return hash_string(static_cast<const file_entry *>(item)->name.c_str());
}
uint32_t name_key_hash(const void *key) { return hash_string(static_cast<const char *>(key)); }
int name_matches(const void *item, const void *key) {
  return std::strcmp(static_cast<const file_entry *>(item)->name.c_str(),
                     static_cast<const char *>(key)) == 0;
}

// The hash table benchmarks take the number of entries as their argument.
int entry_count(const benchmark::State &state) { return static_cast<int>(state.range(0)); }

void add_names_ours(benchmark::State &state) {
  const int n = entry_count(state);
  const auto &entries = file_entries();
  for (auto _ : state) {
    VoidPointerHashTable table(name_item_hash, name_key_hash, name_matches);
    for (int i = 0; i < n; ++i) table.add(entries[i].get());
    benchmark::DoNotOptimize(table.count);
  }
  state.SetItemsProcessed(state.iterations() * n);
}

void add_names_peer(benchmark::State &state) {
  const int n = entry_count(state);
  const auto &entries = file_entries();
  for (auto _ : state) {
    std::unordered_map<std::string, void *> table;
    for (int i = 0; i < n; ++i) table.emplace(entries[i]->name, entries[i].get());
    benchmark::DoNotOptimize(table.size());
  }
  state.SetItemsProcessed(state.iterations() * n);
}

void find_names_ours(benchmark::State &state) {
  const int n = entry_count(state);
  VoidPointerHashTable table(name_item_hash, name_key_hash, name_matches);
  for (int i = 0; i < n; ++i) table.add(file_entries()[i].get());
  const std::vector<std::string> keys = lookup_keys(n);
  for (auto _ : state) {
    int found = 0;
    for (const std::string &key : keys) found += table.find(key.c_str()) != nullptr;
    if (found != n) state.SkipWithError("a stored name was not found");
    benchmark::DoNotOptimize(found);
  }
  state.SetItemsProcessed(state.iterations() * n);
}

void find_names_peer(benchmark::State &state) {
  const int n = entry_count(state);
  std::unordered_map<std::string, void *> table;
  for (int i = 0; i < n; ++i) table.emplace(file_entries()[i]->name, file_entries()[i].get());
  const std::vector<std::string> keys = lookup_keys(n);
  for (auto _ : state) {
    int found = 0;
    for (const std::string &key : keys) found += table.find(key) != table.end();
    if (found != n) state.SkipWithError("a stored name was not found");
    benchmark::DoNotOptimize(found);
  }
  state.SetItemsProcessed(state.iterations() * n);
}

const char path_directory[] = "/home/player/.Virelan/executables";
const char path_suffix[] = ".tmp";
// Names cycled through by the path benchmarks.
const char *const path_names[] = {
    "virelan_client_1.096",
    "virelan_client_1.097_beta",
    "update_manifest.lst",
    "bootname.txt",
    "download",
    "virelan_client_1.095",
    "launcher.cfg",
    "torvane_launcher_log.txt",
};
constexpr unsigned path_name_count = sizeof path_names / sizeof path_names[0];

void build_path_ours(benchmark::State &state) {
  unsigned i = 0;
  for (auto _ : state) {
    bounded_text path;
    path.assign(path_directory);
    path.append("/");
    path.append(path_names[i++ % path_name_count]);
    path.append(path_suffix);
    char *text = path.text;
    benchmark::DoNotOptimize(text);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());
}

void build_path_peer(benchmark::State &state) {
  unsigned i = 0;
  for (auto _ : state) {
    std::string path(path_directory);
    path += "/";
    path += path_names[i++ % path_name_count];
    path += path_suffix;
    char *text = path.data();
    benchmark::DoNotOptimize(text);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());
}

constexpr int short_append_count = 1000;
const char *const short_words[] = {"a", "bc", "def", "ghij", "klmno", "pqrs",     "tuv", "wx",
                                   "y", "z ", " ",   "123",  "45678", "9abcdefg", "/",   "\n"};
constexpr unsigned short_word_count = sizeof short_words / sizeof short_words[0];

void fill_short_appends_ours(benchmark::State &state) {
  for (auto _ : state) {
    bounded_text text;
    for (int k = 0; k < short_append_count; ++k) text.append(short_words[k % short_word_count]);
    char *content = text.text;
    benchmark::DoNotOptimize(content);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * short_append_count);
}

void fill_short_appends_peer(benchmark::State &state) {
  for (auto _ : state) {
    std::string text;
    for (int k = 0; k < short_append_count; ++k) text += short_words[k % short_word_count];
    char *content = text.data();
    benchmark::DoNotOptimize(content);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * short_append_count);
}

}  // namespace

// 100,000 entries for scale, 100 for a manifest's everyday size.
BENCHMARK(add_names_ours)
    ->Name("hash_table_add/ours")
    ->Arg(100000)
    ->Arg(100)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(add_names_peer)
    ->Name("hash_table_add/peer")
    ->Arg(100000)
    ->Arg(100)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(find_names_ours)
    ->Name("hash_table_find/ours")
    ->Arg(100000)
    ->Arg(100)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(find_names_peer)
    ->Name("hash_table_find/peer")
    ->Arg(100000)
    ->Arg(100)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(build_path_ours)->Name("text_build_path/ours");
BENCHMARK(build_path_peer)->Name("text_build_path/peer");
BENCHMARK(fill_short_appends_ours)
    ->Name("text_fill_short_appends/ours")
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(fill_short_appends_peer)
    ->Name("text_fill_short_appends/peer")
    ->Unit(benchmark::kMicrosecond);
