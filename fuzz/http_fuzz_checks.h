// What holds for a vorn_http_data_processor_oline between any two steps of its
// reader, whatever it was fed: the checks both HTTP fuzz targets make. A broken
// check aborts, which libFuzzer reports with the input.
#ifndef VIRELAN_FUZZ_HTTP_FUZZ_CHECKS_H
#define VIRELAN_FUZZ_HTTP_FUZZ_CHECKS_H

#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "http/http_processor.h"

namespace http_fuzz {

inline void check(bool condition) {
  if (!condition) std::abort();
}

template <std::size_t N>
bool terminated(const char (&field)[N]) {
  return std::memchr(field, 0, N) != nullptr;
}

inline bool text_terminated(const bounded_text &text) {
  return text.length >= 0 && text.length <= bounded_text::full &&
         std::memchr(text.text, 0, bounded_text::capacity) != nullptr;
}

inline void check_cookies(const vorn_http_cookie *list, int limit) {
  int count = 0;
  for (; list != nullptr; list = list->next) {
    check(++count <= limit);
    check(terminated(list->key) && terminated(list->domain) && terminated(list->value));
  }
}

// The fields, counters and lists; `cookies_to_send_limit` is what the target
// itself stored.
inline void check_fields(const vorn_http_data_processor_oline &p, int cookies_to_send_limit) {
  check(terminated(p.version_text) && terminated(p.transfer_encoding) &&
        terminated(p.content_type) && terminated(p.reason) && terminated(p.method) &&
        terminated(p.host) && terminated(p.path) && terminated(p.query) &&
        terminated(p.sent_method) && terminated(p.user_name) && terminated(p.password) &&
        terminated(p.cookie_prefix));
  // The line is built with append_char only, which stops at 5999 characters.
  check(p.line.length >= 0 && p.line.length < bounded_text::full &&
        p.line.text[p.line.length] == '\0');
  check(text_terminated(p.first_line));
  check(p.version_code == 0 || p.version_code == 10 || p.version_code == 11 ||
        p.version_code == 20);
  check(p.status_code >= 0);
  check(p.content_length >= -1);
  check(p.chunk_remaining >= 0);
  check(p.chunk_state >= 0 && p.chunk_state <= 3);
  check(p.body_received >= 0);
  if (p.in_body && !p.rx_chunked && p.content_length >= 0) {
    check(p.body_received <= p.content_length);
  }
  // A peer can leave at most 64 cookies on a processor.
  check_cookies(p.received_cookies, 64);
  check_cookies(p.cookies_to_send, cookies_to_send_limit);
}

}  // namespace http_fuzz

#endif  // VIRELAN_FUZZ_HTTP_FUZZ_CHECKS_H
