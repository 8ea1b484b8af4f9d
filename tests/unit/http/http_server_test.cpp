// The processor as a server: requests read from raw bytes (every split), the
// responses it composes, the 400 path that discards input and closes, and the
// cookies.
#include <gtest/gtest.h>

#include <string>

#include "common/test_support.h"
#include "http_trace.h"

using http_test::drain;
using http_test::recorder;

namespace {

struct request_case {
  const char *name;
  std::string input;
  int result;
  const char *trace;
  const char *sent;  // everything the processor queued meanwhile
};

std::string run(const request_case &c, const std::vector<size_t> &cuts, int *result,
                std::string *sent) {
  vorn_http_data_processor_oline p;
  recorder r(p);
  *result = http_test::feed(p, c.input, cuts);
  *sent = drain(p);
  return r.joined();
}

const char bad_request[] =
    "HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";

const request_case requests[] = {
    {"path and query", "GET /index.html?x=1 HTTP/1.1\r\nHost: h\r\n\r\n", 1,
     "request GET h index.html x=1 11 -1\ncomplete\n", ""},
    {"absolute form", "GET http://h/a/b?c HTTP/1.1\r\n\r\n", 1,
     "request GET h a/b c 11 -1\ncomplete\n", ""},
    {"absolute form without path", "GET http://h HTTP/1.1\r\nHost: h\r\n\r\n", 1,
     "request GET h   11 -1\ncomplete\n", ""},
    {"every leading slash is dropped", "HEAD //a//b HTTP/1.0\r\n\r\n", 1,
     "request HEAD  a//b  10 -1\ncomplete\n", ""},
    {"two requests, empty lines between", "GET /a HTTP/1.1\r\n\r\n\r\n\r\nGET /b HTTP/1.1\r\n\r\n",
     1, "request GET  a  11 -1\ncomplete\nrequest GET  b  11 -1\ncomplete\n", ""},
    {"POST with a counted body gets 100 continue",
     "POST /up HTTP/1.1\r\nContent-Length: 4\r\n\r\nabcd", 1,
     "request POST  up  11 4\nbody abcd\ncomplete\n", "HTTP/1.1 100 continue\r\n\r\n"},
    {"chunked request body",
     "PUT /up HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n0\r\n\r\n", 1,
     "request PUT  up  11 -1\nbody abc\ncomplete\n", "HTTP/1.1 100 continue\r\n\r\n"},
    {"Expect: 100-continue on GET", "GET / HTTP/1.1\r\nExpect: 100-continue\r\n\r\n", 1,
     "request GET    11 -1\ncomplete\n", "HTTP/1.1 100 continue\r\n\r\n"},
    {"no 100 continue for HTTP/1.0", "POST / HTTP/1.0\r\nContent-Length: 1\r\n\r\nz", 1,
     "request POST    10 1\nbody z\ncomplete\n", ""},
    {"the same Host twice", "GET / HTTP/1.1\r\nHost: h\r\nHost: h\r\n\r\n", 1,
     "request GET h   11 -1\ncomplete\n", ""},

    // Rejected: a 400 that closes, the rest of the input swallowed.
    {"bad content length", "POST / HTTP/1.1\r\nContent-Length: x\r\n\r\nGET / HTTP/1.1\r\n\r\n", 0,
     "close\n", bad_request},
    {"content length beyond int", "POST / HTTP/1.1\r\nContent-Length: 4294967296\r\n\r\n", 0,
     "close\n", bad_request},
    {"a different second Host", "GET / HTTP/1.1\r\nHost: a\r\nHost: b\r\n\r\n", 0, "close\n",
     bad_request},
    {"Host without value", "GET / HTTP/1.1\r\nHost:\r\n\r\n", 0, "close\n", bad_request},
    {"Expect of something else", "GET / HTTP/1.1\r\nExpect: later\r\n\r\n", 0, "close\n",
     bad_request},
    {"request line of two words", "GET /\r\n\r\n", 0, "close\n", bad_request},
    {"path longer than its field", "GET /" + std::string(300, 'p') + " HTTP/1.1\r\n\r\n", 0,
     "close\n", bad_request},
    {"query longer than its field", "GET /a?" + std::string(300, 'q') + " HTTP/1.1\r\n\r\n", 0,
     "close\n", bad_request},
    {"a body framed by neither length nor chunks",
     "POST / HTTP/1.1\r\nTransfer-Encoding: gzip\r\n\r\nGET /b HTTP/1.1\r\n\r\n", 0, "close\n",
     bad_request},
    {"a response where a request belongs", "HTTP/1.1 200 OK\r\n\r\n", -1, "", ""},
};

TEST(HttpServerTest, EveryRequestGivesTheSameTraceHoweverItIsSplit) {
  for (const auto &c : requests) {
    SCOPED_TRACE(c.name);
    int whole_result = 0;
    std::string whole_sent;
    std::string whole = run(c, {}, &whole_result, &whole_sent);
    EXPECT_EQ(whole, c.trace);
    EXPECT_EQ(whole_result, c.result);
    EXPECT_EQ(whole_sent, c.sent);
    for (const auto &cuts : http_test::every_split(c.input.size())) {
      int result = 0;
      std::string sent;
      std::string trace = run(c, cuts, &result, &sent);
      // Once input is discarded, later blocks are swallowed whole (1): only the
      // first result is the same.
      if (trace != whole || result != whole_result || sent != whole_sent) {
        ADD_FAILURE() << "split into " << cuts.size() + 1 << " blocks (first cut at "
                      << (cuts.empty() ? 0 : cuts[0]) << ") gave\n"
                      << trace << "=> " << result << "\nsent: " << sent;
        break;
      }
    }
  }
}

TEST(HttpServerTest, AfterA400TheProcessorStops) {
  vorn_http_data_processor_oline p;
  recorder r(p);
  const std::string input = "GET / HTTP/1.1\r\nContent-Length: -5\r\n\r\n";
  EXPECT_EQ(p.receive_all(input.data(), static_cast<int>(input.size())), 0);
  EXPECT_EQ(p.discard_input, 1);
  EXPECT_EQ(p.receive_all("more", 4), 1);  // swallowed
  EXPECT_EQ(drain(p), bad_request);
  EXPECT_EQ(r.joined(), "close\n");
  EXPECT_EQ(p.failed, 1);
}

TEST(HttpServerTest, ResponsesAreExact) {
  struct {
    const char *name;
    const char *request;
    int chunked;
    int status, type, length;
    const char *reason;
    const char *body;
    const char *response;
  } cases[] = {
      {"counted HTML", "GET / HTTP/1.1\r\n\r\n", 0, 200, 2, 5, "OK", "hello",
       "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: 5\r\n\r\n"
       "hello"},
      {"HEAD gets the length but no body", "HEAD / HTTP/1.1\r\n\r\n", 0, 200, 2, 5, "OK", "hello",
       "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: 5\r\n\r\n"},
      {"code without a name", "GET / HTTP/1.1\r\n\r\n", 0, 404, 5, 0, "Not Found", "",
       "HTTP/1.1 404 Not Found\r\nContent-Type: binary/unknown; charset=utf-8\r\n"
       "Content-Length: 0\r\n\r\n"},
      {"null reason", "GET / HTTP/1.1\r\n\r\n", 0, 500, 1, 0, nullptr, "",
       "HTTP/1.1 500 (null)\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Length: "
       "0\r\n\r\n"},
      {"unknown length closes", "GET / HTTP/1.1\r\n\r\n", 0, 200, 14, -1, "OK", "abc",
       "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream; charset=utf-8\r\n"
       "Connection: close\r\n\r\nabc"},
      {"unknown length, chunked", "GET / HTTP/1.1\r\n\r\n", 1, 200, 13, -1, "OK", "abc",
       "HTTP/1.1 200 OK\r\nContent-Type: application/json; charset=utf-8\r\n"
       "Transfer-Encoding: chunked\r\nConnection: close\r\n\r\n3\r\nabc\r\n0\r\n\r\n"},
      {"counted, chunked, kept alive", "GET / HTTP/1.1\r\n\r\n", 1, 200, 11, 3, "OK", "abc",
       "HTTP/1.1 200 OK\r\nContent-Type: application/xml; charset=utf-8\r\n"
       "Transfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n0\r\n\r\n"},
      {"answer to HTTP/1.0", "GET / HTTP/1.0\r\n\r\n", 0, 200, 1, 2, "OK", "ok",
       "HTTP/1.1 200 OK\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Length: 2\r\n"
       "Connection: close\r\n\r\nok"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    vorn_http_data_processor_oline p;
    recorder r(p);
    p.allow_chunked_body = c.chunked;
    ASSERT_EQ(p.receive_all(c.request, static_cast<int>(strlen(c.request))), 1);
    r.tx_body = c.body;
    EXPECT_EQ(p.send_response(c.status, c.type, c.length, c.reason), 1);
    EXPECT_EQ(drain(p), c.response);
  }
}

TEST(HttpServerTest, FixedResponsesAreExact) {
  struct {
    const char *name;
    int (*send)(vorn_http_data_processor_oline &);
    const char *response;
    int closes;
  } cases[] = {
      {"301", [](vorn_http_data_processor_oline &p) { return p.send_response_301("/new"); },
       "HTTP/1.1 301 Moved Permanently\r\nLocation: /new\r\nContent-Length: 0\r\n\r\n", 0},
      {"301 without location",
       [](vorn_http_data_processor_oline &p) { return p.send_response_301(nullptr); },
       "HTTP/1.1 301 Moved Permanently\r\nLocation: (null)\r\nContent-Length: 0\r\n\r\n", 0},
      {"400 default",
       [](vorn_http_data_processor_oline &p) { return p.send_response_400(nullptr); },
       "HTTP/1.1 400 Bad request\r\nContent-Length: 0\r\nConnection: close\r\n\r\n", 1},
      {"400 with reason",
       [](vorn_http_data_processor_oline &p) { return p.send_response_400("No"); },
       "HTTP/1.1 400 No\r\nContent-Length: 0\r\nConnection: close\r\n\r\n", 1},
      {"413 default", [](vorn_http_data_processor_oline &p) { return p.send_response_413(""); },
       "HTTP/1.1 413 Content Body Too Large\r\nContent-Length: 0\r\n\r\n", 0},
      {"415 default",
       [](vorn_http_data_processor_oline &p) { return p.send_response_415(nullptr); },
       "HTTP/1.1 415 Content Body in Unsupported Format\r\nContent-Length: 0\r\n\r\n", 0},
      {"501", [](vorn_http_data_processor_oline &p) { return p.send_response_501(); },
       "HTTP/1.1 501 Unimplemented\r\nContent-Length: 0\r\n\r\n", 0},
      {"100", [](vorn_http_data_processor_oline &p) { return p.send_response_100(); },
       "HTTP/1.1 100 continue\r\n\r\n", 0},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    vorn_http_data_processor_oline p;
    recorder r(p);
    const char request[] = "GET / HTTP/1.1\r\n\r\n";
    ASSERT_EQ(p.receive_all(request, sizeof request - 1), 1);
    r.events.clear();
    EXPECT_EQ(c.send(p), 1);
    EXPECT_EQ(drain(p), c.response);
    EXPECT_EQ(r.joined(), c.closes ? "close\n" : "");
  }
}

TEST(HttpServerTest, InterimContinueDoesNotCloseAConnectionAskedToClose) {
  // The client asked to close after the exchange; the 100 must not end it
  // before the body and the real answer.
  vorn_http_data_processor_oline p;
  recorder r(p);
  const std::string head = "POST / HTTP/1.1\r\nConnection: close\r\nContent-Length: 3\r\n\r\n";
  ASSERT_EQ(p.receive_all(head.data(), static_cast<int>(head.size())), 1);
  EXPECT_EQ(drain(p), "HTTP/1.1 100 continue\r\n\r\n");
  ASSERT_EQ(p.receive_all("abc", 3), 1);
  r.tx_body = "ok";
  ASSERT_EQ(p.send_response(200, 1, 2, "OK"), 1);
  EXPECT_NE(drain(p).find("Connection: close\r\n\r\nok"), std::string::npos);
  EXPECT_EQ(r.joined(), "request POST    11 3\nbody abc\ncomplete\nclose\n");
}

TEST(HttpServerTest, CookiesAreParsedWithThePrefixAndWrittenAsSetCookieLines) {
  vorn_http_data_processor_oline p;
  recorder r(p);
  ASSERT_EQ(vorn_http_cookie::set_cookie_prefix(&p, "ab"), 1);
  EXPECT_EQ(p.parse_cookie_header("abX=1; other=2; ABY=3=4"), 2);
  EXPECT_STREQ(p.find_received_cookie("x"), "1");
  EXPECT_STREQ(p.find_received_cookie("Y"), "3=4");
  EXPECT_EQ(p.find_received_cookie("other"), nullptr);
  p.remove_received_cookie("X");
  EXPECT_EQ(p.find_received_cookie("X"), nullptr);

  p.set_cookie("session", "v1", "example.org", 3600, 1);
  p.set_cookie("SESSION", "v2", "example.org", 60, 1);  // the same cookie
  p.expire_cookie("k", "");
  bounded_text lines;
  p.write_cookie_lines(lines);
  EXPECT_EQ(std::string(lines.c_str()),
            "Set-Cookie: abk=; Domain=; Path=/; Max-Age=0; HttpOnly\r\n"
            "Set-Cookie: absession=v2; Domain=example.org; Path=/; Max-Age=60; HttpOnly; "
            "Secure\r\n");
  EXPECT_STREQ(p.find_cookie_to_send("Session"), "v2");
}

TEST(HttpServerTest, CookiesBelongToTheRequestThatSentThem) {
  vorn_http_data_processor_oline p;
  recorder r(p);
  const std::string two = "GET /1 HTTP/1.1\r\nCookie: session=abc\r\n\r\nGET /2 HTTP/1.1\r\n\r\n";
  ASSERT_EQ(p.receive_all(two.data(), static_cast<int>(two.size())), 1);
  EXPECT_STREQ(p.path, "2");
  EXPECT_EQ(p.find_received_cookie("session"), nullptr);
}

TEST(HttpServerTest, CookieHeaderCornerCases) {
  struct {
    const char *value;
    int stored;
    const char *key;
    const char *found;
  } cases[] = {
      {"", 0, "a", nullptr},    {"a=1", 1, "a", "1"}, {"a=1;;  b=2", 2, "b", "2"},
      {";a=1", 2, "", ""},      {"=x", 1, "", "x"},   {"flag", 1, "flag", ""},
      {"a=1 a=2", 2, "a", "2"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.value);
    vorn_http_data_processor_oline p;
    EXPECT_EQ(p.parse_cookie_header(c.value), c.stored);
    const char *found = p.find_received_cookie(c.key);
    if (c.found == nullptr)
      EXPECT_EQ(found, nullptr);
    else
      EXPECT_STREQ(found, c.found);
  }
}

TEST(HttpServerTest, APeerCannotPileUpCookies) {
  vorn_http_data_processor_oline p;
  std::string many;
  for (int i = 0; i < 200; ++i) many += "c" + std::to_string(i) + "=v; ";
  testing_support::log_capture log;
  EXPECT_EQ(p.parse_cookie_header(many.c_str()), 64);
  EXPECT_STREQ(p.find_received_cookie("c63"), "v");
  EXPECT_EQ(p.find_received_cookie("c64"), nullptr);
  // Known cookies are still updated.
  EXPECT_EQ(p.parse_cookie_header("c1=new"), 1);
  EXPECT_STREQ(p.find_received_cookie("c1"), "new");
}

TEST(HttpServerTest, OverlongCookieTextsAreRefusedAndReported) {
  vorn_http_cookie cookie;
  testing_support::log_capture log;
  ASSERT_EQ(cookie.set_key("k"), 1);
  const std::string key(64, 'k');
  EXPECT_EQ(cookie.set_key(key.c_str()), 0);
  EXPECT_STREQ(cookie.key, "k");
  EXPECT_EQ(cookie.set_value(std::string(256, 'v').c_str()), 0);
  EXPECT_EQ(cookie.set_value(std::string(255, 'v').c_str()), 1);
  EXPECT_EQ(cookie.set_domain(nullptr), 1);
  vorn_http_data_processor_oline p;
  EXPECT_EQ(vorn_http_cookie::set_cookie_prefix(&p, std::string(32, 'p').c_str()), 0);
  const std::string expected =
      "Error in vorn_http_cookie::set_key() - incoming string '" + key + "' too long.\n";
  EXPECT_EQ(log.text().substr(0, expected.size()), expected);
  EXPECT_NE(log.text().find("Error in vorn_http_cookie::set_cookie_prefix() - incoming string '"),
            std::string::npos);
}

TEST(HttpServerTest, ContentTypesMapBothWays) {
  struct {
    const char *value;
    int code;
  } cases[] = {{"text/plain", 1},
               {"TEXT/HTML; charset=x", 2},
               {"application/json\tx", 13},
               {"application/xml", 11},
               {"application/rss+xml", 12},
               {"text/htmlx", 99},
               {"", 99},
               {"application/octet-stream", 14},
               {"application/x-www-form-urlencoded", 10}};
  for (const auto &c : cases) EXPECT_EQ(content_type_code_of(c.value), c.code) << c.value;
  for (int code : {1, 2, 10, 11, 12, 13, 14})
    EXPECT_EQ(content_type_code_of(content_type_name_of(code)), code);
  for (int code : {-1, 0, 3, 9, 15, 99}) EXPECT_STREQ(content_type_name_of(code), "binary/unknown");
}

TEST(HttpServerTest, ResetAndCloseNowClearTheMessageState) {
  vorn_http_data_processor_oline p;
  recorder r(p);
  const std::string head = "GET /x?y HTTP/1.0\r\nConnection: close\r\n\r\n";
  ASSERT_EQ(p.receive_all(head.data(), static_cast<int>(head.size())), 1);
  EXPECT_EQ(p.close_requested, 1);
  p.close_connection_now();
  EXPECT_EQ(p.close_requested, 0);
  EXPECT_EQ(p.close_after_send, 0);
  p.reset_message_fields();
  EXPECT_STREQ(p.path, "");
  EXPECT_EQ(p.version_code, 20);
  EXPECT_EQ(p.content_length, -1);
  EXPECT_EQ(p.line_count, 0);
  EXPECT_EQ(r.joined(), "request GET  x y 10 -1\ncomplete\nclose\n");
}

}  // namespace
