// The block allocator: how a budget is cut into records, the statistics, the
// fall-back to a single record and the exit when even that fails, and a pool
// that reuses what it is given back.
#include "support/bulk_allocator.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <new>
#include <set>
#include <string>
#include <vector>

#include "common/failing_allocations.h"
#include "common/test_support.h"

namespace {

using testing_support::failing_allocations;
using testing_support::log_capture;

constexpr int pointer_size = static_cast<int>(sizeof(void *));
// The smallest record: it must hold the chain's pointer.
constexpr int smallest = pointer_size > 4 ? pointer_size : 4;

struct chain_shape {
  int records = 0;
  long long stride = -1;  // distance between neighbours, or -1 when it varies
};

chain_shape walk(void *first) {
  chain_shape shape;
  auto *previous = static_cast<unsigned char *>(first);
  shape.records = 1;
  for (void *p = vorn_bulk_next(first); p != nullptr; p = vorn_bulk_next(p)) {
    const long long step = static_cast<unsigned char *>(p) - previous;
    if (shape.records == 1) shape.stride = step;
    if (step != shape.stride) shape.stride = -1;
    previous = static_cast<unsigned char *>(p);
    ++shape.records;
  }
  return shape;
}

TEST(BulkAllocatorTest, CutsTheBudgetIntoRecordsOfTheRoundedSizeInOneBlock) {
  struct Case {
    int size;
    int budget;
    int record_size;
    int records;
  };
  const Case cases[] = {
      {28, 65536, 28, 2340},              // 65520 bytes
      {13, 64, 16, 4},                    // raised to a multiple of 4
      {1, 64, smallest, 64 / smallest},   // at least a pointer
      {0, 64, smallest, 64 / smallest},   //
      {-8, 64, smallest, 64 / smallest},  //
      {100, 50, 100, 1},                  // a budget below one record
      {100, -1, 100, 1},                  //
      {12, 12 * 5 + 11, 12, 5},           // the rest of the budget is unused
  };
  for (const Case &c : cases) {
    SCOPED_TRACE("size " + std::to_string(c.size) + ", budget " + std::to_string(c.budget));
    long long bytes_before;
    int blocks_before;
    vorn_bulk_allocation_stats(&bytes_before, &blocks_before);
    void *first = vorn_bulk_allocate(c.size, "test record", c.budget);
    ASSERT_NE(first, nullptr);
    const chain_shape shape = walk(first);
    EXPECT_EQ(shape.records, c.records);
    if (c.records > 1) {
      EXPECT_EQ(shape.stride, c.record_size);
    }
    long long bytes_after;
    int blocks_after;
    vorn_bulk_allocation_stats(&bytes_after, &blocks_after);
    EXPECT_EQ(bytes_after - bytes_before, static_cast<long long>(c.records) * c.record_size);
    EXPECT_EQ(blocks_after - blocks_before, 1);
    ::operator delete(first);
  }
  vorn_bulk_allocation_stats(nullptr, nullptr);  // either may be left out
}

// The chain word of a 12-byte record is unaligned with 8-byte pointers; under
// the sanitizer build a plain pointer store there would be reported.
TEST(BulkAllocatorTest, RecordsNarrowerThanTheirAlignmentStillChain) {
  void *first = vorn_bulk_allocate(12, "packed", 12 * 7);
  EXPECT_EQ(walk(first).records, 7);
  EXPECT_EQ(walk(first).stride, 12);
  ::operator delete(first);
}

TEST(BulkAllocatorTest, ReportsEachBlockAsVerboseText) {
  {
    log_capture log(3);
    ::operator delete(vorn_bulk_allocate(28, "struct extra_desc", 65536));
    ::operator delete(vorn_bulk_allocate(28, nullptr, 28));
    EXPECT_EQ(log.text(),
              "Allocating   2340 objects of size     28 (    65520 bytes), type 'struct "
              "extra_desc'\n"
              "Allocating      1 objects of size     28 (       28 bytes), type '(null)'\n");
  }
  log_capture quiet(1);  // verbose text needs level 3
  ::operator delete(vorn_bulk_allocate(28, "struct extra_desc", 65536));
  EXPECT_EQ(quiet.text(), "");
}

TEST(BulkAllocatorTest, FallsBackToASingleRecordWhenTheBlockCannotBeHad) {
  log_capture log;
  long long bytes_before;
  int blocks_before;
  vorn_bulk_allocation_stats(&bytes_before, &blocks_before);
  void *first;
  {
    failing_allocations fail(1);
    first = vorn_bulk_allocate(28, "struct extra_desc", 65536);
    EXPECT_EQ(fail.left(), 0);
  }
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(vorn_bulk_next(first), nullptr);
  long long bytes_after;
  int blocks_after;
  vorn_bulk_allocation_stats(&bytes_after, &blocks_after);
  EXPECT_EQ(bytes_after - bytes_before, 28);
  EXPECT_EQ(blocks_after - blocks_before, 1);
  EXPECT_EQ(log.text(),
            "Error in vorn_bulk_allocate(), malloc failed for   2340 objects of size     28 (    "
            "65520 bytes), type 'struct extra_desc'.  Trying single object.\n");
  ::operator delete(first);
}

TEST(BulkAllocatorTest, EndsTheProcessWhenNotEvenOneRecordCanBeHad) {
  log_capture log;
  const int status = testing_support::run_in_child([] {
    failing_allocations fail(2);
    vorn_bulk_allocate(28, "struct extra_desc", 65536);
    return 0;
  });
  EXPECT_EQ(status, 1);
  EXPECT_EQ(log.text(),
            "Error in vorn_bulk_allocate(), malloc failed for   2340 objects of size     28 (    "
            "65520 bytes), type 'struct extra_desc'.  Trying single object.\n"
            "Error in vorn_bulk_allocate(), malloc failed for      1 objects of size     28 (    "
            "   28 bytes), type 'struct extra_desc'.  Failing and exiting.\n");
}

TEST(BulkPoolTest, HandsOutEveryRecordOfABlockBeforeTakingAnother) {
  vorn_bulk_pool pool{nullptr, "test record", 64, 16};
  std::vector<void *> blocks;  // the first record taken from each block is its start
  std::set<void *> taken;
  int blocks_before;
  vorn_bulk_allocation_stats(nullptr, &blocks_before);
  for (int i = 0; i < 8; ++i) {
    void *record = pool.take();
    if (i % 4 == 0) blocks.push_back(record);
    EXPECT_TRUE(taken.insert(record).second) << "record handed out twice";
    int blocks_now;
    vorn_bulk_allocation_stats(nullptr, &blocks_now);
    EXPECT_EQ(blocks_now - blocks_before, i / 4 + 1) << "after " << i + 1 << " records";
  }
  EXPECT_EQ(pool.free_list, nullptr);
  for (void *block : blocks) ::operator delete(block);
}

TEST(BulkPoolTest, ARecordGivenBackIsTheNextOneTaken) {
  vorn_bulk_pool pool{nullptr, "test record", 64, 16};
  void *block = pool.take();
  void *second = pool.take();
  pool.give_back(block);
  pool.give_back(nullptr);  // ignored
  EXPECT_EQ(pool.take(), block);
  EXPECT_NE(pool.take(), second);  // the rest of the block, in order
  pool.give_back(second);
  EXPECT_EQ(pool.take(), second);
  ::operator delete(block);
}

}  // namespace
