#include "support/pointer_containers.h"

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>

#include "support/debug_log.h"

namespace {

constexpr int module_helpers = 1;
constexpr int category_alloc = 2;

void report_no_room(const char *operation, long long pointers) {
  char report[200];
  std::snprintf(report, sizeof report, "Error in %s(), unable to allocate room for %lld pointers.",
                operation, pointers);
  debug_message(report, category_alloc, module_helpers);
}

// A block of `pointers` pointers, or null when memory is short or the size does
// not fit in a size_t.
void **allocate_block(long long pointers) {
  if (pointers <= 0 || static_cast<unsigned long long>(pointers) > SIZE_MAX / sizeof(void *)) {
    return nullptr;
  }
  return new (std::nothrow) void *[static_cast<std::size_t>(pointers)];
}

}  // namespace

void vorn_pointer_array::init() {
  free();
  slots = inline_slots;
  capacity = inline_capacity;
  count = 0;
  inline_slots[0] = nullptr;
}

int vorn_pointer_array::append(void *pointer) {
  if (slots == nullptr) init();
  if (count >= capacity) {
    const long long new_capacity = 2LL * capacity;
    void **block = new_capacity <= INT_MAX ? allocate_block(new_capacity) : nullptr;
    if (block == nullptr) {
      report_no_room("vorn_pointer_array::append", new_capacity);
      return 0;
    }
    std::memcpy(block, slots, sizeof(void *) * static_cast<std::size_t>(count));
    if (slots != inline_slots) delete[] slots;
    slots = block;
    capacity = static_cast<int>(new_capacity);
  }
  slots[count++] = pointer;
  return 1;
}

void vorn_pointer_array::free() {
  if (slots != inline_slots) delete[] slots;
  slots = nullptr;
  capacity = 0;
  count = 0;
}

void vorn_pointer_heap::init(compare_function compare_fn) {
  free();
  compare = compare_fn;
  grow_to(initial_capacity, "vorn_pointer_heap::init");
}

int vorn_pointer_heap::grow_to(int new_capacity, const char *operation) {
  const long long pointers = static_cast<long long>(new_capacity) + 2;
  void **block = allocate_block(pointers);
  if (block == nullptr) {
    report_no_room(operation, pointers);
    return 0;
  }
  if (slots != nullptr) {
    std::memcpy(block + 1, slots + 1, sizeof(void *) * static_cast<std::size_t>(count));
    delete[] slots;
  }
  block[0] = nullptr;
  slots = block;
  capacity = new_capacity;
  return 1;
}

int vorn_pointer_heap::push(void *pointer) {
  if (pointer == nullptr) return 1;
  const int index_new = count + 1;
  if (index_new >= capacity) {
    // Without a block (freed, or its allocation failed) start over at the
    // initial size.
    const long long wanted = slots == nullptr ? initial_capacity : 2LL * capacity + 2;
    if (wanted > INT_MAX - 2) {
      report_no_room("vorn_pointer_heap::push", wanted + 2);
      return 0;
    }
    if (!grow_to(static_cast<int>(wanted), "vorn_pointer_heap::push")) return 0;
  }
  count = index_new;
  int i = index_new;
  slots[i] = pointer;
  while (i > 1) {
    const int parent = i / 2;
    if (compare(slots[i], slots[parent]) >= 0) break;
    void *held = slots[parent];
    slots[parent] = slots[i];
    slots[i] = held;
    i = parent;
  }
  return 1;
}

void *vorn_pointer_heap::pop() {
  if (count <= 0) return nullptr;
  void *lowest = slots[1];
  slots[1] = slots[count];
  --count;
  int i = 1;
  while (2 * i <= count) {
    int child = 2 * i;
    if (child + 1 <= count && compare(slots[child], slots[child + 1]) > 0) ++child;
    if (compare(slots[child], slots[i]) >= 0) break;
    void *held = slots[child];
    slots[child] = slots[i];
    slots[i] = held;
    i = child;
  }
  return lowest;
}

void vorn_pointer_heap::reset(compare_function compare_fn) {
  compare = compare_fn;
  count = 0;
}

void vorn_pointer_heap::free() {
  delete[] slots;
  slots = nullptr;
  capacity = 0;
  count = 0;
}
