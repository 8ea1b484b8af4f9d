#include "support/line_reader.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "common/test_support.h"

namespace {

// Reads `bytes` with fget_line into a buffer of `size` until the end, returning
// each result and line as "<result>:<line>".
std::vector<std::string> read_lines(const std::string &bytes, int size) {
  std::FILE *f = fmemopen(const_cast<char *>(bytes.data()), bytes.size(), "rb");
  std::vector<std::string> out;
  std::vector<char> buffer(size + 8, '#');  // guard bytes past `size`
  int r;
  while ((r = fget_line(f, buffer.data(), size)) != 0) {
    out.push_back(std::to_string(r) + ":" + buffer.data());
    for (std::size_t i = size; i < buffer.size(); ++i) EXPECT_EQ(buffer[i], '#') << "overrun";
  }
  std::fclose(f);
  return out;
}

TEST(LineReaderTest, EveryLineEndSplitsLines) {
  struct Case {
    const char *name;
    std::string bytes;
    std::vector<std::string> lines;
  };
  const Case cases[] = {
      {"line feeds", "ab\ncd\n", {"3:ab", "3:cd"}},
      {"carriage return and line feed", "ab\r\ncd", {"3:ab", "1:", "3:cd"}},
      {"carriage return alone", "ab\rcd", {"3:ab", "3:cd"}},
      {"NUL byte", std::string("ab\0cd", 5), {"3:ab", "3:cd"}},
      {"last line without terminator", "one\ntwo", {"4:one", "4:two"}},
      {"empty lines", "\n\nx", {"1:", "1:", "2:x"}},
      {"nothing", "", {}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(read_lines(c.bytes, 1024), c.lines);
  }
}

TEST(LineReaderTest, AnOverlongLineIsCutAndTheNextCallStartsAtTheNextLine) {
  testing_support::log_capture log;
  const std::string longer(2000, 'a');
  const auto lines = read_lines(longer + "\nnext\n", 1024);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "1024:" + std::string(1023, 'a'));
  EXPECT_EQ(lines[1], "5:next");
  EXPECT_EQ(log.text(), "Warning in fget_line(), string overflow.  String was:\n" +
                            std::string(1023, 'a') + "\n");
}

// A line that exactly fills the buffer cannot be told from a cut one, so it is
// reported too.
TEST(LineReaderTest, ALineThatFillsTheBufferIsReported) {
  testing_support::log_capture log;
  EXPECT_EQ(read_lines("abcd\nabc\n", 5), (std::vector<std::string>{"5:abcd", "4:abc"}));
  EXPECT_EQ(log.text(), "Warning in fget_line(), string overflow.  String was:\nabcd\n");
}

TEST(LineReaderTest, TheEndOfTheStreamLeavesTheBufferAlone) {
  std::FILE *f = fmemopen(nullptr, 1, "w+b");
  char buffer[8];
  std::strcpy(buffer, "keep");
  EXPECT_EQ(fget_line(f, buffer, sizeof buffer), 0);
  EXPECT_STREQ(buffer, "keep");
  EXPECT_EQ(fget_line(f, buffer, 0), 0);
  EXPECT_EQ(fget_line(nullptr, buffer, sizeof buffer), 0);
  std::fclose(f);
}

}  // namespace
