// What holds for a vorn_http_data_processor_oline between any two steps of its
// reader, whatever it was fed: the checks both HTTP fuzz targets make, the
// message their callbacks follow and the way they feed the input in blocks. A
// broken check aborts, which libFuzzer reports with the input.
#ifndef VIRELAN_FUZZ_HTTP_FUZZ_CHECKS_H
#define VIRELAN_FUZZ_HTTP_FUZZ_CHECKS_H

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

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

inline volatile unsigned body_sum;  // every body byte is read into it

// The message between message_received and message_complete and the block
// being received, as the owner's callbacks see them, with the checks on the
// body framing that both targets make.
struct message_tracker {
  // The block being handed to receive_all: body bytes must lie inside it.
  const char *block = nullptr;
  int block_length = 0;
  // Set while connection_closed() runs, so that a completion knows its cause.
  int closing = 0;
  int open = 0;
  int has_body = 0;
  int chunked = 0;
  int length = -1;
  long long body = 0;

  // In message_received: once per message, the previous one completed.
  void received(const vorn_http_data_processor_oline &p) {
    check(!open);
    check(!closing);
    open = 1;
    has_body = p.in_body;
    chunked = p.rx_chunked;
    length = p.content_length;
    body = 0;
  }

  // In content_data_received: only after message_received and when a body was
  // announced, never past a Content-Length or a chunk.
  void content(const vorn_http_data_processor_oline &p, const char *data, int count) {
    check(open && has_body);
    check(count >= 1);
    check(data != nullptr && block != nullptr);
    // The bytes come straight from the block being received.
    check(data >= block && count <= block_length && data - block <= block_length - count);
    check(p.in_body);
    if (p.rx_chunked) {
      check(p.chunk_state == 2 && count <= p.chunk_remaining);
    } else if (p.content_length >= 0) {
      check(static_cast<long long>(p.body_received) + count <= p.content_length);
    }
    body += count;
    if (!chunked && length >= 0) check(body <= length);
    unsigned sum = 0;
    for (int i = 0; i < count; ++i) sum += static_cast<unsigned char>(data[i]);
    body_sum = body_sum + sum;
  }

  // In message_complete: once per message_received, with the whole body.
  void complete(const vorn_http_data_processor_oline &p) {
    check(open);
    check(!p.in_body);
    if (!has_body) check(body == 0);
    const int until_close = has_body && !chunked && length < 0;
    // A body that runs until the close ends only with the close, and only such a body does.
    check(until_close == closing);
    if (has_body && !chunked && length >= 0) check(body == length);
    open = 0;
  }

  // Feeds `input` to `p` in blocks whose sizes come from `splits` in turn (0,
  // or more than is left, is "the rest"), each copied into an allocation of its
  // own size so that ASan sees a read past its end. `after` gets receive_all's
  // result after each block and says whether to go on.
  template <typename After>
  void feed(vorn_http_data_processor_oline &p, const std::uint8_t *splits, std::size_t split_count,
            const char *input, std::size_t input_size, After after) {
    std::size_t position = 0;
    for (std::size_t k = 0; position < input_size; ++k) {
      std::size_t n = split_count > 0 ? splits[k % split_count] : 0;
      if (n == 0 || n > input_size - position) n = input_size - position;
      std::vector<char> copy(input + position, input + position + n);
      block = copy.data();
      block_length = static_cast<int>(n);
      const int result = p.receive_all(copy.data(), static_cast<int>(n));
      block = nullptr;
      if (!after(result)) break;
      position += n;
    }
  }

  // The peer closes the connection.
  void close(vorn_http_data_processor_oline &p) {
    closing = 1;
    p.connection_closed();
    closing = 0;
  }
};

}  // namespace http_fuzz

#endif  // VIRELAN_FUZZ_HTTP_FUZZ_CHECKS_H
