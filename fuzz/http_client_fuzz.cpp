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

#include "fuzz/http_fuzz_checks.h"
#include "http/http_processor.h"
#include "support/debug_log.h"

namespace {

struct fuzz_state {
  int head_request = 0;
  http_fuzz::message_tracker message;
};

fuzz_state *state_of(void *user_data) { return static_cast<fuzz_state *>(user_data); }

using http_fuzz::check;

// What holds between any two steps of the reader, whatever it was fed.
void check_fields(const vorn_http_data_processor_oline &p) { http_fuzz::check_fields(p, 1000); }

int on_message_received(vorn_http_data_processor_oline *p, void *user_data) {
  fuzz_state *s = state_of(user_data);
  check_fields(*p);
  check(p->status_code > 0);  // only a response reaches a client's owner
  int no_body_status = (p->status_code >= 100 && p->status_code <= 199) || p->status_code == 204 ||
                       p->status_code == 304;
  if (s->head_request || no_body_status) check(!p->in_body);
  s->message.received(*p);
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

  s.message.feed(p, splits, split_count, input, input_size, [&p](int result) {
    check(result == 1 || result == -1);  // only a server discards input
    check_fields(p);
    char unused[1];
    check(drain(p, unused, 0) == 0);  // a client answers nothing
    return result == 1;
  });
  s.message.close(p);
  check_fields(p);
  return 0;
}
