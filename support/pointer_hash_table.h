// VoidPointerHashTable: an index of items that live elsewhere, found by a key.
//
// The table stores only pointers. It knows nothing of the items' layout: three
// functions given at construction compute an item's hash, a key's hash and
// whether an item is the one a key names. The caller must keep them consistent:
// whenever item_matches_key(item, key) holds, item_hash(item) must equal
// key_hash(key). The file manifest indexes its entries by name this way, with
// hash_string() on both sides.
//
// Ownership: the table owns its bucket array and one small node per stored item;
// it never frees, copies or reads the items itself (only the three functions
// look at them). An item must stay alive, and its hash must not change, while it
// is in the table.
//
// Chains: each bucket holds a singly linked chain, newest node first, so find()
// returns the most recently added of several items that match a key. Growth
// (doubling when `count` passes `capacity` / 2) moves the nodes by their stored
// hash without calling item_hash() again, and reverses the order of nodes that
// stay together in one chain.
//
// Reports go through debug_message() (module 1) and never stop the program: a
// repeated item pointer (category 4; not added), a chain of more than 50 nodes
// (category 8; reported on every further add to it, which proceeds), a failed
// allocation (category 1 for the first bucket array, 2 otherwise).
//
// Without a bucket array (its allocation at construction failed, `buckets` is
// null and `capacity`, `mask` and `count` are 0) the table stays safe to use:
// find() gives null, remove() gives 0, clear() does nothing, and add() (or
// expand_hash_table()) tries to allocate the 256 buckets again; when that fails
// too, add() drops the item with a report.
//
// Threads: none. A table belongs to one thread at a time and has no lock; its
// owner provides any locking.
#ifndef VIRELAN_SUPPORT_POINTER_HASH_TABLE_H
#define VIRELAN_SUPPORT_POINTER_HASH_TABLE_H

#include <cstddef>
#include <cstdint>

class VoidPointerHashTable {
 public:
  using item_hash_function = uint32_t (*)(const void *item);
  using key_hash_function = uint32_t (*)(const void *key);
  // Nonzero when `item` is the one `key` names.
  using item_matches_key_function = int (*)(const void *item, const void *key);

  // One per stored item, allocated singly.
  struct node {
    uint32_t hash;  // item_hash(item), computed once by add()
    void *item;     // not owned
    node *next;     // next node of the same chain, or null
  };

  static constexpr uint32_t initial_capacity = 256;
  // A chain longer than this is reported on every add to it.
  static constexpr uint32_t long_chain = 50;

  // 256 empty buckets. The three functions must not be null.
  VoidPointerHashTable(item_hash_function item_hash, key_hash_function key_hash,
                       item_matches_key_function item_matches_key);
  // Frees the nodes and the bucket array, never the items.
  ~VoidPointerHashTable();
  VoidPointerHashTable(const VoidPointerHashTable &) = delete;
  VoidPointerHashTable &operator=(const VoidPointerHashTable &) = delete;

  // Stores `item` (a null item is ignored). Items are told apart by pointer
  // only: the same pointer twice is reported and not added again, while a
  // second item with an equal key is stored normally. An item that cannot get
  // a node is reported and not stored.
  void add(void *item);
  // The first item of the key's chain that matches `key` (the newest one unless
  // a growth reordered the chain), or null.
  void *find(const void *key) const;
  // Removes the node holding exactly this pointer: 1 if there was one, else 0.
  int remove(const void *item);
  // Doubles the bucket array; on allocation failure keeps the old one (with a
  // report) and the table goes on working with longer chains. add() calls it.
  void expand_hash_table();
  // Frees every node; the bucket array and `capacity` stay.
  void clear();

  // Read by tests and diagnostics; changed only through the calls above.
  node **buckets;     // `capacity` chain heads, or null when allocation failed
  uint32_t capacity;  // a power of two, or 0 without a bucket array
  uint32_t mask;      // capacity - 1 (0 without a bucket array)
  uint32_t count;     // nodes in the table

  item_hash_function item_hash;
  key_hash_function key_hash;
  item_matches_key_function item_matches_key;

 private:
  // Allocates the first bucket array; 1 on success.
  int allocate_initial_buckets();
  void free_nodes();
};

// The hash for text keys: a one-at-a-time hash of the bytes (taken as 0..255)
// with the text's length mixed in. A null text hashes like the empty one.
uint32_t hash_string(const char *text);
// The variant for byte blocks: `length` seeds the hash instead of being mixed
// in at the end. Only the low 32 bits of `length` count toward the seed.
uint32_t hash_bytes(const void *data, std::size_t length);

#endif  // VIRELAN_SUPPORT_POINTER_HASH_TABLE_H
