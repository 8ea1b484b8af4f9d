#include "support/pointer_hash_table.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "common/failing_allocations.h"
#include "common/test_support.h"
#include "support/debug_log.h"

namespace {

using testing_support::failing_allocations;
using testing_support::log_capture;

// An item as the manifest would store one: found by its name.
struct named {
  std::string name;
};

int item_hash_calls = 0;

uint32_t hash_of_name(const void *item) {
  ++item_hash_calls;
  return hash_string(static_cast<const named *>(item)->name.c_str());
}
uint32_t hash_of_key(const void *key) { return hash_string(static_cast<const char *>(key)); }
int name_matches(const void *item, const void *key) {
  return static_cast<const named *>(item)->name == static_cast<const char *>(key);
}
// Every item and key lands in one chain: bucket 0x45 of 256, 0x145 of 512.
uint32_t constant_hash(const void *) { return 0x12345; }

std::vector<std::unique_ptr<named>> make_items(int n, const std::string &prefix = "file-") {
  std::vector<std::unique_ptr<named>> items;
  for (int i = 0; i < n; ++i)
    items.push_back(std::make_unique<named>(named{prefix + std::to_string(i)}));
  return items;
}

// The items of one chain, front first.
std::vector<void *> chain(const VoidPointerHashTable &table, uint32_t bucket) {
  std::vector<void *> items;
  for (const VoidPointerHashTable::node *n = table.buckets[bucket]; n != nullptr; n = n->next) {
    items.push_back(n->item);
  }
  return items;
}

// Every node sits in the bucket its stored hash selects, and the chains hold
// exactly `count` nodes.
void expect_well_formed(const VoidPointerHashTable &table) {
  ASSERT_NE(table.buckets, nullptr);
  EXPECT_EQ(table.mask, table.capacity - 1);
  uint32_t nodes = 0;
  for (uint32_t b = 0; b < table.capacity; ++b) {
    for (const VoidPointerHashTable::node *n = table.buckets[b]; n != nullptr; n = n->next) {
      EXPECT_EQ(n->hash & table.mask, b);
      ++nodes;
    }
  }
  EXPECT_EQ(nodes, table.count);
}

std::string lines(const std::vector<std::string> &each) {
  std::string text;
  for (const std::string &line : each) text += line + "\n";
  return text;
}

class PointerHashTableTest : public ::testing::Test {
 protected:
  void SetUp() override { item_hash_calls = 0; }

  VoidPointerHashTable by_name{hash_of_name, hash_of_key, name_matches};
  VoidPointerHashTable one_chain{constant_hash, constant_hash, name_matches};
};

TEST(HashFunctionTest, MatchTheirCheckValues) {
  struct Case {
    const char *what;
    uint32_t got;
    uint32_t expected;
  };
  const std::string long_text(300, 'a');  // its length needs two bytes
  const Case cases[] = {
      {"empty text", hash_string(""), 0x1AAD0981},
      {"abc", hash_string("abc"), 0x4AF578A2},
      {"null text hashes like the empty one", hash_string(nullptr), 0x1AAD0981},
      {"bytes above 127 count as 128..255", hash_string("\xe9t\xe9"), 0x0470680A},
      {"byte 255", hash_string("\xff"), 0x7286ACF8},
      {"300 characters", hash_string(long_text.c_str()), 0x920B52ED},
      {"bytes abc", hash_bytes("abc", 3), 0x98E230CC},
      {"no bytes", hash_bytes("", 0), 0xC6B3FF46},
      {"a NUL byte is an ordinary byte", hash_bytes("a\0b", 3), 0x9752A030},
      {"byte 255 in a block", hash_bytes("\xff", 1), 0x721FA410},
  };
  for (const Case &c : cases) {
    EXPECT_EQ(c.got, c.expected) << c.what;
  }
}

TEST_F(PointerHashTableTest, StartsWith256EmptyBuckets) {
  EXPECT_EQ(by_name.capacity, 256u);
  EXPECT_EQ(by_name.mask, 255u);
  EXPECT_EQ(by_name.count, 0u);
  EXPECT_EQ(chain(by_name, 0).size(), 0u);
  EXPECT_EQ(by_name.find("file-0"), nullptr);
}

// The table doubles when an add finds more than half as many items as buckets,
// and moves the nodes by their stored hashes.
TEST_F(PointerHashTableTest, DoublesWhenThe130thAndThe258thItemsAreAdded) {
  auto items = make_items(300);
  for (int i = 0; i < 300; ++i) {
    by_name.add(items[i].get());
    const int added = i + 1;
    const uint32_t expected = added < 130 ? 256u : added < 258 ? 512u : 1024u;
    ASSERT_EQ(by_name.capacity, expected) << "after " << added << " items";
  }
  EXPECT_EQ(by_name.mask, 1023u);
  EXPECT_EQ(by_name.count, 300u);
  expect_well_formed(by_name);
  EXPECT_EQ(item_hash_calls, 300) << "growth hashed items again";
  for (const auto &item : items) EXPECT_EQ(by_name.find(item->name.c_str()), item.get());
}

TEST_F(PointerHashTableTest, RepeatedItemPointerIsReportedOnceAndNotAddedAgain) {
  log_capture log;
  auto items = make_items(3);
  for (const auto &item : items) one_chain.add(item.get());
  one_chain.add(items[0].get());  // the oldest, at the far end of the chain
  EXPECT_EQ(log.text(), "Error in VoidPointerHashTable::add(), attempt to add duplicate thing.\n");
  EXPECT_EQ(one_chain.count, 3u);
  EXPECT_EQ(one_chain.remove(items[0].get()), 1);
  EXPECT_EQ(one_chain.find("file-0"), nullptr);
}

TEST_F(PointerHashTableTest, ItemsWithEqualKeysAreAllStoredAndTheNewestIsFoundFirst) {
  named older{"same"}, newer{"same"};
  by_name.add(&older);
  by_name.add(&newer);
  EXPECT_EQ(by_name.count, 2u);
  EXPECT_EQ(by_name.find("same"), &newer);
  EXPECT_EQ(by_name.remove(&newer), 1);
  EXPECT_EQ(by_name.find("same"), &older);
  EXPECT_EQ(by_name.remove(&older), 1);
  EXPECT_EQ(by_name.find("same"), nullptr);
}

TEST_F(PointerHashTableTest, GrowthReversesAChainSoTheOlderOfEqualKeysIsFound) {
  named older{"same"}, newer{"same"};
  by_name.add(&older);
  by_name.add(&newer);
  auto fillers = make_items(127);
  for (const auto &item : fillers) by_name.add(item.get());
  ASSERT_EQ(by_name.capacity, 256u);
  EXPECT_EQ(by_name.find("same"), &newer);

  named last{"last"};
  by_name.add(&last);  // the 130th item: the table grows first
  ASSERT_EQ(by_name.capacity, 512u);
  EXPECT_EQ(by_name.find("same"), &older);
  EXPECT_EQ(by_name.remove(&older), 1);
  EXPECT_EQ(by_name.find("same"), &newer);
}

TEST_F(PointerHashTableTest, ChainsLongerThan50AreReportedWithTheirLengthBeforeTheNewNode) {
  log_capture log;
  auto items = make_items(55);
  for (const auto &item : items) one_chain.add(item.get());
  EXPECT_EQ(log.text(), lines({
                            "Error in VoidPointerHashTable::add(), found 51 things in bucket 69.",
                            "Error in VoidPointerHashTable::add(), found 52 things in bucket 69.",
                            "Error in VoidPointerHashTable::add(), found 53 things in bucket 69.",
                            "Error in VoidPointerHashTable::add(), found 54 things in bucket 69.",
                        }));
  EXPECT_EQ(one_chain.count, 55u);
  for (const auto &item : items) EXPECT_EQ(one_chain.find(item->name.c_str()), item.get());
}

// The report names the bucket of the grown table, since growth comes first.
TEST_F(PointerHashTableTest, LongChainReportAfterGrowthNamesTheNewBucket) {
  auto items = make_items(130);
  for (int i = 0; i < 129; ++i) one_chain.add(items[i].get());
  log_capture log;
  one_chain.add(items[129].get());
  EXPECT_EQ(log.text(), "Error in VoidPointerHashTable::add(), found 129 things in bucket 325.\n");
  EXPECT_EQ(chain(one_chain, 325).size(), 130u);
  expect_well_formed(one_chain);
}

TEST_F(PointerHashTableTest, RemoveUnlinksExactlyItsNodeFromAnywhereInTheChain) {
  log_capture log;
  auto items = make_items(5);
  for (const auto &item : items) one_chain.add(item.get());
  named stranger{"file-2"};  // an equal key, but never added

  EXPECT_EQ(one_chain.remove(&stranger), 0);
  EXPECT_EQ(one_chain.remove(items[2].get()), 1);  // middle
  EXPECT_EQ(one_chain.remove(items[4].get()), 1);  // front
  EXPECT_EQ(one_chain.remove(items[0].get()), 1);  // end
  EXPECT_EQ(one_chain.remove(items[2].get()), 0);  // already gone
  EXPECT_EQ(one_chain.count, 2u);
  EXPECT_EQ(chain(one_chain, 69), (std::vector<void *>{items[3].get(), items[1].get()}));
  EXPECT_EQ(one_chain.find("file-2"), nullptr);
  EXPECT_EQ(log.text(), "") << "a failed remove is not reported";
}

TEST_F(PointerHashTableTest, FoundItemIsRemovedOnceThenRemoveGivesZero) {
  auto items = make_items(10);
  for (const auto &item : items) by_name.add(item.get());
  void *found = by_name.find("file-7");
  ASSERT_EQ(found, items[7].get());
  EXPECT_EQ(by_name.remove(found), 1);
  EXPECT_EQ(by_name.remove(found), 0);
  EXPECT_EQ(by_name.count, 9u);
  EXPECT_EQ(by_name.find("file-7"), nullptr);
}

TEST_F(PointerHashTableTest, NullItemIsNeitherStoredNorRemoved) {
  by_name.add(nullptr);
  EXPECT_EQ(by_name.count, 0u);
  EXPECT_EQ(by_name.remove(nullptr), 0);
  EXPECT_EQ(item_hash_calls, 0);
}

TEST_F(PointerHashTableTest, ClearDropsEveryNodeAndKeepsTheGrownBuckets) {
  auto items = make_items(300);
  for (const auto &item : items) by_name.add(item.get());
  by_name.clear();
  EXPECT_EQ(by_name.count, 0u);
  EXPECT_EQ(by_name.capacity, 1024u);
  for (uint32_t b = 0; b < by_name.capacity; ++b) ASSERT_EQ(by_name.buckets[b], nullptr);
  EXPECT_EQ(by_name.find("file-1"), nullptr);
  by_name.add(items[1].get());  // the items themselves were left alone
  EXPECT_EQ(by_name.find("file-1"), items[1].get());
}

// Each report carries one category bit: it gets through when every other bit
// is masked and disappears when its own is.
TEST(PointerHashTableReportTest, EachReportCarriesItsCategory) {
  struct Case {
    const char *text;
    int category;
    std::function<void()> provoke;
  };
  const Case cases[] = {
      {"Error in VoidPointerHashTable(), initial table alloc failed.\n", 1,
       [] {
         failing_allocations fail(1);
         VoidPointerHashTable table(hash_of_name, hash_of_key, name_matches);
       }},
      {"Error in VoidPointerHashTable::expand_hash_table(), unable to allocate table of size "
       "512.  Using old table.\n",
       2,
       [] {
         VoidPointerHashTable table(hash_of_name, hash_of_key, name_matches);
         failing_allocations fail(1);
         table.expand_hash_table();
       }},
      {"Error in VoidPointerHashTable::add(), attempt to add duplicate thing.\n", 4,
       [] {
         VoidPointerHashTable table(hash_of_name, hash_of_key, name_matches);
         named item{"x"};
         table.add(&item);
         table.add(&item);
       }},
      {"Error in VoidPointerHashTable::add(), found 51 things in bucket 69.\n", 8,
       [] {
         VoidPointerHashTable table(constant_hash, constant_hash, name_matches);
         auto items = make_items(52);
         for (const auto &item : items) table.add(item.get());
       }},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.text);
    {
      log_capture log;
      set_debug_category_mask(0x1FF & ~c.category);
      c.provoke();
      EXPECT_EQ(log.text(), c.text);
    }
    {
      log_capture log;
      set_debug_category_mask(c.category);
      c.provoke();
      EXPECT_EQ(log.text(), "");
    }
  }
}

class PointerHashTableMemoryTest : public ::testing::Test {
 protected:
  log_capture log;
};

TEST_F(PointerHashTableMemoryTest, TableWithoutBucketsIsSafeAndAllocatesThemOnTheFirstAdd) {
  std::unique_ptr<VoidPointerHashTable> table;
  {
    failing_allocations fail(1);
    table = std::make_unique<VoidPointerHashTable>(hash_of_name, hash_of_key, name_matches);
    ASSERT_EQ(fail.left(), 0);
  }
  EXPECT_EQ(log.text(), "Error in VoidPointerHashTable(), initial table alloc failed.\n");
  EXPECT_EQ(table->buckets, nullptr);
  EXPECT_EQ(table->capacity, 0u);
  EXPECT_EQ(table->mask, 0u);
  named item{"x"};
  EXPECT_EQ(table->find("x"), nullptr);
  EXPECT_EQ(table->remove(&item), 0);
  table->clear();

  table->add(&item);
  EXPECT_EQ(table->capacity, 256u);
  EXPECT_EQ(table->mask, 255u);
  EXPECT_EQ(table->find("x"), &item);
}

TEST_F(PointerHashTableMemoryTest, AddDropsTheItemWithAReportWhileThereAreStillNoBuckets) {
  failing_allocations fail(2);
  VoidPointerHashTable table(hash_of_name, hash_of_key, name_matches);
  named item{"x"};
  table.add(&item);
  EXPECT_EQ(fail.left(), 0);
  EXPECT_EQ(log.text(),
            lines({"Error in VoidPointerHashTable(), initial table alloc failed.",
                   "Error in VoidPointerHashTable::add(), unable to allocate table of size 256.  "
                   "Thing dropped."}));
  EXPECT_EQ(table.count, 0u);
  EXPECT_EQ(table.buckets, nullptr);
  EXPECT_EQ(table.find("x"), nullptr);
}

TEST_F(PointerHashTableMemoryTest, ExpandWithoutBucketsAllocatesTheFirstOnes) {
  std::unique_ptr<VoidPointerHashTable> table;
  {
    failing_allocations fail(1);
    table = std::make_unique<VoidPointerHashTable>(hash_of_name, hash_of_key, name_matches);
  }
  {
    failing_allocations fail(1);
    table->expand_hash_table();
  }
  table->expand_hash_table();
  EXPECT_EQ(log.text(),
            lines({"Error in VoidPointerHashTable(), initial table alloc failed.",
                   "Error in VoidPointerHashTable::expand_hash_table(), unable to allocate table "
                   "of size 256."}));
  EXPECT_EQ(table->capacity, 256u);
  EXPECT_EQ(table->mask, 255u);
}

TEST_F(PointerHashTableMemoryTest, FailedGrowthKeepsTheOldBucketsAndStillStoresTheItem) {
  VoidPointerHashTable table(hash_of_name, hash_of_key, name_matches);
  auto items = make_items(131);
  for (int i = 0; i < 129; ++i) table.add(items[i].get());
  {
    failing_allocations fail(1);  // the new bucket array, not the node
    table.add(items[129].get());
    EXPECT_EQ(fail.left(), 0);
  }
  EXPECT_EQ(log.text(),
            "Error in VoidPointerHashTable::expand_hash_table(), unable to allocate table of size "
            "512.  Using old table.\n");
  EXPECT_EQ(table.capacity, 256u);
  EXPECT_EQ(table.count, 130u);
  expect_well_formed(table);

  table.add(items[130].get());  // the next add tries again
  EXPECT_EQ(table.capacity, 512u);
  expect_well_formed(table);
  for (const auto &item : items) EXPECT_EQ(table.find(item->name.c_str()), item.get());
}

TEST_F(PointerHashTableMemoryTest, ItemWithoutANodeIsDroppedWithAReport) {
  VoidPointerHashTable table(hash_of_name, hash_of_key, name_matches);
  named kept{"kept"}, dropped{"dropped"};
  table.add(&kept);
  {
    failing_allocations fail(1);
    table.add(&dropped);
    EXPECT_EQ(fail.left(), 0);
  }
  EXPECT_EQ(log.text(),
            "Error in VoidPointerHashTable::add(), unable to allocate node.  Thing dropped.\n");
  EXPECT_EQ(table.count, 1u);
  EXPECT_EQ(table.find("dropped"), nullptr);
  EXPECT_EQ(table.find("kept"), &kept);
  table.add(&dropped);
  EXPECT_EQ(table.find("dropped"), &dropped);
}

}  // namespace
