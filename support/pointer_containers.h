// Two small containers of untyped pointers: an append-only array and a min-heap.
//
// Neither owns what its pointers point to; each owns only its own storage. The
// boot sequence keeps its ordered list of candidate images in a
// vorn_pointer_array and sorts names through a vorn_pointer_heap; the updater
// keeps further lists in arrays.
//
// Memory: growth allocates with new (std::nothrow). When it cannot get memory
// the container is left exactly as it was (old storage, entries and capacity),
// the pointer is not stored, the failure is reported through debug_message()
// (category 2, module 1) and append()/push() return 0. A later call tries again.
//
// Life cycle: the constructors do what init() does, the destructors what free()
// does. free() may be called any number of times; after it the container is
// empty with no storage (`slots` null, `count` 0), and the next append()/push()
// sets up fresh storage, so a freed container can be used again without init().
// init() on a container in use releases its storage first.
//
// Copying would alias the storage (and the array's inline slots), so neither
// container can be copied or moved.
//
// Threads: no locking; each container belongs to one thread at a time.
#ifndef VIRELAN_SUPPORT_POINTER_CONTAINERS_H
#define VIRELAN_SUPPORT_POINTER_CONTAINERS_H

// A list that keeps its first 64 entries inside the object and moves them to a
// heap block, doubling it as needed, when it outgrows that. Readers use `count`
// and `slots` directly: the entries are slots[0] to slots[count - 1].
struct vorn_pointer_array {
  static constexpr int inline_capacity = 64;

  vorn_pointer_array() { init(); }
  ~vorn_pointer_array() { free(); }
  vorn_pointer_array(const vorn_pointer_array &) = delete;
  vorn_pointer_array &operator=(const vorn_pointer_array &) = delete;

  // Empty, using the inline slots; releases a heap block first.
  void init();
  // Adds `pointer` (null too) at the end: 1 when stored, 0 when growth could
  // not get memory.
  int append(void *pointer);
  // Releases a heap block (never the inline slots); `slots` becomes null and
  // `count` and `capacity` 0.
  void free();

  void *inline_slots[inline_capacity];
  void **slots = nullptr;  // inline_slots, a heap block after growth, or null after free()
  int capacity = 0;        // 64 at first
  int count = 0;           // entries in use
};

// A min-heap of pointers ordered by the caller's comparison: pop() returns the
// entry that compares lowest. Entries that compare equal come out in no fixed
// order. The tree is stored in `slots` from index 1 (index 0 is unused); a
// block holds `capacity` + 2 pointers, 256 at first.
struct vorn_pointer_heap {
  // Negative when `a` is to come out before `b`, 0 when they are equal,
  // positive otherwise.
  using compare_function = int (*)(const void *a, const void *b);
  static constexpr int initial_capacity = 254;

  explicit vorn_pointer_heap(compare_function compare_fn) { init(compare_fn); }
  ~vorn_pointer_heap() { free(); }
  vorn_pointer_heap(const vorn_pointer_heap &) = delete;
  vorn_pointer_heap &operator=(const vorn_pointer_heap &) = delete;

  // Empty with a fresh block of 256 pointers (capacity 254); releases any block
  // first. When the block cannot be allocated the heap has none (reported) and
  // the first push() tries again.
  void init(compare_function compare_fn);
  // Adds `pointer`: 1 when stored, 0 when growth could not get memory. A null
  // pointer is not stored (it would read as "empty" from pop()); push() returns
  // 1 for it, since nothing failed.
  int push(void *pointer);
  // Removes and returns the lowest entry, or null when the heap is empty.
  void *pop();
  // Empties the heap and installs a new comparison; the block stays.
  void reset(compare_function compare_fn);
  // Releases the block; `slots` becomes null and `count` and `capacity` 0.
  void free();

  void **slots = nullptr;  // entries at indices 1..count, or null without a block
  int capacity = 0;        // 254 at first; the block has room for capacity + 2 pointers
  int count = 0;           // entries in the heap
  compare_function compare = nullptr;

 private:
  // Allocates a block for `new_capacity` + 2 pointers, copies the entries and
  // releases the old block; 0 (nothing changed) when memory is short.
  int grow_to(int new_capacity, const char *operation);
};

#endif  // VIRELAN_SUPPORT_POINTER_CONTAINERS_H
