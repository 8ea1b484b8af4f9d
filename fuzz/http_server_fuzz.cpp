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

#include "fuzz/http_fuzz_checks.h"
#include "http/http_processor.h"
#include "support/debug_log.h"

namespace {

struct fuzz_state {
  int answers = 0;
  int messages = 0;
  // Outgoing body bytes the tx callback still hands out for the last response.
  int tx_left = 0;
  http_fuzz::message_tracker message;
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
  check_fields(*p);
  check(p->status_code == 0);  // only a request reaches a server's owner
  s->message.received(*p);
  answer(p, s);
  check_fields(*p);
  return 1;
}

int on_content_data(vorn_http_data_processor_oline *p, void *user_data, const char *data,
                    int length) {
  state_of(user_data)->message.content(*p, data, length);
  return 1;
}

int on_message_complete(vorn_http_data_processor_oline *p, void *user_data) {
  check_fields(*p);
  state_of(user_data)->message.complete(*p);
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
  s.message.feed(p, splits, split_count, input, input_size, [&](int result) {
    check(result == 1 || result == 0 || result == -1);
    check_fields(p);
    drain(p, sent, &sent_total);
    return result == 1;
  });
  // Everything a server queues is a response.
  if (sent_total > 0) check(sent_total >= 8 && std::memcmp(sent, "HTTP/1.", 7) == 0);

  s.message.close(p);
  check_fields(p);
  return 0;
}
