// Block allocation: many small records of one type carved out of one allocation.
//
// vorn_bulk_allocate() takes one block of about `budget` bytes, cuts it into
// records of the (rounded) object size and chains them through their first
// pointer-sized word, so that a pool hands out records one at a time without a
// call to the allocator per record. Blocks are never given back to the system:
// a pool's records return to its free list and the memory lives until the
// process ends. The records of one call are one block from operator new
// (std::nothrow) whose start is the first record; a caller that owns such a
// chain outright (not through a pool) may release it with ::operator delete on
// that first record.
//
// Out of memory is not returned: when not even a single record can be had the
// process ends with status 1 after a report (module 9), so every call yields at
// least one record.
//
// Threads: vorn_bulk_allocate() and the statistics may be used from any thread.
// A vorn_bulk_pool has no lock; it belongs to one thread at a time, or its owner
// guards it.
#ifndef VIRELAN_SUPPORT_BULK_ALLOCATOR_H
#define VIRELAN_SUPPORT_BULK_ALLOCATOR_H

// Returns the first record of a chain of `budget_bytes` / size records (at
// least one). The size is raised to a multiple of 4 and to at least the size of
// a pointer, which the chain needs. A record's chain word may be unaligned (a
// size of 12 with 8-byte pointers); read it with vorn_bulk_next().
void *vorn_bulk_allocate(int object_size, const char *type_name, int budget_bytes);

// The record after `record` in its chain, or null.
void *vorn_bulk_next(const void *record);

// Process-wide totals since start: bytes taken by vorn_bulk_allocate() and the
// number of blocks. Either pointer may be null.
void vorn_bulk_allocation_stats(long long *bytes, int *blocks);

// A free list of records of one type, refilled a block at a time. Set it up
// with an aggregate: {nullptr, "struct name", budget, sizeof(struct name)}.
struct vorn_bulk_pool {
  void *free_list;        // first free record, or null
  const char *type_name;  // for the allocator's reports
  int budget_bytes;       // size of each block
  int object_size;

  // Replaces the free list with a fresh block's chain (only call it when the
  // list is empty, or the records on it are lost).
  void refill();
  // A record from the free list, refilled when empty. Its contents are
  // whatever was left there; never null.
  void *take();
  // Puts `record` (null: nothing) at the front of the free list.
  void give_back(void *record);
};

#endif  // VIRELAN_SUPPORT_BULK_ALLOCATOR_H
