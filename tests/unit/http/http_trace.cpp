#include "http_trace.h"

#include <cstring>

namespace http_test {
namespace {

recorder *of(void *user_data) { return static_cast<recorder *>(user_data); }

int on_head(vorn_http_data_processor_oline *p, void *user_data) {
  std::string line;
  if (p->client_mode) {
    line = "head " + std::to_string(p->status_code) + " " + std::to_string(p->content_length);
  } else {
    line = std::string("request ") + p->method + " " + p->host + " " + p->path + " " + p->query +
           " " + std::to_string(p->version_code) + " " + std::to_string(p->content_length);
  }
  of(user_data)->events.push_back(line);
  return of(user_data)->accept_head;
}

int on_body(vorn_http_data_processor_oline *, void *user_data, const char *data, int length) {
  auto &events = of(user_data)->events;
  if (length < 1) {
    events.push_back("body of length " + std::to_string(length));
    return 0;
  }
  if (events.empty() || events.back().compare(0, 5, "body ") != 0) events.push_back("body ");
  events.back().append(data, static_cast<size_t>(length));
  return of(user_data)->accept_body;
}

int on_complete(vorn_http_data_processor_oline *, void *user_data) {
  of(user_data)->events.push_back("complete");
  return of(user_data)->accept_complete;
}

void on_close(vorn_http_data_processor_oline *, void *user_data) {
  of(user_data)->events.push_back("close");
}

int on_tx(vorn_http_data_processor_oline *, void *user_data, char *buffer, int maximum) {
  recorder *r = of(user_data);
  if (r->tx_body.empty()) return r->tx_end_result;
  size_t n = r->tx_body.size();
  if (n > static_cast<size_t>(maximum)) n = static_cast<size_t>(maximum);
  if (n > static_cast<size_t>(r->tx_piece)) n = static_cast<size_t>(r->tx_piece);
  std::memcpy(buffer, r->tx_body.data(), n);
  r->tx_body.erase(0, n);
  return static_cast<int>(n);
}

}  // namespace

recorder::recorder(vorn_http_data_processor_oline &processor) {
  processor.user_data = this;
  processor.message_received = on_head;
  processor.content_data_received = on_body;
  processor.message_complete = on_complete;
  processor.close_connection = on_close;
  processor.content_body_get_tx_data = on_tx;
}

std::string recorder::joined() const {
  std::string all;
  for (const auto &e : events) all += e + "\n";
  return all;
}

std::string drain(vorn_http_data_processor_oline &processor, int block) {
  std::string out;
  std::vector<char> buffer(static_cast<size_t>(block));
  for (int n; (n = processor.get_tx_data(buffer.data(), block)) > 0;)
    out.append(buffer.data(), static_cast<size_t>(n));
  return out;
}

int feed(vorn_http_data_processor_oline &processor, const std::string &input,
         const std::vector<size_t> &cuts) {
  int first = 1;
  size_t start = 0;
  std::vector<size_t> ends(cuts);
  ends.push_back(input.size());
  for (size_t end : ends) {
    if (end <= start) continue;
    int r = processor.receive_all(input.data() + start, static_cast<int>(end - start));
    if (r != 1 && first == 1) first = r;
    if (r < 0) break;
    start = end;
  }
  return first;
}

std::vector<std::vector<size_t>> every_split(size_t length) {
  std::vector<std::vector<size_t>> splits;
  splits.push_back({});
  for (size_t i = 1; i < length; ++i) splits.push_back({i});
  std::vector<size_t> bytes;
  for (size_t i = 1; i < length; ++i) bytes.push_back(i);
  splits.push_back(bytes);
  return splits;
}

}  // namespace http_test
