// The socket data queue: where buffers begin and end, when a read gives a
// buffer back to the pool, the limit on buffers, lines and copies that cross
// buffers, the warnings that end a read, and a long randomised run against a
// std::string that catches bookkeeping faults no single case reaches.
#include "net/socket_data_queue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <string>

#include "common/test_support.h"
#include "support/bounded_text.h"

namespace {

constexpr int buffer_size = private_socket_queue_buffer::data_size;

// `n` bytes that differ from their neighbours, so a byte read from the wrong
// place shows.
std::string pattern(int n, int seed = 0) {
  std::string s;
  for (int i = 0; i < n; ++i) s.push_back(static_cast<char>('a' + (i + seed) % 26));
  return s;
}

std::string read_all(vorn_socket_data_queue &q) {
  std::string out;
  char block[8192];
  for (int n; (n = q.read_block(block, sizeof block)) > 0;) out.append(block, n);
  return out;
}

std::string text_of(const bounded_text &t) { return std::string(t.text, t.length); }

// Every buffer but the last is full, `tail` is the last buffer unless that one
// is full, `buffer_count` is the length of the chain, and no read position runs
// ahead of its fill.
::testing::AssertionResult chain_is_consistent(const vorn_socket_data_queue &q) {
  int count = 0;
  const private_socket_queue_buffer *last = nullptr;
  for (const private_socket_queue_buffer *b = q.head; b != nullptr; b = b->next) {
    ++count;
    if (b->read_position < 0 || b->read_position > b->fill || b->fill > buffer_size)
      return ::testing::AssertionFailure()
             << "buffer " << count << " positions " << b->read_position << "/" << b->fill;
    if (b->next != nullptr && b->fill != buffer_size)
      return ::testing::AssertionFailure() << "buffer " << count << " not full but not last";
    last = b;
  }
  if (count != q.buffer_count)
    return ::testing::AssertionFailure()
           << "chain of " << count << ", count says " << q.buffer_count;
  const private_socket_queue_buffer *expected_tail =
      last != nullptr && last->fill < buffer_size ? last : nullptr;
  if (q.tail != expected_tail)
    return ::testing::AssertionFailure() << "tail is not the last buffer";
  return ::testing::AssertionSuccess();
}

TEST(SocketDataQueueTest, AFullBufferLeavesNoTailAndTheNextByteStartsASecond) {
  // put_data copies whole spans; it must end in the same state as put_char.
  for (bool by_char : {false, true}) {
    SCOPED_TRACE(by_char ? "put_char" : "put_data");
    vorn_socket_data_queue q;
    const std::string first = pattern(buffer_size);
    if (by_char) {
      for (char c : first) ASSERT_EQ(q.put_char(c), 1);
    } else {
      ASSERT_EQ(q.put_data(first.data(), buffer_size), buffer_size);
    }
    EXPECT_EQ(q.buffer_count, 1);
    EXPECT_EQ(q.tail, nullptr);
    EXPECT_EQ(q.head->fill, buffer_size);
    EXPECT_TRUE(chain_is_consistent(q));

    ASSERT_EQ(q.put_char('!'), 1);
    EXPECT_EQ(q.buffer_count, 2);
    ASSERT_NE(q.tail, nullptr);
    EXPECT_NE(q.tail, q.head);
    EXPECT_EQ(q.tail->fill, 1);
    EXPECT_EQ(q.bytes_available(), buffer_size + 1);
    EXPECT_EQ(read_all(q), first + "!");
  }
}

TEST(SocketDataQueueTest, ReadingPastAFullBufferReturnsItAndKeepsThePartOneForWriting) {
  vorn_socket_data_queue q;
  const std::string data = pattern(5000);
  ASSERT_EQ(q.put_data(data.data(), 5000), 5000);
  const private_socket_queue_buffer *second = q.head->next;
  const int pooled = private_socket_queue_buffer::pool_size();

  std::string out(8192, '\0');
  ASSERT_EQ(q.read_block(&out[0], 8192), 5000);
  out.resize(5000);
  EXPECT_EQ(out, data);
  EXPECT_EQ(private_socket_queue_buffer::pool_size(), pooled + 1);
  EXPECT_EQ(q.buffer_count, 1);
  EXPECT_EQ(q.head, second);
  EXPECT_EQ(q.tail, second);
  EXPECT_EQ(q.head->fill, 5000 - buffer_size);
  EXPECT_EQ(q.head->read_position, 5000 - buffer_size);
  EXPECT_EQ(q.is_empty(), 1);
  EXPECT_EQ(q.bytes_available(), 0);
  EXPECT_EQ(q.read_block(&out[0], 10), 0);

  // The read-out buffer is written on; filling it up spills into a new one.
  const std::string more = pattern(4000, 7);
  ASSERT_EQ(q.put_data(more.data(), 4000), 4000);
  EXPECT_EQ(q.head, second);
  EXPECT_EQ(q.buffer_count, 2);
  EXPECT_TRUE(chain_is_consistent(q));
  EXPECT_EQ(read_all(q), more);
}

TEST(SocketDataQueueTest, ALimitOfOneBufferRefusesWritesUntilTheBufferIsReadOut) {
  vorn_socket_data_queue q(1);
  const std::string data = pattern(buffer_size + 100);
  // A write that runs into the limit stores what fits and says how much.
  EXPECT_EQ(q.put_data(data.data(), static_cast<int>(data.size())), buffer_size);
  EXPECT_EQ(q.limit_reached, 1);
  EXPECT_EQ(q.put_char('x'), 0);
  EXPECT_EQ(q.put_text("abc"), 0);
  EXPECT_EQ(q.get_remaining_space(), 0);

  // A partly read buffer is still full: no room yet.
  char block[buffer_size];
  ASSERT_EQ(q.read_block(block, 100), 100);
  EXPECT_EQ(q.put_char('x'), 0);
  EXPECT_EQ(q.limit_reached, 1);

  ASSERT_EQ(q.read_block(block, buffer_size), buffer_size - 100);
  EXPECT_EQ(q.buffer_count, 0);
  EXPECT_EQ(q.limit_reached, 0);
  EXPECT_EQ(q.put_char('x'), 1);
  EXPECT_EQ(q.get_remaining_space(), buffer_size - 1);
  EXPECT_EQ(read_all(q), "x");
}

TEST(SocketDataQueueTest, RemainingSpaceCountsEveryByteWrittenIntoTheChain) {
  vorn_socket_data_queue unlimited;
  vorn_socket_data_queue zero_limit(0);
  EXPECT_EQ(unlimited.get_remaining_space(), -1);
  EXPECT_EQ(zero_limit.get_remaining_space(), -1);
  unlimited.put_text("abc");
  EXPECT_EQ(unlimited.get_remaining_space(), -1);

  vorn_socket_data_queue q(3);
  const int room = 3 * buffer_size;
  EXPECT_EQ(q.get_remaining_space(), room);
  const std::string data = pattern(5000);
  q.put_data(data.data(), 5000);
  EXPECT_EQ(q.get_remaining_space(), room - 5000);
  char block[8192];
  // Reading out the full buffer frees its room; the read-out part of the last
  // one is not written again, so it still counts.
  ASSERT_EQ(q.read_block(block, sizeof block), 5000);
  EXPECT_EQ(q.get_remaining_space(), room - (5000 - buffer_size));
  // And that is exactly what the queue then accepts.
  const std::string fill = pattern(room);
  EXPECT_EQ(q.put_data(fill.data(), room), room - (5000 - buffer_size));
  EXPECT_EQ(q.get_remaining_space(), 0);
  EXPECT_EQ(q.limit_reached, 1);
}

TEST(SocketDataQueueTest, GetLineEndsAtALineFeedAndKeepsTheCarriageReturn) {
  vorn_socket_data_queue q;
  q.put_text("abc\r\ndef");
  bounded_text line;
  EXPECT_EQ(q.get_line(line), 4);
  EXPECT_EQ(text_of(line), "abc\r");
  EXPECT_EQ(q.get_line(line), 3);
  EXPECT_EQ(text_of(line), "def");
  EXPECT_EQ(q.is_empty(), 1);
  EXPECT_EQ(q.get_line(line), 0);

  q.put_text("\nx");
  line.assign("stale");
  EXPECT_EQ(q.get_line(line), 0);  // the empty line, consumed
  EXPECT_EQ(text_of(line), "");
  EXPECT_EQ(q.bytes_available(), 1);
}

TEST(SocketDataQueueTest, ALineAcrossABufferBoundaryComesOutWhole) {
  vorn_socket_data_queue q;
  const std::string first = pattern(buffer_size + 10);
  q.put_text((first + "\nrest").c_str());
  bounded_text line;
  EXPECT_EQ(q.get_line(line), buffer_size + 10);
  EXPECT_EQ(text_of(line), first);
  EXPECT_EQ(q.buffer_count, 1);
  EXPECT_TRUE(chain_is_consistent(q));
  EXPECT_EQ(read_all(q), "rest");
}

TEST(SocketDataQueueTest, ALineLongerThanTheTextStopsWithItsRestQueued) {
  testing_support::log_capture log;
  vorn_socket_data_queue q;
  q.put_text((std::string(7000, 'x') + "\nnext").c_str());
  bounded_text line;
  EXPECT_EQ(q.get_line(line), 5999);
  EXPECT_NE(log.text().find("Warning in vorn_socket_data_queue::get_line(), dest buffer full.\n"),
            std::string::npos);
  EXPECT_EQ(q.bytes_available(), 1001 + 1 + 4);
  EXPECT_EQ(q.get_line(line), 1001);
  EXPECT_EQ(q.get_line(line), 4);
  EXPECT_EQ(text_of(line), "next");
}

TEST(SocketDataQueueTest, ALineOfExactly5999CharactersEndsAtItsLineFeedWithoutWarning) {
  testing_support::log_capture log;
  vorn_socket_data_queue q;
  q.put_text((std::string(5999, 'y') + "\nz").c_str());
  bounded_text line;
  EXPECT_EQ(q.get_line(line), 5999);
  EXPECT_EQ(log.text(), "");
  EXPECT_EQ(q.get_line(line), 1);
  EXPECT_EQ(text_of(line), "z");
}

TEST(SocketDataQueueTest, CopyTextReadsAcrossBuffersAndConsumesNothing) {
  vorn_socket_data_queue q;
  const std::string data = pattern(5000);
  q.put_text(data.c_str());
  char skipped[10];
  ASSERT_EQ(q.read_block(skipped, 10), 10);
  bounded_text copy;
  EXPECT_EQ(q.copy_text_without_remove(copy), 1);
  EXPECT_EQ(text_of(copy), data.substr(10));
  EXPECT_EQ(q.bytes_available(), 4990);
  EXPECT_EQ(read_all(q), data.substr(10));

  vorn_socket_data_queue never_written;
  copy.assign("kept");
  EXPECT_EQ(never_written.copy_text_without_remove(copy), 1);
  EXPECT_EQ(text_of(copy), "kept");
}

TEST(SocketDataQueueTest, CopyTextStopsWithAWarningWhereATextCannotFollow) {
  struct Case {
    const char *name;
    std::string data;
    const char *warning;
  };
  const Case cases[] = {
      {"zero byte", std::string("ab\0cd", 5),
       "Warning in vorn_socket_data_queue::copy_text_without_remove(), bailing on data zero.\n"},
      {"longer than a text", pattern(6000),
       "Warning in vorn_socket_data_queue::copy_text_without_remove(), dest buffer full.\n"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    testing_support::log_capture log;
    vorn_socket_data_queue q;
    q.put_data(c.data.data(), static_cast<int>(c.data.size()));
    bounded_text copy;
    EXPECT_EQ(q.copy_text_without_remove(copy), 0);
    EXPECT_EQ(log.text(), c.warning);
    EXPECT_EQ(read_all(q), c.data);
  }
}

// A read-out buffer at the front with more behind it breaks the chain's rule;
// each reader reports it and stops instead of skipping ahead.
TEST(SocketDataQueueTest, AReadOutBufferInFrontOfOthersEndsEveryRead) {
  struct Case {
    const char *name;
    int (*read)(vorn_socket_data_queue &);
    const char *warning;
  };
  const Case cases[] = {
      {"read_block",
       [](vorn_socket_data_queue &q) {
         char block[16];
         return q.read_block(block, sizeof block);
       },
       "Warning in vorn_socket_data_queue::read_block(), top buffer empty in list of other "
       "buffers.\n"},
      {"get_line",
       [](vorn_socket_data_queue &q) {
         bounded_text line;
         return q.get_line(line);
       },
       "Warning in vorn_socket_data_queue::get_line(), top buffer empty in list of other "
       "buffers.\n"},
      {"copy_text_without_remove",
       [](vorn_socket_data_queue &q) {
         bounded_text copy;
         return q.copy_text_without_remove(copy);
       },
       "Warning in vorn_socket_data_queue::copy_text_without_remove(), top buffer empty in list "
       "of other buffers.\n"},
      {"bytes_available", [](vorn_socket_data_queue &q) { return q.bytes_available(); },
       "Warning in vorn_socket_data_queue::read_block(), top buffer empty in list of other "
       "buffers.\n"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    testing_support::log_capture log;
    vorn_socket_data_queue q;
    const std::string data = pattern(5000);
    q.put_data(data.data(), 5000);
    q.head->read_position = q.head->fill;
    EXPECT_EQ(c.read(q), 0);
    EXPECT_EQ(log.text(), c.warning);
  }
}

TEST(SocketDataQueueTest, EmptinessFollowsWritesAndReads) {
  vorn_socket_data_queue q;
  EXPECT_EQ(q.is_empty(), 1);
  EXPECT_EQ(q.bytes_available(), 0);
  q.put_char('a');
  EXPECT_EQ(q.is_empty(), 0);
  char c;
  ASSERT_EQ(q.read_block(&c, 1), 1);
  EXPECT_EQ(q.is_empty(), 1);
  EXPECT_EQ(q.buffer_count, 1);  // the partly filled buffer waits for writes

  const std::string data = pattern(buffer_size * 2);
  q.put_data(data.data(), static_cast<int>(data.size()));
  EXPECT_EQ(q.is_empty(), 0);
  EXPECT_EQ(q.bytes_available(), buffer_size * 2);
  q.clear();
  EXPECT_EQ(q.is_empty(), 1);
  EXPECT_EQ(q.head, nullptr);
  EXPECT_EQ(q.tail, nullptr);
  EXPECT_EQ(q.buffer_count, 0);
  q.put_text("again");
  EXPECT_EQ(read_all(q), "again");
}

TEST(SocketDataQueueTest, BuffersGivenBackByOneQueueAreReusedByAnother) {
  private_socket_queue_buffer::drain_pool();
  std::set<const private_socket_queue_buffer *> first_buffers;
  {
    vorn_socket_data_queue first;
    const std::string data = pattern(buffer_size * 3);
    first.put_data(data.data(), static_cast<int>(data.size()));
    for (const private_socket_queue_buffer *b = first.head; b != nullptr; b = b->next)
      first_buffers.insert(b);
    ASSERT_EQ(first_buffers.size(), 3u);
  }
  EXPECT_EQ(private_socket_queue_buffer::pool_size(), 3);

  vorn_socket_data_queue second;
  const std::string data = pattern(buffer_size * 2 + 1);
  second.put_data(data.data(), static_cast<int>(data.size()));
  EXPECT_EQ(private_socket_queue_buffer::pool_size(), 0);
  for (const private_socket_queue_buffer *b = second.head; b != nullptr; b = b->next)
    EXPECT_EQ(first_buffers.count(b), 1u);
  EXPECT_EQ(read_all(second), data);
}

// Random writes and reads of every size, checked step by step against a
// std::string holding what the queue should hold. With a limit, every write
// must store exactly min(asked, get_remaining_space()).
class SocketDataQueueRoundTrip : public ::testing::TestWithParam<int> {};

TEST_P(SocketDataQueueRoundTrip, MatchesAStringModelOverManyBuffers) {
  testing_support::log_capture log;  // over-long lines warn; that is expected here
  const int limit = GetParam();
  vorn_socket_data_queue q(limit);
  std::string model;
  std::mt19937 random(20240611u + static_cast<unsigned>(limit));
  auto below = [&random](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
  auto random_bytes = [&](int n, bool text) {
    std::string s;
    for (int i = 0; i < n; ++i) {
      char c = static_cast<char>(below(256));
      if (text && c == 0) c = 'z';
      s.push_back(c);
    }
    return s;
  };

  for (int step = 0; step < 4000; ++step) {
    SCOPED_TRACE("step " + std::to_string(step));
    const int space = q.get_remaining_space();
    const int operation = below(6);
    if (operation <= 2) {
      const int size = operation == 1 ? below(40) : below(9000);
      const std::string piece = random_bytes(size, operation == 2);
      int stored = 0;
      if (operation == 0) {
        stored = q.put_data(piece.data(), size);
      } else if (operation == 1) {
        for (char c : piece) stored += q.put_char(c);
      } else {
        stored = q.put_text(piece.c_str());
      }
      const int expected = space < 0 ? size : std::min(size, space);
      ASSERT_EQ(stored, expected);
      model.append(piece, 0, static_cast<size_t>(stored));
    } else if (operation <= 4) {
      const int size = 1 + below(9000);
      std::string block(static_cast<size_t>(size), '\0');
      const int n = q.read_block(&block[0], size);
      const int expected = std::min<int>(size, static_cast<int>(model.size()));
      ASSERT_EQ(n, expected);
      ASSERT_EQ(block.substr(0, static_cast<size_t>(n)), model.substr(0, static_cast<size_t>(n)));
      model.erase(0, static_cast<size_t>(n));
    } else {
      bounded_text line;
      const int n = q.get_line(line);
      const size_t feed = model.find('\n');
      size_t length, consumed;
      if (feed != std::string::npos && feed <= 5999) {
        length = feed;
        consumed = feed + 1;
      } else {
        length = consumed = std::min<size_t>(model.size(), 5999);
      }
      ASSERT_EQ(n, static_cast<int>(length));
      ASSERT_EQ(text_of(line), model.substr(0, length));
      model.erase(0, consumed);
    }
    ASSERT_TRUE(chain_is_consistent(q));
    ASSERT_EQ(q.bytes_available(), static_cast<int>(model.size()));
    ASSERT_EQ(q.is_empty(), model.empty() ? 1 : 0);
    if (limit > 0) {
      ASSERT_LE(q.buffer_count, limit);
    }
  }
  EXPECT_EQ(read_all(q), model);
}

INSTANTIATE_TEST_SUITE_P(Limits, SocketDataQueueRoundTrip, ::testing::Values(-1, 3),
                         [](const ::testing::TestParamInfo<int> &info) {
                           return info.param < 0 ? std::string("Unlimited")
                                                 : "MaxBuffers" + std::to_string(info.param);
                         });

}  // namespace
