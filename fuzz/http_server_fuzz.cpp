// Feeds arbitrary bytes to the HTTP reader as the requests a client sends to a
// processor that never started a request, split into blocks the way a socket
// might deliver them. The owner's message_received answers some requests (a
// response with a short body, one whose length is unknown, or a fixed
// response), and the queue is drained after every block. Checked whatever the
// client sends: the order and count of the callbacks, the body framing (never
// more than a Content-Length, never past a chunk), every field terminated
// within its array, at most 64 received cookies, and a queue that holds only
// responses.
//
// Input layout:
//   byte 0       options: bit 0 chunked bodies allowed, bit 1 HTTP/1.0, bit 2 a
//                cookie prefix, bit 3 a cookie to send
//   byte 1       the answers: two bits per message, in turn (0 none, 1 a
//                response with a counted body, 2 a response of unknown length,
//                3 a fixed response)
//   byte 2       k = byte % 16, the number of split bytes that follow
//   k bytes      block sizes, used in turn and over again; 0 is "the rest"
//   the rest     the bytes the client sends
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
  int answers = 0;
  int messages = 0;
  // Outgoing body bytes the tx callback still hands out for the last response.
  int tx_left = 0;
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
void check_fields(const vorn_http_data_processor_oline &p) {
  check(p.client_mode == 0);
  http_fuzz::check_fields(p, 1);
}

// The owner's answer to a request, chosen by the input.
void answer(vorn_http_data_processor_oline *p, fuzz_state *s) {
  const int message = s->messages++;
  switch ((s->answers >> (2 * (message % 4))) & 3) {
    case 0:
      break;
    case 1: {
      const int length = message % 3 == 0 ? 0 : 11;
      s->tx_left = length;
      p->send_response(200, http_content_text_plain, length, "OK");
      break;
    }
    case 2:
      s->tx_left = 7;
      p->send_response(200, http_content_octet_stream, -1, "OK");
      break;
    default:
      switch (message % 5) {
        case 0:
          p->send_response_301("http://updates.example/elsewhere");
          break;
        case 1:
          p->send_response_400(nullptr);
          break;
        case 2:
          p->send_response_413(nullptr);
          break;
        case 3:
          p->send_response_415("Unsupported");
          break;
        default:
          p->send_response_501();
          break;
      }
      break;
  }
}

int on_message_received(vorn_http_data_processor_oline *p, void *user_data) {
  fuzz_state *s = state_of(user_data);
  check(!s->open);  // once per message: the previous one was completed
  check(!s->closing);
  check_fields(*p);
  check(p->status_code == 0);  // only a request reaches a server's owner
  s->open = 1;
  s->has_body = p->in_body;
  s->chunked = p->rx_chunked;
  s->length = p->content_length;
  s->body = 0;
  answer(p, s);
  check_fields(*p);
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

// Hands out the rest of the response's body, then reports its end.
int on_tx(vorn_http_data_processor_oline *, void *user_data, char *buffer, int maximum) {
  fuzz_state *s = state_of(user_data);
  check(buffer != nullptr && maximum >= 1 && maximum <= 8192);
  if (s->tx_left <= 0) return -1;
  int n = s->tx_left < maximum ? s->tx_left : maximum;
  std::memset(buffer, 'b', static_cast<std::size_t>(n));
  s->tx_left -= n;
  return n;
}

// Drains the queue into `sent` (kept to its first bytes) and counts what it read.
void drain(vorn_http_data_processor_oline &p, char (&sent)[8], long long *total) {
  char buffer[1024];
  for (int n; (n = p.get_tx_data(buffer, sizeof buffer)) > 0;) {
    check(n <= static_cast<int>(sizeof buffer));
    for (int i = 0; i < n && *total + i < static_cast<long long>(sizeof sent); ++i)
      sent[*total + i] = buffer[i];
    *total += n;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  if (size < 3) return 0;
  debug_messages_disable();  // the reader's warnings would only fill the log
  const int options = data[0];
  const std::size_t split_count = data[2] % 16;
  if (size < 3 + split_count) return 0;
  const std::uint8_t *splits = data + 3;
  const char *input = reinterpret_cast<const char *>(data + 3 + split_count);
  const std::size_t input_size = size - 3 - split_count;

  fuzz_state s;
  s.answers = data[1];
  vorn_http_data_processor_oline p;
  p.user_data = &s;
  p.message_received = on_message_received;
  p.content_data_received = on_content_data;
  p.message_complete = on_message_complete;
  p.close_connection = on_close;
  p.content_body_get_tx_data = on_tx;
  p.allow_chunked_body = options & 1;
  p.force_http_1_0 = (options >> 1) & 1;
  if (options & 4) vorn_http_cookie::set_cookie_prefix(&p, "vl_");
  if (options & 8) p.set_cookie("session", "0123456789abcdef", "updates.example", 3600, 1);

  char sent[8] = {};
  long long sent_total = 0;
  std::size_t position = 0;
  for (std::size_t k = 0; position < input_size; ++k) {
    std::size_t n = split_count > 0 ? splits[k % split_count] : 0;
    if (n == 0 || n > input_size - position) n = input_size - position;
    std::vector<char> block(input + position, input + position + n);
    s.block = block.data();
    s.block_length = static_cast<int>(n);
    int result = p.receive_all(block.data(), static_cast<int>(n));
    s.block = nullptr;
    check(result == 1 || result == 0 || result == -1);
    check_fields(p);
    drain(p, sent, &sent_total);
    if (result != 1) break;
    position += n;
  }
  // Everything a server queues is a response.
  if (sent_total > 0) check(sent_total >= 8 && std::memcmp(sent, "HTTP/1.", 7) == 0);

  s.closing = 1;
  p.connection_closed();
  s.closing = 0;
  check_fields(p);
  return 0;
}
