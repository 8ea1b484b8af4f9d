#include "support/bounded_text.h"

#include <gtest/gtest.h>

#include <new>
#include <string>

namespace {

// A buffer holding `n` copies of 'x'.
bounded_text filled(int n) {
  bounded_text b;
  for (int i = 0; i < n; ++i) b.append_char('x');
  return b;
}

void expect_terminated(const bounded_text &b) {
  const int end = b.length == bounded_text::full ? bounded_text::capacity - 1 : b.length;
  ASSERT_GE(end, 0);
  ASSERT_LT(end, bounded_text::capacity);
  EXPECT_EQ(b.text[end], '\0');
  EXPECT_EQ(std::string(b.c_str()).size(), static_cast<std::size_t>(end));
}

TEST(BoundedTextTest, StartsEmpty) {
  bounded_text b;
  EXPECT_EQ(b.length, 0);
  EXPECT_STREQ(b.c_str(), "");
}

TEST(BoundedTextTest, NullAppendsTheNullMarker) {
  bounded_text b;
  b.append(nullptr);
  EXPECT_STREQ(b.c_str(), "(null)");
  EXPECT_EQ(b.length, 6);
}

// Every append at the edge of the capacity: where the content ends, what the
// length says, and that the terminator sits where it must.
TEST(BoundedTextTest, AppendAtTheEdgeOfTheCapacity) {
  struct Case {
    const char *name;
    int start;           // characters already held
    const char *source;  // appended with append()
    int length;          // expected length afterwards
    const char *tail;    // expected last characters of the content
  };
  const Case cases[] = {
      {"fits exactly", 5997, "ab", 5999, "xab"},
      {"one too many", 5998, "ab", bounded_text::full, "xa"},
      {"full buffer refuses one more", 5999, "x", bounded_text::full, "xx"},
      {"empty source at 5999 stays", 5999, "", 5999, "xx"},
      {"longer than the room left", 5990, "abcdefghijkl", bounded_text::full, "xabcdefghi"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    bounded_text b = filled(c.start);
    b.append(c.source);
    EXPECT_EQ(b.length, c.length);
    const std::string content = b.c_str();
    const std::string tail = c.tail;
    ASSERT_GE(content.size(), tail.size());
    EXPECT_EQ(content.substr(content.size() - tail.size()), tail);
    expect_terminated(b);
  }
}

TEST(BoundedTextTest, AnOverlongSourceIsCutAt5999Characters) {
  const std::string source(7000, 'q');
  bounded_text b;
  b.append("ab");
  b.append(source.c_str());
  EXPECT_EQ(b.length, bounded_text::full);
  EXPECT_EQ(std::string(b.c_str()), "ab" + std::string(5997, 'q'));
}

TEST(BoundedTextTest, TheFullStateRefusesEverythingUntilCleared) {
  bounded_text b = filled(5999);
  b.append("y");
  ASSERT_EQ(b.length, bounded_text::full);
  b.append("");
  EXPECT_EQ(b.length, bounded_text::full);
  b.append_char('z');
  EXPECT_EQ(b.length, bounded_text::full);
  EXPECT_EQ(std::string(b.c_str()), std::string(5999, 'x'));

  b.clear();
  EXPECT_EQ(b.length, 0);
  EXPECT_STREQ(b.c_str(), "");

  b = filled(5999);
  b.append("y");
  b.assign("abc");
  EXPECT_EQ(b.length, 3);
  EXPECT_STREQ(b.c_str(), "abc");
}

// Single characters stop one short of the full state, so a buffer fed character
// by character never claims to have dropped text it could not have held.
TEST(BoundedTextTest, AppendCharStopsAt5999WithoutEnteringTheFullState) {
  bounded_text b = filled(5998);
  b.append_char('a');
  EXPECT_EQ(b.length, 5999);
  EXPECT_EQ(b.text[5998], 'a');
  b.append_char('b');
  EXPECT_EQ(b.length, 5999);
  EXPECT_EQ(b.text[5998], 'a');
  expect_terminated(b);
}

TEST(BoundedTextTest, CopiesAreIndependent) {
  bounded_text a;
  a.assign("/home/player/.Virelan");
  bounded_text b = a;
  b.append("/executables");
  EXPECT_STREQ(a.c_str(), "/home/player/.Virelan");
  EXPECT_STREQ(b.c_str(), "/home/player/.Virelan/executables");
  EXPECT_EQ(b.length, 33);
}

TEST(BoundedTextTest, DestructionLeavesDeadBehind) {
  alignas(bounded_text) unsigned char storage[sizeof(bounded_text)];
  bounded_text *b = new (storage) bounded_text;
  b->assign("/home/player/.Virelan/bootname.txt");
  b->~bounded_text();
  const bounded_text *after = reinterpret_cast<const bounded_text *>(storage);
  EXPECT_STREQ(after->text, "dead");
  EXPECT_EQ(after->length, 4);
}

}  // namespace
