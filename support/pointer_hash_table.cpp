#include "support/pointer_hash_table.h"

#include <cstdio>
#include <new>

#include "support/debug_log.h"

namespace {

constexpr int module_helpers = 1;
constexpr int category_initial_alloc = 1;
constexpr int category_alloc = 2;
constexpr int category_duplicate = 4;
constexpr int category_long_chain = 8;

// Largest bucket count we try: doubling it again would overflow the 32-bit
// capacity, and the array must stay addressable on 32-bit targets.
constexpr uint64_t max_capacity = uint64_t{1} << 31;

VoidPointerHashTable::node **allocate_buckets(uint64_t capacity) {
  if (capacity > max_capacity || capacity > SIZE_MAX / sizeof(VoidPointerHashTable::node *)) {
    return nullptr;
  }
  // Value-initialised: every chain starts empty.
  return new (std::nothrow) VoidPointerHashTable::node *[static_cast<std::size_t>(capacity)]();
}

inline uint32_t mix_byte(uint32_t h, uint32_t c) {
  h += c;
  h += h << 10;
  h ^= h >> 6;
  return h;
}

inline uint32_t finish(uint32_t h) {
  h += h << 3;
  h ^= h >> 11;
  h += h << 15;
  return h;
}

constexpr uint32_t hash_seed = 0x5D3B915D;

}  // namespace

VoidPointerHashTable::VoidPointerHashTable(item_hash_function item_hash_fn,
                                           key_hash_function key_hash_fn,
                                           item_matches_key_function item_matches_key_fn)
    : buckets(nullptr),
      capacity(0),
      mask(0),
      count(0),
      item_hash(item_hash_fn),
      key_hash(key_hash_fn),
      item_matches_key(item_matches_key_fn) {
  if (!allocate_initial_buckets()) {
    debug_message("Error in VoidPointerHashTable(), initial table alloc failed.",
                  category_initial_alloc, module_helpers);
  }
}

VoidPointerHashTable::~VoidPointerHashTable() {
  item_hash = nullptr;
  key_hash = nullptr;
  item_matches_key = nullptr;
  free_nodes();
  delete[] buckets;
  buckets = nullptr;
  capacity = 0;
  mask = 0;
  count = 0;
}

int VoidPointerHashTable::allocate_initial_buckets() {
  buckets = allocate_buckets(initial_capacity);
  if (buckets == nullptr) {
    capacity = 0;
    mask = 0;
    return 0;
  }
  capacity = initial_capacity;
  mask = initial_capacity - 1;
  return 1;
}

void VoidPointerHashTable::add(void *item) {
  if (item == nullptr) return;
  if (buckets == nullptr && !allocate_initial_buckets()) {
    debug_message(
        "Error in VoidPointerHashTable::add(), unable to allocate table of size 256.  Thing "
        "dropped.",
        category_alloc, module_helpers);
    return;
  }
  if (count > capacity / 2) expand_hash_table();

  const uint32_t hash = item_hash(item);
  const uint32_t bucket = hash & mask;
  uint32_t length = 0;
  for (const node *n = buckets[bucket]; n != nullptr; n = n->next) {
    if (n->item == item) {
      debug_message("Error in VoidPointerHashTable::add(), attempt to add duplicate thing.",
                    category_duplicate, module_helpers);
      return;
    }
    ++length;
  }
  if (length > long_chain) {
    char report[1000];
    std::snprintf(report, sizeof report,
                  "Error in VoidPointerHashTable::add(), found %u things in bucket %u.", length,
                  bucket);
    debug_message(report, category_long_chain, module_helpers);
  }

  node *fresh = new (std::nothrow) node{hash, item, buckets[bucket]};
  if (fresh == nullptr) {
    debug_message("Error in VoidPointerHashTable::add(), unable to allocate node.  Thing dropped.",
                  category_alloc, module_helpers);
    return;
  }
  buckets[bucket] = fresh;
  ++count;
}

void *VoidPointerHashTable::find(const void *key) const {
  if (buckets == nullptr) return nullptr;
  // Stored hashes are not compared first: item_matches_key() alone decides.
  for (const node *n = buckets[key_hash(key) & mask]; n != nullptr; n = n->next) {
    if (item_matches_key(n->item, key)) return n->item;
  }
  return nullptr;
}

int VoidPointerHashTable::remove(const void *item) {
  if (buckets == nullptr || item == nullptr) return 0;
  for (node **link = &buckets[item_hash(item) & mask]; *link != nullptr; link = &(*link)->next) {
    node *n = *link;
    if (n->item == item) {
      *link = n->next;
      delete n;
      --count;
      return 1;
    }
  }
  return 0;
}

void VoidPointerHashTable::expand_hash_table() {
  if (buckets == nullptr) {
    if (!allocate_initial_buckets()) {
      debug_message(
          "Error in VoidPointerHashTable::expand_hash_table(), unable to allocate table of size "
          "256.",
          category_alloc, module_helpers);
    }
    return;
  }
  const uint64_t new_capacity = uint64_t{capacity} * 2;
  node **new_buckets = allocate_buckets(new_capacity);
  if (new_buckets == nullptr) {
    char report[1000];
    std::snprintf(report, sizeof report,
                  "Error in VoidPointerHashTable::expand_hash_table(), unable to allocate table "
                  "of size %llu.  Using old table.",
                  static_cast<unsigned long long>(new_capacity));
    debug_message(report, category_alloc, module_helpers);
    return;
  }
  const uint32_t new_mask = static_cast<uint32_t>(new_capacity - 1);
  for (uint32_t i = 0; i < capacity; ++i) {
    node *n = buckets[i];
    while (n != nullptr) {
      node *next = n->next;
      node **head = &new_buckets[n->hash & new_mask];
      n->next = *head;
      *head = n;
      n = next;
    }
  }
  delete[] buckets;
  buckets = new_buckets;
  capacity = static_cast<uint32_t>(new_capacity);
  mask = new_mask;
}

void VoidPointerHashTable::clear() {
  free_nodes();
  count = 0;
}

void VoidPointerHashTable::free_nodes() {
  if (buckets == nullptr) return;
  for (uint32_t i = 0; i < capacity; ++i) {
    node *n = buckets[i];
    while (n != nullptr) {
      node *next = n->next;
      delete n;
      n = next;
    }
    buckets[i] = nullptr;
  }
}

uint32_t hash_string(const char *text) {
  uint32_t h = hash_seed;
  uint32_t length = 0;
  if (text != nullptr) {
    for (const unsigned char *p = reinterpret_cast<const unsigned char *>(text); *p != 0; ++p) {
      h = mix_byte(h, *p);
      ++length;
    }
  }
  h = mix_byte(h, length & 0xFF);
  h = mix_byte(h, (length >> 8) & 0xFF);
  h = mix_byte(h, (length >> 16) & 0xFF);
  h = mix_byte(h, length >> 24);
  return finish(h);
}

uint32_t hash_bytes(const void *data, std::size_t length) {
  uint32_t h = static_cast<uint32_t>(length) + hash_seed;
  const unsigned char *bytes = static_cast<const unsigned char *>(data);
  for (std::size_t i = 0; i < length; ++i) h = mix_byte(h, bytes[i]);
  return finish(h);
}
