#include "support/bulk_allocator.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "support/debug_log.h"

namespace {

constexpr int module_bulk_allocator = 9;

std::atomic<long long> total_bytes{0};
std::atomic<int> total_blocks{0};

// The chain word is pointer-sized but sits at a 4-byte stride, so it goes
// through memcpy rather than a (possibly misaligned) pointer store.
void set_next(void *record, void *next) { std::memcpy(record, &next, sizeof next); }

// Formats one of the allocator's reports into the 1000-byte buffer the log
// messages are built in. The counts are printed as long long so that no size,
// however large, overflows while being reported.
void report(const char *format, long long count, long long size, const char *type_name,
            int category) {
  char text[1000];
  std::snprintf(text, sizeof text, format, count, size, count * size,
                type_name != nullptr ? type_name : "(null)");
  debug_message(text, category, module_bulk_allocator);
}

}  // namespace

void *vorn_bulk_allocate(int object_size, const char *type_name, int budget_bytes) {
  // Every record must hold the chain's pointer.
  constexpr long long minimum = sizeof(void *) > 4 ? sizeof(void *) : 4;
  long long size = object_size;
  size = (size + 3) / 4 * 4;
  if (size < minimum) size = minimum;
  long long count = budget_bytes / size;
  if (count < 1) count = 1;

  report("Allocating %6lld objects of size %6lld (%9lld bytes), type '%s'", count, size, type_name,
         256);
  auto *block = static_cast<unsigned char *>(
      ::operator new(static_cast<std::size_t>(count * size), std::nothrow));
  if (block == nullptr) {
    report(
        "Error in vorn_bulk_allocate(), malloc failed for %6lld objects of size %6lld (%9lld "
        "bytes), type '%s'.  Trying single object.",
        count, size, type_name, 1);
    block =
        static_cast<unsigned char *>(::operator new(static_cast<std::size_t>(size), std::nothrow));
    if (block == nullptr) {
      report(
          "Error in vorn_bulk_allocate(), malloc failed for %6lld objects of size %6lld (%9lld "
          "bytes), type '%s'.  Failing and exiting.",
          1, size, type_name, 1);
      std::exit(1);
    }
    count = 1;
  }
  total_bytes += count * size;
  ++total_blocks;
  for (long long i = 0; i + 1 < count; ++i) set_next(block + i * size, block + (i + 1) * size);
  set_next(block + (count - 1) * size, nullptr);
  return block;
}

void *vorn_bulk_next(const void *record) {
  void *next;
  std::memcpy(&next, record, sizeof next);
  return next;
}

void vorn_bulk_allocation_stats(long long *bytes, int *blocks) {
  if (bytes != nullptr) *bytes = total_bytes.load();
  if (blocks != nullptr) *blocks = total_blocks.load();
}

void vorn_bulk_pool::refill() {
  free_list = vorn_bulk_allocate(object_size, type_name, budget_bytes);
}

void *vorn_bulk_pool::take() {
  if (free_list == nullptr) refill();
  void *record = free_list;
  free_list = vorn_bulk_next(record);
  return record;
}

void vorn_bulk_pool::give_back(void *record) {
  if (record == nullptr) return;
  set_next(record, free_list);
  free_list = record;
}
