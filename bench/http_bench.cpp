// Micro-benchmarks of the HTTP reader, each beside a peer doing comparable work
// on the same bytes. A benchmark is named "<pair>/ours" or "<pair>/peer";
// scripts/bench prints the ratio of the two medians.
//
// - http_body_length: a whole 64 MiB response with Content-Length, handed to
//   a client processor (after its GET) in 8192-byte blocks, as a download
//   reads the socket. The owner's data callback copies every piece it gets
//   into an 8192-byte buffer, standing in for the file write. The peer copies
//   the same response bytes in the same 8192-byte blocks into such a buffer
//   with memcpy, so the ratio is the reader's cost over the copy every owner
//   pays anyway.
// - http_body_chunked: the same with the body in 8192-byte chunks ("2000",
//   the data, a line end; then the last chunk), so the chunk framing falls
//   across the block boundaries. The peer copies these same bytes.
//   Both body pairs report the bytes handed over (the response head and, for
//   chunked, the framing included), so MB/s compares like with like.
// - http_request_head: one typical browser request head (a GET with Host,
//   User-Agent, Accept, Accept-Encoding, Connection and a Cookie line of three
//   cookies; 375 bytes) read by a server processor that answers nothing, one
//   request after another on the same connection. The peer splits the same
//   head with memchr into a request line (method, target, version) and
//   name/value spans for each header line (the colon found, the value's
//   leading blanks skipped), as a zero-copy tokenizer in the manner of
//   picohttpparser would. That is the least any reader does on these bytes:
//   it copies nothing and interprets nothing (no Connection words, no cookie
//   records, no version code), where ours assembles each line into its own
//   buffer byte by byte, copies the fields, matches the known header names
//   and stores the cookies. The ratio measures ours against that floor; a
//   full parser would come out between the two.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>

#include "http/http_processor.h"
#include "support/debug_log.h"

namespace {

constexpr int block_size = 8192;
constexpr int body_size = 64 << 20;

// Body bytes that do not repeat within a block.
char body_byte(int i) { return static_cast<char>((i * 131 + (i >> 13)) & 0xff); }

std::string response_with_length() {
  std::string response =
      "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\nContent-Length: " +
      std::to_string(body_size) + "\r\n\r\n";
  response.reserve(response.size() + body_size);
  for (int i = 0; i < body_size; ++i) response.push_back(body_byte(i));
  return response;
}

std::string chunked_response() {
  std::string response =
      "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\n"
      "Transfer-Encoding: chunked\r\n\r\n";
  response.reserve(response.size() + body_size + (body_size / block_size) * 8 + 5);
  for (int start = 0; start < body_size; start += block_size) {
    response += "2000\r\n";
    for (int i = start; i < start + block_size; ++i) response.push_back(body_byte(i));
    response += "\r\n";
  }
  response += "0\r\n\r\n";
  return response;
}

// Built once and kept for every run, so that the benchmarks time neither
// building nor the first touch of the pages.
const std::string &response_bytes(bool chunked) {
  if (chunked) {
    static const std::string bytes = chunked_response();
    return bytes;
  }
  static const std::string bytes = response_with_length();
  return bytes;
}

// The download's owner: every body piece is copied out, as into a file buffer.
struct body_receiver {
  char copy[block_size];
  long long received = 0;
  int completed = 0;
};

body_receiver *receiver_of(void *user_data) { return static_cast<body_receiver *>(user_data); }

int on_response_head(vorn_http_data_processor_oline *processor, void *) {
  return processor->status_code == 200;
}

int on_body(vorn_http_data_processor_oline *, void *user_data, const char *data, int length) {
  body_receiver *receiver = receiver_of(user_data);
  std::memcpy(receiver->copy, data, static_cast<size_t>(length));
  char *copy = receiver->copy;
  benchmark::DoNotOptimize(copy);
  benchmark::ClobberMemory();
  receiver->received += length;
  return 1;
}

int on_body_complete(vorn_http_data_processor_oline *, void *user_data) {
  receiver_of(user_data)->completed = 1;
  return 1;
}

void read_body_ours(benchmark::State &state, bool chunked) {
  debug_messages_disable();
  const std::string &response = response_bytes(chunked);
  const size_t size = response.size();
  for (auto _ : state) {
    body_receiver receiver;
    vorn_http_data_processor_oline processor;
    processor.user_data = &receiver;
    processor.message_received = on_response_head;
    processor.content_data_received = on_body;
    processor.message_complete = on_body_complete;
    if (!processor.start_http_GET("updates.virelan.example", "/client/virelan_client.pak")) {
      state.SkipWithError("the request was not queued");
      break;
    }
    char request[1024];
    while (processor.get_tx_data(request, sizeof request) > 0) {
    }
    bool refused = false;
    for (size_t position = 0; position < size; position += block_size) {
      const size_t n = size - position < block_size ? size - position : block_size;
      if (processor.receive_all(response.data() + position, static_cast<int>(n)) != 1) {
        refused = true;
        break;
      }
    }
    if (refused || !receiver.completed || receiver.received != body_size) {
      state.SkipWithError("the response was not read whole");
      break;
    }
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(size));
}

void read_body_peer(benchmark::State &state, bool chunked) {
  const std::string &response = response_bytes(chunked);
  const size_t size = response.size();
  char copy[block_size];
  for (auto _ : state) {
    for (size_t position = 0; position < size; position += block_size) {
      size_t n = size - position < block_size ? size - position : block_size;
      // Hides the bound from the compiler, which would otherwise inline the
      // copy as "rep movsq" instead of calling the library's memcpy, the call
      // the owner's callback makes.
      benchmark::DoNotOptimize(n);
      std::memcpy(copy, response.data() + position, n);
      char *written = copy;
      benchmark::DoNotOptimize(written);
      benchmark::ClobberMemory();
    }
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(size));
}

void body_length_ours(benchmark::State &state) { read_body_ours(state, false); }
void body_length_peer(benchmark::State &state) { read_body_peer(state, false); }
void body_chunked_ours(benchmark::State &state) { read_body_ours(state, true); }
void body_chunked_peer(benchmark::State &state) { read_body_peer(state, true); }

// A browser's request for the update list.
const char request_head[] =
    "GET /updates/list.txt?build=1096&channel=stable HTTP/1.1\r\n"
    "Host: updates.virelan.example\r\n"
    "User-Agent: Mozilla/5.0 (X11; Linux x86_64; rv:115.0) Gecko/20100101 Firefox/115.0\r\n"
    "Accept: text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8\r\n"
    "Accept-Encoding: gzip, deflate\r\n"
    "Connection: keep-alive\r\n"
    "Cookie: session=4f9c2a7d81e04b6c9a3e5f1d2b7c8e90; lang=en; theme=dark\r\n"
    "\r\n";
constexpr int request_head_length = sizeof request_head - 1;
constexpr int request_header_lines = 6;

struct request_counter {
  long long heads = 0;
  long long completes = 0;
};

int on_request(vorn_http_data_processor_oline *, void *user_data) {
  ++static_cast<request_counter *>(user_data)->heads;
  return 1;
}

int on_request_complete(vorn_http_data_processor_oline *, void *user_data) {
  ++static_cast<request_counter *>(user_data)->completes;
  return 1;
}

void request_head_ours(benchmark::State &state) {
  debug_messages_disable();
  request_counter counter;
  vorn_http_data_processor_oline processor;
  processor.user_data = &counter;
  processor.message_received = on_request;
  processor.message_complete = on_request_complete;
  for (auto _ : state) {
    if (processor.receive_all(request_head, request_head_length) != 1) {
      state.SkipWithError("the request was refused");
      break;
    }
  }
  if (counter.heads != state.iterations() || counter.completes != state.iterations())
    state.SkipWithError("not every request was read");
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * request_head_length);
}

// What the peer finds in a head: spans into the caller's bytes, nothing copied.
struct span {
  const char *text;
  int length;
};
struct header_span {
  span name;
  span value;
};
struct request_spans {
  span method;
  span target;
  span version;
  header_span headers[32];
  int header_count;
};

span make_span(const char *begin, const char *end) {
  return span{begin, static_cast<int>(end - begin)};
}

// Splits a complete head; returns the number of header lines, or -1 when the
// bytes are not a head.
int split_request_head(const char *data, int length, request_spans *out) {
  const char *p = data;
  const char *const end = data + length;
  out->header_count = 0;
  bool first = true;
  while (p < end) {
    const char *eol = static_cast<const char *>(std::memchr(p, '\n', end - p));
    if (eol == nullptr) return -1;
    const char *line_end = eol > p && eol[-1] == '\r' ? eol - 1 : eol;
    if (line_end == p) return first ? -1 : out->header_count;
    if (first) {
      const char *blank = static_cast<const char *>(std::memchr(p, ' ', line_end - p));
      if (blank == nullptr) return -1;
      const char *second =
          static_cast<const char *>(std::memchr(blank + 1, ' ', line_end - blank - 1));
      if (second == nullptr) return -1;
      out->method = make_span(p, blank);
      out->target = make_span(blank + 1, second);
      out->version = make_span(second + 1, line_end);
      first = false;
    } else {
      const char *colon = static_cast<const char *>(std::memchr(p, ':', line_end - p));
      if (colon == nullptr || out->header_count == 32) return -1;
      const char *value = colon + 1;
      while (value < line_end && (*value == ' ' || *value == '\t')) ++value;
      out->headers[out->header_count++] = {make_span(p, colon), make_span(value, line_end)};
    }
    p = eol + 1;
  }
  return -1;
}

void request_head_peer(benchmark::State &state) {
  request_spans spans{};
  for (auto _ : state) {
    const char *head = request_head;
    benchmark::DoNotOptimize(head);
    int lines = split_request_head(head, request_head_length, &spans);
    if (lines != request_header_lines) {
      state.SkipWithError("the head was not split");
      break;
    }
    benchmark::DoNotOptimize(spans);
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * request_head_length);
}

}  // namespace

BENCHMARK(body_length_ours)->Name("http_body_length/ours")->Unit(benchmark::kMillisecond);
BENCHMARK(body_length_peer)->Name("http_body_length/peer")->Unit(benchmark::kMillisecond);
BENCHMARK(body_chunked_ours)->Name("http_body_chunked/ours")->Unit(benchmark::kMillisecond);
BENCHMARK(body_chunked_peer)->Name("http_body_chunked/peer")->Unit(benchmark::kMillisecond);
BENCHMARK(request_head_ours)->Name("http_request_head/ours");
BENCHMARK(request_head_peer)->Name("http_request_head/peer");
