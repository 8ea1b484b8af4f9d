// The tagged line-file readers and the row writers. Every reader is driven
// into a destination followed by guard bytes, with inputs that are too long,
// unterminated or cut short, and the next call shows where the stream was left.
#include "support/line_file.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <string>
#include <vector>

#include "common/test_support.h"

namespace {

using testing_support::log_capture;

constexpr char guard_byte = '\x5a';
constexpr int guard_size = 16;

// A stream holding `bytes` (empty included), read from the start.
class stream_of {
 public:
  explicit stream_of(const std::string &bytes) : file_(std::tmpfile()) {
    std::fwrite(bytes.data(), 1, bytes.size(), file_);
    std::rewind(file_);
  }
  ~stream_of() { std::fclose(file_); }
  stream_of(const stream_of &) = delete;
  stream_of &operator=(const stream_of &) = delete;
  operator std::FILE *() const { return file_; }

  // What is left unread.
  std::string rest() const {
    std::string left;
    int c;
    while ((c = std::getc(file_)) != EOF) left += static_cast<char>(c);
    return left;
  }

 private:
  std::FILE *file_;
};

using reader = int (*)(std::FILE *, char *, int);

// Calls `read` into a destination of `size` bytes followed by guard bytes and
// gives "<result>:<text>" ("0" at the end of the stream). Fails the test when
// a guard byte changed or the text is not terminated inside the destination.
std::string read_one(reader read, std::FILE *stream, int size) {
  std::vector<char> buffer(static_cast<std::size_t>(size) + guard_size, guard_byte);
  const int result = read(stream, buffer.data(), size);
  for (std::size_t i = static_cast<std::size_t>(size); i < buffer.size(); ++i) {
    EXPECT_EQ(buffer[i], guard_byte) << "written past the destination at " << i;
  }
  if (result == 0) return "0";
  EXPECT_GE(result, 1);
  EXPECT_LE(result, size);
  if (result < 1 || result > size) return "bad result " + std::to_string(result);
  EXPECT_EQ(buffer[static_cast<std::size_t>(result) - 1], '\0') << "not terminated";
  return std::to_string(result) + ":" +
         std::string(buffer.data(), static_cast<std::size_t>(result) - 1);
}

// Every call until the end of the stream.
std::vector<std::string> read_all(reader read, const std::string &bytes, int size) {
  stream_of stream(bytes);
  std::vector<std::string> out;
  for (std::string r = read_one(read, stream, size); r != "0"; r = read_one(read, stream, size)) {
    out.push_back(r);
    if (out.size() > bytes.size() + 1) {
      ADD_FAILURE() << "no progress";
      break;
    }
  }
  return out;
}

using lines = std::vector<std::string>;

struct reader_case {
  const char *name;
  reader read;
  std::string input;
  int size;
  lines results;
};

void run_cases(const std::vector<reader_case> &cases) {
  log_capture log;  // keeps the overflow reports out of the test's output
  for (const reader_case &c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(read_all(c.read, c.input, c.size), c.results);
  }
}

TEST(LineFileTest, EachReaderStopsAtItsOwnTerminators) {
  run_cases({
      {"tag: blank, tab, CR, LF and the end",
       fget_tag,
       "#E 1\n#A\tx #b\r#c\n#end",
       64,
       {"2:E", "2:A", "2:b", "2:c", "4:end"}},
      {"tag: text before the hash is skipped", fget_tag, "junk #A", 64, {"2:A"}},
      {"tag: a hash alone", fget_tag, "#", 64, {"1:"}},
      {"tag: no hash", fget_tag, "no tag here\n", 64, {}},
      {"long: semicolon and the character after it",
       fget_long,
       "abc;Xdef;\nghi",
       64,
       {"4:abc", "4:def", "4:ghi"}},
      {"long: NUL ends the text too", fget_long, std::string("ab\0cd;", 6), 64, {"3:ab", "2:d"}},
      {"long: line ends are kept", fget_long, "a\nb;", 64, {"4:a\nb"}},
      {"hash line: CR and LF end the line",
       fget_hash_line,
       "x#one two\r\n#three",
       64,
       {"8:one two", "6:three"}},
      {"tilde: an upper-case letter or a tilde after it stays",
       fget_tilde_text,
       "a~Bc~~d~\nnext~",
       64,
       {"8:a~Bc~~d", "6:\nnext"}},
      {"tilde: a lower-case letter after it ends the text",
       fget_tilde_text,
       "ab~cd",
       64,
       {"3:ab", "3:cd"}},
      {"semicolon: one character skipped first",
       fget_semicolon_text,
       "\nabc;Xdef;",
       64,
       {"4:abc", "3:ef"}},
      {"semicolon: a lone character is an empty text", fget_semicolon_text, "x", 64, {"1:"}},
  });
}

TEST(LineFileTest, ATextCutShortByTheEndOfTheStreamIsKept) {
  run_cases({
      {"tag", fget_tag, "#unterminated", 64, {"13:unterminated"}},
      {"long", fget_long, "no semicolon", 64, {"13:no semicolon"}},
      {"hash line", fget_hash_line, "#no line end", 64, {"12:no line end"}},
      {"tilde", fget_tilde_text, "no tilde~A", 64, {"11:no tilde~A"}},
      {"tilde ending in a tilde", fget_tilde_text, "end~", 64, {"4:end"}},
      {"semicolon", fget_semicolon_text, " no semicolon", 64, {"13:no semicolon"}},
  });
}

// Over-long input is cut to the destination, never written past it, and the
// rest up to the terminator is dropped so that the next call starts after it.
TEST(LineFileTest, OverlongInputIsCutAndTheNextCallStartsAfterIt) {
  const std::string many(5000, 'a');
  run_cases({
      {"tag", fget_tag, "#abcdefgh rest\n#x", 4, {"4:abc", "2:x"}},
      {"long", fget_long, "abcdefgh;\nxy;", 4, {"4:abc", "3:xy"}},
      {"hash line", fget_hash_line, "#abcdefgh\n#xy", 4, {"4:abc", "3:xy"}},
      {"tilde", fget_tilde_text, "abcdefgh~xy~", 4, {"4:abc", "3:xy"}},
      {"tilde pair at the cut", fget_tilde_text, "ab~Cdef~x~", 4, {"4:ab~", "2:x"}},
      {"semicolon", fget_semicolon_text, ".abcdefgh;\n.xy;", 4, {"4:abc", "3:xy"}},
      {"size 1 keeps nothing", fget_tag, "#abc #d", 1, {"1:", "1:"}},
      {"tilde limit",
       fget_tilde_text,
       many + "~next~",
       8000,
       {"3991:" + many.substr(0, 3990), "5:next"}},
      {"semicolon limit",
       fget_semicolon_text,
       "." + many + ";\n.next;",
       8000,
       {"4000:" + many.substr(0, 3999), "5:next"}},
  });
}

TEST(LineFileTest, ASizeBelowOneOrANullStreamReadsNothing) {
  for (reader read : {fget_tag, fget_long, fget_hash_line, fget_tilde_text, fget_semicolon_text}) {
    stream_of stream("#abc;~");
    EXPECT_EQ(read_one(read, stream, 0), "0");
    EXPECT_EQ(stream.rest(), "#abc;~");
    char buffer[4];
    EXPECT_EQ(read(nullptr, buffer, sizeof buffer), 0);
  }
}

TEST(LineFileTest, TagsAndLongTextsThatFillTheDestinationAreReported) {
  log_capture log;
  stream_of stream("#abcdefgh #abc #ab\nxyz;wxyzabc;");
  EXPECT_EQ(read_one(fget_tag, stream, 4), "4:abc");
  EXPECT_EQ(read_one(fget_tag, stream, 4), "4:abc");  // fits exactly: reported all the same
  EXPECT_EQ(read_one(fget_tag, stream, 4), "3:ab");
  EXPECT_EQ(read_one(fget_long, stream, 5), "4:xyz");
  EXPECT_EQ(read_one(fget_long, stream, 5), "5:xyza");
  EXPECT_EQ(log.text(),
            "Warning in fget_tag(), string overflow.  String was:\nabc\n"
            "Warning in fget_tag(), string overflow.  String was:\nabc\n"
            "Warning in fget_long(), string overflow.  String was:\nxyza\n");
}

// --- rows of numbers ---

struct block_case {
  const char *name;
  std::string input;
  int count;
  std::vector<int> values;  // the first ones; the rest of the 12 must be 0
  std::string rest;
  bool end_reported;
};

TEST(LineFileTest, BlocksReadARowOfAtMostTwelveNumbers) {
  const std::vector<block_case> cases = {
      {"line feed right after a number", "1 2 3\n4", 3, {1, 2, 3}, "4", false},
      {"carriage return", "1\r\n", 1, {1}, "\n", false},
      {"a blank before the line end does not end the row",
       "1 2 3 \n4 5\n",
       5,
       {1, 2, 3, 4, 5},
       "",
       false},
      {"twelve, then the line is skipped",
       "1 2 3 4 5 6 7 8 9 10 11 12 13 14\nnext",
       12,
       {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12},
       "next",
       false},
      {"exactly twelve",
       "1 2 3 4 5 6 7 8 9 10 11 12\nnext",
       12,
       {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12},
       "next",
       false},
      {"signs", "-7 +8\n", 2, {-7, 8}, "", false},
      {"something that is no number ends the row", "5 x 6\n", 1, {5}, "x 6\n", false},
      {"a sign without digits", "5 -#A\n", 1, {5}, "#A\n", false},
      {"the next tag is left alone", "#A x\n", 0, {}, "#A x\n", false},
      {"values beyond int saturate",
       "99999999999 -99999999999\n",
       2,
       {INT_MAX, INT_MIN},
       "",
       false},
      {"at most 20 characters per number", "00000000000000000042123\n", 2, {42, 123}, "", false},
      {"the stream ends after a number", "1 2", 2, {1, 2}, "", true},
      {"an empty stream", "", 0, {}, "", true},
  };
  for (const block_case &c : cases) {
    SCOPED_TRACE(c.name);
    log_capture log;
    stream_of stream(c.input);
    struct {
      int values[fget_block_size];
      int guard[4] = {-1, -1, -1, -1};
    } row;
    for (int &v : row.values) v = -1;
    EXPECT_EQ(fget_block(stream, row.values), c.count);
    std::vector<int> expected = c.values;
    expected.resize(fget_block_size, 0);
    EXPECT_EQ(std::vector<int>(row.values, row.values + fget_block_size), expected);
    for (int g : row.guard) EXPECT_EQ(g, -1);
    EXPECT_EQ(stream.rest(), c.rest);
    EXPECT_EQ(log.text(), c.end_reported ? "Error in fget_block(), EOF encountered.\n" : "");
  }
}

TEST(LineFileTest, DoubleBlocksFollowTheSameRowRules) {
  struct Case {
    const char *name;
    std::string input;
    int count;
    std::vector<double> values;
    std::string rest;
    bool end_reported;
  };
  const Case cases[] = {
      {"two numbers", "1.5 -2e3\nnext", 2, {1.5, -2000.0}, "next", false},
      {"twelve and more",
       "1 2 3 4 5 6 7 8 9 10 11 12 13\nx",
       12,
       {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12},
       "x",
       false},
      {"no number", "#A\n", 0, {}, "#A\n", false},
      {"an empty stream", "", 0, {}, "", true},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    log_capture log;
    stream_of stream(c.input);
    double values[fget_block_size];
    for (double &v : values) v = -1;
    EXPECT_EQ(fget_dblock(stream, values), c.count);
    std::vector<double> expected = c.values;
    expected.resize(fget_block_size, 0.0);
    EXPECT_EQ(std::vector<double>(values, values + fget_block_size), expected);
    EXPECT_EQ(stream.rest(), c.rest);
    EXPECT_EQ(log.text(), c.end_reported ? "Error in fget_dblock(), EOF encountered.\n" : "");
  }
}

// Rows written with a "#R" prefix, read back by their tags.
template <typename Value>
std::vector<Value> read_rows_back(const std::string &text, int count,
                                  int (*read_row)(std::FILE *, const char *, Value *, int)) {
  stream_of stream(text);
  std::vector<Value> values(static_cast<std::size_t>(count), Value(99));
  char tag[16];
  while (fget_tag(stream, tag, sizeof tag)) {
    EXPECT_EQ(tag[0], 'R');
    read_row(stream, tag + 1, values.data(), count);
  }
  return values;
}

template <typename Value>
std::string write_rows(const std::vector<Value> &values,
                       int (*write)(std::FILE *, const char *, const Value *, int)) {
  std::FILE *f = std::tmpfile();
  EXPECT_EQ(write(f, "#R", values.data(), static_cast<int>(values.size())), 1);
  std::rewind(f);
  std::string text;
  int c;
  while ((c = std::getc(f)) != EOF) text += static_cast<char>(c);
  std::fclose(f);
  return text;
}

TEST(LineFileTest, RowsOfTenAreWrittenWithTheirNumberAndAnEmptyLineAfter) {
  std::vector<int> twelve;
  for (int i = 0; i < 12; ++i) twelve.push_back(i * 7 - 3);
  EXPECT_EQ(write_rows(twelve, fput_int_rows), "#R0 -3 4 11 18 25 32 39 46 53 60\n#R1 67 74\n\n");
  EXPECT_EQ(write_rows(std::vector<int>{}, fput_int_rows), "\n");
  EXPECT_EQ(write_rows(std::vector<unsigned char>{0, 255}, fput_byte_rows), "#R0 0 255\n\n");
}

TEST(LineFileTest, WrittenRowsReadBackIntoTheSamePlaces) {
  for (int count : {1, 9, 10, 11, 25, 100}) {
    SCOPED_TRACE(count);
    std::vector<int> ints;
    std::vector<unsigned char> bytes;
    for (int i = 0; i < count; ++i) {
      ints.push_back(i % 3 == 0 ? INT_MIN + i : INT_MAX - i * 1000);
      bytes.push_back(static_cast<unsigned char>(i * 37));
    }
    EXPECT_EQ(read_rows_back(write_rows(ints, fput_int_rows), count, fget_int_row), ints);
    EXPECT_EQ(read_rows_back(write_rows(bytes, fput_byte_rows), count, fget_byte_row), bytes);
  }
}

// A row whose place lies outside the array is read (the stream stays in step)
// and not stored; a last row stops at the end of the array.
TEST(LineFileTest, RowsAreStoredOnlyInsideTheArray) {
  struct Case {
    const char *row;
    int stored;
  };
  const Case cases[] = {
      {"0", 10},         {"1", 5},           {"2", 0}, {"-1", 0},
      {"2147483647", 0}, {"-2147483648", 0}, {"x", 0}, {"", 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.row);
    stream_of stream("1 2 3 4 5 6 7 8 9 10 11 12\n#next");
    std::vector<int> values(15 + guard_size, -1);
    EXPECT_EQ(fget_int_row(stream, c.row, values.data(), 15), c.stored);
    const int first = c.stored == 10 ? 0 : 10;
    for (int i = 0; i < static_cast<int>(values.size()); ++i) {
      const bool written = c.stored > 0 && i >= first && i < first + c.stored;
      EXPECT_EQ(values[i], written ? i - first + 1 : -1) << "at " << i;
    }
    EXPECT_EQ(stream.rest(), "#next");
  }
  stream_of stream("1 2\n");
  EXPECT_EQ(fget_int_row(stream, nullptr, nullptr, 10), 0);
  EXPECT_EQ(stream.rest(), "");
}

TEST(LineFileTest, ByteRowsKeepTheLowEightBits) {
  stream_of stream("256 -1 511 7\n");
  unsigned char bytes[4 + guard_size];
  for (unsigned char &b : bytes) b = 0x5a;
  EXPECT_EQ(fget_byte_row(stream, "0", bytes, 4), 4);
  EXPECT_EQ(bytes[0], 0);
  EXPECT_EQ(bytes[1], 255);
  EXPECT_EQ(bytes[2], 255);
  EXPECT_EQ(bytes[3], 7);
  for (int i = 4; i < 4 + guard_size; ++i) EXPECT_EQ(bytes[i], 0x5a);
}

// --- prefixes ---

TEST(LineFileTest, PrefixesAreComparedCaseSensitively) {
  struct Case {
    const char *text;
    const char *prefix;
    int result;
  };
  const Case cases[] = {
      {"abc", "ab", 1}, {"abc", "abc", 1}, {"abc", "", 1},    {"ab", "abc", 0},
      {"Abc", "ab", 0}, {"", "a", 0},      {nullptr, "a", 0}, {"a", nullptr, 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string(c.text ? c.text : "null") + " / " + (c.prefix ? c.prefix : "null"));
    EXPECT_EQ(starts_with(c.text, c.prefix), c.result);
  }
}

TEST(LineFileTest, LinePrefixesAreTestedOneLineAtATime) {
  stream_of stream("#head x\r\nother\n" + std::string(3000, 'h') + "\nlast");
  EXPECT_EQ(fget_line_starts_with(stream, "#head"), 1);
  EXPECT_EQ(fget_line_starts_with(stream, ""), 1);  // the empty line after CR
  EXPECT_EQ(fget_line_starts_with(stream, "#head"), 0);
  {
    log_capture log;  // the over-long line is cut at 2047 characters
    EXPECT_EQ(fget_line_starts_with(stream, "hhh"), 1);
  }
  EXPECT_EQ(fget_line_starts_with(stream, "last"), 1);
  EXPECT_EQ(fget_line_starts_with(stream, ""), 0);  // the end of the stream
}

}  // namespace
