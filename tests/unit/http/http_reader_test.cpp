// The reader on the client side: responses as raw bytes, each fed whole, cut in
// two at every offset and one byte at a time, must give the same callback trace
// and the same result every time.
#include <gtest/gtest.h>

#include <string>

#include "common/test_support.h"
#include "http_trace.h"

using http_test::recorder;

namespace {

struct response_case {
  const char *name;
  std::string input;
  int result;         // first receive_all result other than 1, or 1
  const char *trace;  // expected recorder::joined()
  const char *method = "GET";
  int close_requested = 1;  // as the downloader asks
};

std::string run(const response_case &c, const std::vector<size_t> &cuts, int *result) {
  vorn_http_data_processor_oline p;
  recorder r(p);
  p.close_requested = c.close_requested;
  if (std::string(c.method) == "HEAD")
    p.start_http_HEAD("example", "/f");
  else
    p.start_http_GET("example", "/f");
  http_test::drain(p);
  *result = http_test::feed(p, c.input, cuts);
  return r.joined();
}

const std::string huge = "99999999999999999999";

const response_case responses[] = {
    {"counted body", "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello", 1,
     "head 200 5\nbody hello\ncomplete\nclose\n"},
    {"lower-case header name", "HTTP/1.1 200 OK\r\ncontent-length: 5\r\n\r\nhello", 1,
     "head 200 5\nbody hello\ncomplete\nclose\n"},
    {"name written differently is ignored: body runs to the close",
     "HTTP/1.1 200 OK\r\nContent-Length:5\r\nContent-Length : 5\r\n\r\nhello", 1,
     "head 200 -1\nbody hello\n"},
    {"empty counted body", "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n", 1,
     "head 200 0\ncomplete\nclose\n"},
    {"a plus sign before the length", "HTTP/1.1 200 OK\r\nContent-Length: +2\r\n\r\nok", 1,
     "head 200 2\nbody ok\ncomplete\nclose\n"},
    {"chunked with extension, upper and lower case hex, final empty line",
     "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
     "4;name=value\r\nabcd\r\nA\r\n0123456789\r\na\r\nABCDEFGHIJ\r\n0\r\n\r\n",
     1, "head 200 -1\nbody abcd0123456789ABCDEFGHIJ\ncomplete\nclose\n"},
    {"chunked with blanks before the size and a zero-padded size",
     "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n  0003\r\nxyz\r\n0\r\n", 1,
     "head 200 -1\nbody xyz\ncomplete\nclose\n"},
    {"chunked wins over a length",
     "HTTP/1.1 200 OK\r\nContent-Length: 1\r\nTransfer-Encoding: "
     "chunked\r\n\r\n2\r\nok\r\n0\r\n\r\n",
     1, "head 200 1\nbody ok\ncomplete\nclose\n"},
    {"body until the close never completes", "HTTP/1.0 200 OK\r\n\r\nsome bytes", 1,
     "head 200 -1\nbody some bytes\n"},
    {"204 has no body", "HTTP/1.1 204 No Content\r\nContent-Length: 5\r\n\r\n", 1,
     "head 204 5\ncomplete\nclose\n"},
    {"304 has no body", "HTTP/1.1 304 Not Modified\r\nContent-Length: 5\r\n\r\n", 1,
     "head 304 5\ncomplete\nclose\n"},
    {"the answer to HEAD has no body", "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\n", 1,
     "head 200 5\ncomplete\nclose\n", "HEAD"},
    {"interim 100 then the response; only the final one closes",
     "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok", 1,
     "head 100 -1\ncomplete\nhead 200 2\nbody ok\ncomplete\nclose\n"},
    {"LF line ends", "HTTP/1.1 200 OK\nContent-Length: 3\n\nabc", 1,
     "head 200 3\nbody abc\ncomplete\nclose\n"},
    {"LF CR line ends", "HTTP/1.1 200 OK\n\rContent-Length: 3\n\r\n\rabc", 1,
     "head 200 3\nbody abc\ncomplete\nclose\n"},
    {"lone CR line ends", "HTTP/1.1 200 OK\rContent-Length: 3\r\rabc", 1,
     "head 200 3\nbody abc\ncomplete\nclose\n"},
    {"empty lines before the status line are skipped",
     "\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 1\r\n\r\nx", 1,
     "head 200 1\nbody x\ncomplete\nclose\n"},
    {"two responses on a kept-alive connection, empty lines between",
     "HTTP/1.1 200 OK\r\nContent-Length: 1\r\n\r\na\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: "
     "1\r\n\r\nb",
     1, "head 200 1\nbody a\ncomplete\nhead 200 1\nbody b\ncomplete\n", "GET", 0},
    {"the response's Connection: close closes a kept-alive exchange",
     "HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Length: 1\r\n\r\na", 1,
     "head 200 1\nbody a\ncomplete\nclose\n", "GET", 0},
    {"questionable Connection words are tolerated",
     "HTTP/1.1 200 OK\r\nConnection: keep-alive, Upgrade\r\nContent-Length: 1\r\n\r\na", 1,
     "head 200 1\nbody a\ncomplete\nclose\n"},
    {"header lines without value are ignored by a client",
     "HTTP/1.1 200 OK\r\nContent-Type:\r\nConnection:\r\nHost:\r\nExpect: x\r\nContent-Length: "
     "1\r\n\r\na",
     1, "head 200 1\nbody a\ncomplete\nclose\n"},
    {"a bytes past the counted body start the next message",
     "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nokHTTP/1.1 204 X\r\n\r\n", 1,
     "head 200 2\nbody ok\ncomplete\nhead 204 -1\ncomplete\n", "GET", 0},

    // Failures.
    {"status line without reason phrase", "HTTP/1.1 200\r\nContent-Length: 1\r\n\r\nx", -1, ""},
    {"status line without status", "HTTP/1.1\r\n\r\n", -1, ""},
    {"status zero", "HTTP/1.1 0 OK\r\n\r\n", -1, ""},
    {"status beyond int", "HTTP/1.1 " + huge + " OK\r\n\r\n", -1, ""},
    {"a first line of fewer than three words", "hello\r\n\r\n", -1, ""},
    {"a request line instead of a status line fails at the end of the head",
     "ICY 200 OK\r\nContent-Length: 1\r\n\r\nx", -1, ""},
    {"a content length that is not a number", "HTTP/1.1 200 OK\r\nContent-Length: abc\r\n\r\n", -1,
     ""},
    {"a content length of only a sign", "HTTP/1.1 200 OK\r\nContent-Length: +\r\n\r\n", -1, ""},
    {"a negative content length", "HTTP/1.1 200 OK\r\nContent-Length: -1\r\n\r\n", -1, ""},
    {"a content length just beyond int", "HTTP/1.1 200 OK\r\nContent-Length: 2147483648\r\n\r\n",
     -1, ""},
    {"a content length far beyond int", "HTTP/1.1 200 OK\r\nContent-Length: " + huge + "\r\n\r\n",
     -1, ""},
    {"a chunk size just beyond int",
     "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n80000000\r\nxx", -1, "head 200 -1\n"},
    {"a chunk size of twenty hex digits",
     "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nFFFFFFFFFFFFFFFFFFFF\r\nxx", -1,
     "head 200 -1\n"},
    {"a chunk size that is not hex", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n",
     -1, "head 200 -1\n"},
    {"an empty chunk size line", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n\r\n", -1,
     "head 200 -1\n"},
    {"bytes after the chunk data",
     "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n4\r\nabcdX\r\n", -1,
     "head 200 -1\nbody abcd\n"},
};

TEST(HttpReaderTest, EveryResponseGivesTheSameTraceHoweverItIsSplit) {
  for (const auto &c : responses) {
    SCOPED_TRACE(c.name);
    int whole_result = 0;
    std::string whole = run(c, {}, &whole_result);
    EXPECT_EQ(whole, c.trace);
    EXPECT_EQ(whole_result, c.result);
    for (const auto &cuts : http_test::every_split(c.input.size())) {
      int result = 0;
      std::string trace = run(c, cuts, &result);
      if (trace != whole || result != whole_result) {
        ADD_FAILURE() << "split into " << cuts.size() + 1 << " blocks (first cut at "
                      << (cuts.empty() ? 0 : cuts[0]) << ") gave\n"
                      << trace << "=> " << result;
        break;
      }
    }
  }
}

TEST(HttpReaderTest, ChunkSizeAtTheLimitOfIntIsAccepted) {
  vorn_http_data_processor_oline p;
  recorder r(p);
  p.start_http_GET("h", "/");
  http_test::drain(p);
  std::string input = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n7fffffff\r\nabc";
  EXPECT_EQ(p.receive_all(input.data(), static_cast<int>(input.size())), 1);
  EXPECT_EQ(p.chunk_remaining, 0x7fffffff - 3);
  EXPECT_EQ(r.joined(), "head 200 -1\nbody abc\n");
}

TEST(HttpReaderTest, RefusingCallbacksFailTheMessageForGood) {
  struct refusal {
    const char *name;
    int head, body, complete;
    const char *trace;
  } cases[] = {
      {"head refused", 0, 1, 1, "head 200 3\n"},
      {"body refused", 1, 0, 1, "head 200 3\nbody abc\n"},
      {"completion refused", 1, 1, 0, "head 200 3\nbody abc\ncomplete\n"},
  };
  const std::string input = "HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\nabc";
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    vorn_http_data_processor_oline p;
    recorder r(p);
    r.accept_head = c.head;
    r.accept_body = c.body;
    r.accept_complete = c.complete;
    p.start_http_GET("h", "/");
    http_test::drain(p);
    EXPECT_EQ(p.receive_all(input.data(), static_cast<int>(input.size())), -1);
    EXPECT_EQ(p.failed, 1);
    EXPECT_EQ(r.joined(), c.trace);
    // Nothing is read or sent any more.
    EXPECT_EQ(p.receive_all("x", 1), -1);
    char buffer[16];
    EXPECT_EQ(p.get_tx_data(buffer, sizeof buffer), -1);
    EXPECT_EQ(p.start_http_GET("h", "/"), 0);
  }
}

TEST(HttpReaderTest, MissingCallbacksCountAsRefusals) {
  vorn_http_data_processor_oline p;
  p.start_http_GET("h", "/");
  http_test::drain(p);
  const std::string input = "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n";
  EXPECT_EQ(p.receive_all(input.data(), static_cast<int>(input.size())), -1);
  EXPECT_EQ(p.failed, 1);
  EXPECT_EQ(p.receive_all(input.data(), 0), -1);
}

TEST(HttpReaderTest, ReceivedFieldsStayReadableAfterTheMessage) {
  vorn_http_data_processor_oline p;
  recorder r(p);
  p.start_http_GET("h", "/");
  http_test::drain(p);
  const std::string input =
      "HTTP/1.1 404 Not Found Here\r\nContent-Type: Text/HTML; charset=utf-8\r\n"
      "Transfer-Encoding: chunked;q=1,x\r\n\r\n0\r\n\r\n";
  ASSERT_EQ(p.receive_all(input.data(), static_cast<int>(input.size())), 1);
  EXPECT_EQ(p.status_code, 404);
  EXPECT_STREQ(p.reason, "Not Found Here");
  EXPECT_STREQ(p.version_text, "HTTP/1.1");
  EXPECT_EQ(p.version_code, 11);
  EXPECT_STREQ(p.content_type, "Text/HTML; charset=utf-8");
  EXPECT_EQ(p.content_type_code, 2);
  EXPECT_STREQ(p.transfer_encoding, "chunked q=1 x");
  EXPECT_EQ(p.first_line.c_str(), std::string("HTTP/1.1 404 Not Found Here"));
}

TEST(HttpReaderTest, OverlongLinesAndFieldsAreCutNotOverrun) {
  vorn_http_data_processor_oline p;
  recorder r(p);
  p.start_http_GET("h", "/");
  http_test::drain(p);
  const std::string reason(10000, 'r');
  const std::string type(500, 't');
  const std::string input = "HTTP/1.1 200 " + reason + "\r\nContent-Type: " + type +
                            "\r\nX-Long: " + std::string(20000, 'x') +
                            "\r\nContent-Length: 1\r\n\r\nz";
  ASSERT_EQ(p.receive_all(input.data(), static_cast<int>(input.size())), 1);
  EXPECT_EQ(std::string(p.reason), std::string(255, 'r'));
  EXPECT_EQ(std::string(p.content_type), std::string(63, 't'));
  EXPECT_EQ(p.first_line.length, 5999);
  EXPECT_EQ(r.joined(), "head 200 1\nbody z\ncomplete\n");
}

TEST(HttpReaderTest, VersionWordsGiveTheirCodes) {
  struct {
    const char *word;
    int code;
    bool warned;
  } cases[] = {{"HTTP/1.0", 10, false}, {"HTTP/1.1", 11, false}, {"http/1.1", 11, false},
               {"HTTP/0.9", 0, false},  {"HTTP/2", 20, false},   {"HTTP/1.2", 20, false},
               {"HTTP/0", 20, false},   {"HTTP/nan", 20, false}, {"HTTP/x", 20, false},
               {"ICY", 20, true}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.word);
    testing_support::log_capture log;
    vorn_http_data_processor_oline p;
    EXPECT_EQ(p.try_extract_http_version_number(c.word), c.code);
    EXPECT_EQ(
        log.text().find("got bad http version '" + std::string(c.word) + "'.") != std::string::npos,
        c.warned)
        << log.text();
  }
}

TEST(HttpReaderTest, WarningsNameTheOffendingLine) {
  struct {
    const char *header;
    const char *warning;
  } cases[] = {
      {"Content-Length: abc", "got bad content length, line: Content-Length: abc\n"},
      {"Connection: keep-alive, Upgrade",
       "got questionable Connection: line: Connection: keep-alive, Upgrade\n"},
      {"Content-Type:", "got bad content type line: Content-Type:\n"},
      {"Expect: later", "got bad Expect: line: Expect: later\n"},
      {"Transfer-Encoding:", "got bad transfer encoding line: Transfer-Encoding:\n"},
      {"Host:", "got empty host line 'Host:'.\n"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.header);
    testing_support::log_capture log;
    vorn_http_data_processor_oline p;
    recorder r(p);
    p.start_http_GET("h", "/");
    http_test::drain(p);
    std::string input = std::string("HTTP/1.1 200 OK\r\n") + c.header + "\r\n";
    p.receive_all(input.data(), static_cast<int>(input.size()));
    EXPECT_EQ(log.text(), std::string("Warning in vorn_http_data_processor_oline::"
                                      "header_line_parse(), ") +
                              c.warning);
  }
}

TEST(HttpReaderTest, ABadStatusLineIsReported) {
  testing_support::log_capture log;
  vorn_http_data_processor_oline p;
  recorder r(p);
  p.start_http_GET("h", "/");
  http_test::drain(p);
  EXPECT_EQ(p.receive_all("HTTP/1.1 200\r\n", 14), -1);
  EXPECT_EQ(log.text(),
            "Warning in vorn_http_data_processor_oline::header_line_parse(), failed to parse "
            "response line 'HTTP/1.1 200'.\n");
}

TEST(HttpReaderTest, TheCloseCompletesOnlyABodyThatRunsUntilIt) {
  struct {
    const char *name;
    const char *input;
    const char *trace;
  } cases[] = {
      {"close-delimited", "HTTP/1.0 200 OK\r\n\r\nabc", "head 200 -1\nbody abc\ncomplete\n"},
      {"counted body cut short", "HTTP/1.1 200 OK\r\nContent-Length: 9\r\n\r\nabc",
       "head 200 9\nbody abc\n"},
      {"chunked body cut short", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n9\r\nabc",
       "head 200 -1\nbody abc\n"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    vorn_http_data_processor_oline p;
    recorder r(p);
    p.start_http_GET("h", "/");
    http_test::drain(p);
    ASSERT_EQ(p.receive_all(c.input, static_cast<int>(strlen(c.input))), 1);
    p.connection_closed();
    EXPECT_EQ(r.joined(), c.trace);
  }
}

}  // namespace
