// Feeds arbitrary bytes to the HTTP reader as the responses to one GET or HEAD
// request, split into blocks the way a socket might deliver them, and checks
// what an owner of the processor relies on whatever the server sends: the
// order and count of the callbacks, the body framing (never more than a
// Content-Length, never past a chunk, nothing for a response that has no
// body), every field terminated within its array, and nothing queued to send
// after the request.
//
// Input layout:
//   byte 0       options: bit 0 HEAD instead of GET, bit 1 HTTP/1.0 (the
//                request asks to close), bit 2 a cookie prefix, bit 3
//                credentials
//   byte 1       k = byte % 16, the number of split bytes that follow
//   k bytes      block sizes, used in turn and over again; 0 is "the rest"
//   the rest     the bytes the server sends
// Each block is copied into an allocation of its own size, so that ASan sees
// a read past the block's end.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "fuzz/http_fuzz_checks.h"
#include "http/http_processor.h"
#include "support/debug_log.h"

namespace {

volatile unsigned body_sum;  // every body byte is read into it

struct fuzz_state {
  int head_request = 0;
  // The block being handed to receive_all: body bytes must lie inside it.
  const char *block = nullptr;
  int block_length = 0;
  // Set while connection_closed() runs, so that a completion knows its cause.
  int closing = 0;
  // The message between message_received and message_complete.
  int open = 0;
  int has_body = 0;
  int chunked = 0;
  int length = -1;
  long long body = 0;
};

fuzz_state *state_of(void *user_data) { return static_cast<fuzz_state *>(user_data); }

using http_fuzz::check;

// What holds between any two steps of the reader, whatever it was fed.
void check_fields(const vorn_http_data_processor_oline &p) { http_fuzz::check_fields(p, 1000); }

int on_message_received(vorn_http_data_processor_oline *p, void *user_data) {
  fuzz_state *s = state_of(user_data);
  check(!s->open);  // once per message: the previous one was completed
  check(!s->closing);
  check_fields(*p);
  check(p->status_code > 0);  // only a response reaches a client's owner
  int no_body_status = (p->status_code >= 100 && p->status_code <= 199) || p->status_code == 204 ||
                       p->status_code == 304;
  if (s->head_request || no_body_status) check(!p->in_body);
  s->open = 1;
  s->has_body = p->in_body;
  s->chunked = p->rx_chunked;
  s->length = p->content_length;
  s->body = 0;
  return 1;
}

int on_content_data(vorn_http_data_processor_oline *p, void *user_data, const char *data,
                    int length) {
  fuzz_state *s = state_of(user_data);
  check(s->open && s->has_body);  // after message_received, and only when a body was announced
  check(length >= 1);
  check(data != nullptr && s->block != nullptr);
  // The bytes come straight from the block being received.
  check(data >= s->block && length <= s->block_length &&
        data - s->block <= s->block_length - length);
  check(p->in_body);
  if (p->rx_chunked) {
    check(p->chunk_state == 2 && length <= p->chunk_remaining);
  } else if (p->content_length >= 0) {
    check(static_cast<long long>(p->body_received) + length <= p->content_length);
  }
  s->body += length;
  if (!s->chunked && s->length >= 0) check(s->body <= s->length);
  unsigned sum = 0;
  for (int i = 0; i < length; ++i) sum += static_cast<unsigned char>(data[i]);
  body_sum = body_sum + sum;
  return 1;
}

int on_message_complete(vorn_http_data_processor_oline *p, void *user_data) {
  fuzz_state *s = state_of(user_data);
  check(s->open);  // once per message_received
  check(!p->in_body);
  check_fields(*p);
  if (!s->has_body) check(s->body == 0);
  int until_close = s->has_body && !s->chunked && s->length < 0;
  // A body that runs until the close ends only with the close, and only such a body does.
  check(until_close == s->closing);
  if (s->has_body && !s->chunked && s->length >= 0) check(s->body == s->length);
  s->open = 0;
  return 1;
}

void on_close(vorn_http_data_processor_oline *p, void *) { check_fields(*p); }

int on_tx(vorn_http_data_processor_oline *, void *, char *, int) {
  std::abort();  // a GET or a HEAD has no body to pull
}

// Drains the queue; returns the bytes read (their count only).
long long drain(vorn_http_data_processor_oline &p, char *first, int first_size) {
  char buffer[1024];
  long long total = 0;
  for (int n; (n = p.get_tx_data(buffer, sizeof buffer)) > 0;) {
    check(n <= static_cast<int>(sizeof buffer));
    for (int i = 0; i < n && total + i < first_size; ++i) first[total + i] = buffer[i];
    total += n;
  }
  return total;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  if (size < 2) return 0;
  debug_messages_disable();  // the reader's warnings would only fill the log
  const int options = data[0];
  const std::size_t split_count = data[1] % 16;
  if (size < 2 + split_count) return 0;
  const std::uint8_t *splits = data + 2;
  const char *input = reinterpret_cast<const char *>(data + 2 + split_count);
  const std::size_t input_size = size - 2 - split_count;

  fuzz_state s;
  s.head_request = options & 1;
  vorn_http_data_processor_oline p;
  p.user_data = &s;
  p.message_received = on_message_received;
  p.content_data_received = on_content_data;
  p.message_complete = on_message_complete;
  p.close_connection = on_close;
  p.content_body_get_tx_data = on_tx;
  p.force_http_1_0 = (options >> 1) & 1;
  if (options & 4) vorn_http_cookie::set_cookie_prefix(&p, "vl_");
  if (options & 8) p.set_credentials("player", "secret");

  int started = s.head_request ? p.start_http_HEAD("updates.example", "/list.txt")
                               : p.start_http_GET("updates.example", "/list.txt");
  check(started == 1);
  char request[8];
  long long sent = drain(p, request, sizeof request);
  check(sent >= 8 &&
        std::memcmp(request, s.head_request ? "HEAD /" : "GET /", s.head_request ? 6 : 5) == 0);

  std::size_t position = 0;
  for (std::size_t k = 0; position < input_size; ++k) {
    std::size_t n = split_count > 0 ? splits[k % split_count] : 0;
    if (n == 0 || n > input_size - position) n = input_size - position;
    std::vector<char> block(input + position, input + position + n);
    s.block = block.data();
    s.block_length = static_cast<int>(n);
    int result = p.receive_all(block.data(), static_cast<int>(n));
    s.block = nullptr;
    check(result == 1 || result == -1);  // only a server discards input
    check_fields(p);
    char unused[1];
    check(drain(p, unused, 0) == 0);  // a client answers nothing
    if (result != 1) break;
    position += n;
  }

  s.closing = 1;
  p.connection_closed();
  s.closing = 0;
  check_fields(p);
  return 0;
}
