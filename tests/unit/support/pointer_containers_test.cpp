#include "support/pointer_containers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <new>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "common/failing_allocations.h"
#include "common/test_support.h"
#include "support/debug_log.h"

namespace {

using testing_support::failing_allocations;
using testing_support::log_capture;

// Entries are pointers into a vector of ints that outlives the container.
std::vector<int> numbers(int n) {
  std::vector<int> values(n);
  for (int i = 0; i < n; ++i) values[i] = i;
  return values;
}

std::vector<void *> entries(const vorn_pointer_array &array) {
  return std::vector<void *>(array.slots, array.slots + array.count);
}

std::vector<void *> pointers_to(std::vector<int> &values, int n) {
  std::vector<void *> pointers;
  for (int i = 0; i < n; ++i) pointers.push_back(&values[i]);
  return pointers;
}

int ascending(const void *a, const void *b) {
  const int x = *static_cast<const int *>(a), y = *static_cast<const int *>(b);
  return x < y ? -1 : x > y ? 1 : 0;
}
int descending(const void *a, const void *b) { return ascending(b, a); }

// Pops everything, as values.
std::vector<int> drain(vorn_pointer_heap &heap) {
  std::vector<int> out;
  while (void *p = heap.pop()) out.push_back(*static_cast<int *>(p));
  return out;
}

// --- vorn_pointer_array ---

TEST(PointerArrayTest, GrowsFromTheInlineSlotsByDoublingAndKeepsTheOrder) {
  auto values = numbers(300);
  vorn_pointer_array array;
  EXPECT_EQ(array.slots, array.inline_slots);
  EXPECT_EQ(array.capacity, 64);
  EXPECT_EQ(array.count, 0);
  for (int i = 0; i < 300; ++i) {
    ASSERT_EQ(array.append(&values[i]), 1);
    const int added = i + 1;
    const int expected = added <= 64 ? 64 : added <= 128 ? 128 : added <= 256 ? 256 : 512;
    ASSERT_EQ(array.capacity, expected) << "after " << added << " appends";
    ASSERT_EQ(array.slots == array.inline_slots, added <= 64) << "after " << added << " appends";
  }
  EXPECT_EQ(entries(array), pointers_to(values, 300));
}

TEST(PointerArrayTest, NullIsStoredLikeAnyOtherPointer) {
  vorn_pointer_array array;
  EXPECT_EQ(array.append(nullptr), 1);
  EXPECT_EQ(array.count, 1);
  EXPECT_EQ(array.slots[0], nullptr);
}

// free() releases a heap block and never the inline slots (AddressSanitizer
// would catch either mistake), and a second free() finds nothing to release.
TEST(PointerArrayTest, FreeReleasesOnlyAHeapBlockAndMayBeRepeated) {
  auto values = numbers(65);
  for (int appended : {0, 64, 65}) {
    SCOPED_TRACE(appended);
    vorn_pointer_array array;
    for (int i = 0; i < appended; ++i) array.append(&values[i]);
    array.free();
    EXPECT_EQ(array.slots, nullptr);
    EXPECT_EQ(array.count, 0);
    EXPECT_EQ(array.capacity, 0);
    array.free();
    EXPECT_EQ(array.slots, nullptr);
  }  // and the destructor frees a third time
}

TEST(PointerArrayTest, FreedArrayStartsAgainFromTheInlineSlots) {
  auto values = numbers(70);
  vorn_pointer_array array;
  for (int i = 0; i < 70; ++i) array.append(&values[i]);
  array.free();
  EXPECT_EQ(array.append(&values[0]), 1);
  EXPECT_EQ(array.slots, array.inline_slots);
  EXPECT_EQ(array.capacity, 64);
  EXPECT_EQ(entries(array), pointers_to(values, 1));
}

// init() on an array in use releases its block first; the leak check of the
// sanitizer build sees it if not.
TEST(PointerArrayTest, InitEmptiesAGrownArrayWithoutLeakingItsBlock) {
  auto values = numbers(100);
  vorn_pointer_array array;
  for (int i = 0; i < 100; ++i) array.append(&values[i]);
  array.init();
  EXPECT_EQ(array.slots, array.inline_slots);
  EXPECT_EQ(array.capacity, 64);
  EXPECT_EQ(array.count, 0);
}

TEST(PointerArrayTest, AppendThatCannotGrowKeepsTheArrayAsItWasAndReportsIt) {
  auto values = numbers(130);
  struct Case {
    int full;  // entries when growth fails
    const char *report;
  };
  const Case cases[] = {
      {64, "Error in vorn_pointer_array::append(), unable to allocate room for 128 pointers.\n"},
      {128, "Error in vorn_pointer_array::append(), unable to allocate room for 256 pointers.\n"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.full);
    log_capture log;
    vorn_pointer_array array;
    for (int i = 0; i < c.full; ++i) array.append(&values[i]);
    void **storage = array.slots;
    {
      failing_allocations fail(1);
      EXPECT_EQ(array.append(&values[c.full]), 0);
      EXPECT_EQ(fail.left(), 0);
    }
    EXPECT_EQ(log.text(), c.report);
    EXPECT_EQ(array.slots, storage);
    EXPECT_EQ(array.capacity, c.full);
    EXPECT_EQ(entries(array), pointers_to(values, c.full));

    EXPECT_EQ(array.append(&values[c.full]), 1);  // memory is back
    EXPECT_EQ(array.capacity, 2 * c.full);
    EXPECT_EQ(entries(array), pointers_to(values, c.full + 1));
  }
}

// --- vorn_pointer_heap ---

TEST(PointerHeapTest, PopsInAscendingOrderAcrossOneGrowthTo510) {
  auto values = numbers(300);
  std::vector<void *> shuffled = pointers_to(values, 300);
  std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(20240611));

  vorn_pointer_heap heap(ascending);
  EXPECT_EQ(heap.capacity, 254);
  for (int i = 0; i < 300; ++i) {
    ASSERT_EQ(heap.push(shuffled[i]), 1);
    const int pushed = i + 1;
    ASSERT_EQ(heap.capacity, pushed < 254 ? 254 : 510) << "after " << pushed << " pushes";
  }
  EXPECT_EQ(heap.count, 300);
  EXPECT_EQ(drain(heap), values);
  EXPECT_EQ(heap.count, 0);
}

// Interleaved pushes and pops, duplicates included, against a sorted model.
TEST(PointerHeapTest, AlwaysPopsTheLowestOfWhatIsLeft) {
  std::mt19937 random(7);
  std::vector<int> values(2000);
  for (int &v : values) v = static_cast<int>(random() % 100);
  vorn_pointer_heap heap(ascending);
  std::multiset<int> model;
  size_t next = 0;
  for (int step = 0; step < 4000; ++step) {
    const bool do_push = next < values.size() && (model.empty() || random() % 3 != 0);
    if (do_push) {
      ASSERT_EQ(heap.push(&values[next]), 1);
      model.insert(values[next++]);
    } else {
      void *p = heap.pop();
      if (model.empty()) {
        ASSERT_EQ(p, nullptr);
        continue;
      }
      ASSERT_NE(p, nullptr);
      ASSERT_EQ(*static_cast<int *>(p), *model.begin()) << "step " << step;
      model.erase(model.begin());
    }
    ASSERT_EQ(heap.count, static_cast<int>(model.size()));
  }
}

TEST(PointerHeapTest, NullPushIsIgnoredAndEmptyPopGivesNull) {
  auto values = numbers(2);
  vorn_pointer_heap heap(ascending);
  EXPECT_EQ(heap.pop(), nullptr);
  EXPECT_EQ(heap.push(nullptr), 1);
  EXPECT_EQ(heap.count, 0);
  EXPECT_EQ(heap.pop(), nullptr);

  heap.push(&values[1]);
  heap.push(nullptr);
  heap.push(&values[0]);
  EXPECT_EQ(heap.count, 2);
  EXPECT_EQ(drain(heap), (std::vector<int>{0, 1}));
  EXPECT_EQ(heap.pop(), nullptr);
}

TEST(PointerHeapTest, ResetEmptiesAndReordersButKeepsTheBlock) {
  auto values = numbers(300);
  vorn_pointer_heap heap(ascending);
  for (int i = 0; i < 300; ++i) heap.push(&values[i]);
  void **block = heap.slots;
  heap.reset(descending);
  EXPECT_EQ(heap.count, 0);
  EXPECT_EQ(heap.slots, block);
  EXPECT_EQ(heap.capacity, 510);
  EXPECT_EQ(heap.pop(), nullptr);
  for (int i : {3, 9, 1}) heap.push(&values[i]);
  EXPECT_EQ(drain(heap), (std::vector<int>{9, 3, 1}));
}

TEST(PointerHeapTest, FreeMayBeRepeatedAndAFreedHeapStartsAgainOnPush) {
  auto values = numbers(3);
  vorn_pointer_heap heap(ascending);
  heap.push(&values[2]);
  heap.free();
  EXPECT_EQ(heap.slots, nullptr);
  EXPECT_EQ(heap.count, 0);
  EXPECT_EQ(heap.capacity, 0);
  heap.free();
  EXPECT_EQ(heap.pop(), nullptr);

  EXPECT_EQ(heap.push(&values[1]), 1);
  EXPECT_EQ(heap.push(&values[0]), 1);
  EXPECT_EQ(heap.capacity, 254);
  EXPECT_EQ(drain(heap), (std::vector<int>{0, 1}));
}

TEST(PointerHeapTest, InitOnAHeapInUseStartsOverWithAFreshBlock) {
  auto values = numbers(300);
  vorn_pointer_heap heap(ascending);
  for (int i = 0; i < 300; ++i) heap.push(&values[i]);
  heap.init(descending);  // the sanitizer build's leak check sees the old block
  EXPECT_EQ(heap.count, 0);
  EXPECT_EQ(heap.capacity, 254);
  heap.push(&values[4]);
  heap.push(&values[5]);
  EXPECT_EQ(drain(heap), (std::vector<int>{5, 4}));
}

TEST(PointerHeapTest, PushThatCannotGrowKeepsTheHeapAsItWasAndReportsIt) {
  log_capture log;
  auto values = numbers(254);
  std::vector<void *> shuffled = pointers_to(values, 254);
  std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(3));
  vorn_pointer_heap heap(ascending);
  for (int i = 0; i < 253; ++i) heap.push(shuffled[i]);
  void **block = heap.slots;
  void *refused = shuffled[253];
  {
    failing_allocations fail(1);
    EXPECT_EQ(heap.push(refused), 0);
    EXPECT_EQ(fail.left(), 0);
  }
  EXPECT_EQ(log.text(),
            "Error in vorn_pointer_heap::push(), unable to allocate room for 512 pointers.\n");
  EXPECT_EQ(heap.count, 253);
  EXPECT_EQ(heap.capacity, 254);
  EXPECT_EQ(heap.slots, block);

  std::vector<int> expected = numbers(254);
  expected.erase(std::find(expected.begin(), expected.end(), *static_cast<int *>(refused)));
  EXPECT_EQ(drain(heap), expected);
}

TEST(PointerHeapTest, HeapWhoseFirstBlockFailedAllocatesOnPush) {
  log_capture log;
  auto values = numbers(2);
  std::unique_ptr<vorn_pointer_heap> heap;
  {
    failing_allocations fail(1);
    heap = std::make_unique<vorn_pointer_heap>(ascending);
    EXPECT_EQ(fail.left(), 0);
  }
  EXPECT_EQ(log.text(),
            "Error in vorn_pointer_heap::init(), unable to allocate room for 256 pointers.\n");
  EXPECT_EQ(heap->slots, nullptr);
  EXPECT_EQ(heap->capacity, 0);
  EXPECT_EQ(heap->pop(), nullptr);

  EXPECT_EQ(heap->push(&values[1]), 1);
  EXPECT_EQ(heap->push(&values[0]), 1);
  EXPECT_EQ(heap->capacity, 254);
  EXPECT_EQ(drain(*heap), (std::vector<int>{0, 1}));
}

// Both containers report allocation failures under category 2 alone.
TEST(PointerContainersReportTest, AllocationFailuresAreCategory2) {
  const std::function<void()> provocations[] = {
      [] {
        vorn_pointer_array array;
        for (int i = 0; i < 64; ++i) array.append(nullptr);
        failing_allocations fail(1);
        array.append(nullptr);
      },
      [] {
        failing_allocations fail(1);
        vorn_pointer_heap heap(ascending);
      },
  };
  for (const auto &provoke : provocations) {
    std::string shown, hidden;
    {
      log_capture log;
      set_debug_category_mask(0x1FF & ~2);
      provoke();
      shown = log.text();
    }
    {
      log_capture log;
      set_debug_category_mask(2);
      provoke();
      hidden = log.text();
    }
    EXPECT_NE(shown, "");
    EXPECT_EQ(hidden, "");
  }
}

}  // namespace
