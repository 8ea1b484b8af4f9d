// The server side of the processor (responses), the HEAD and POST requests, the
// cookie lists, and the small operations an owner calls around a connection.
#include <cstdio>
#include <cstring>
#include <new>

#include "http/http_processor.h"
#include "http/text_fields.h"
#include "support/debug_log.h"
#include "support/words.h"

namespace {

constexpr int module_http = 3;
// Cookies a peer may leave on one processor; more are dropped, so that a peer
// cannot make a connection grow without bound.
constexpr int received_cookie_limit = 64;

template <std::size_t N>
int set_field(char (&field)[N], const char *text, const char *setter) {
  if (text == nullptr) {
    std::memset(field, 0, N);
    return 1;
  }
  if (std::strlen(text) >= N) {
    bounded_text message;
    message.append("Error in vorn_http_cookie::");
    message.append(setter);
    message.append("() - incoming string '");
    message.append(text);
    message.append("' too long.");
    debug_message(message.c_str(), 2, module_http);
    return 0;
  }
  http_text::copy(field, text);
  return 1;
}

}  // namespace

const char *content_type_name_of(int code) {
  switch (code) {
    case 1:
      return "text/plain";
    case 2:
      return "text/html";
    case 10:
      return "application/x-www-form-urlencoded";
    case 11:
      return "application/xml";
    case 12:
      return "application/rss+xml";
    case 13:
      return "application/json";
    case 14:
      return "application/octet-stream";
    default:
      return "binary/unknown";
  }
}

int vorn_http_cookie::set_key(const char *text) { return set_field(key, text, "set_key"); }
int vorn_http_cookie::set_domain(const char *text) { return set_field(domain, text, "set_domain"); }
int vorn_http_cookie::set_value(const char *text) { return set_field(value, text, "set_value"); }
int vorn_http_cookie::set_cookie_prefix(vorn_http_data_processor_oline *processor,
                                        const char *text) {
  return set_field(processor->cookie_prefix, text, "set_cookie_prefix");
}

int vorn_http_data_processor_oline::send_response(int status, int type_code, int length,
                                                  const char *reason_text) {
  if (refuse_new_message("send_response")) return 0;
  saved_flags before = save_flags();
  bounded_text text;
  char status_part[24];
  std::snprintf(status_part, sizeof status_part, " %d ", status);
  text.append(version_name());
  text.append(status_part);
  text.append(reason_text);
  text.append("\r\n");
  text.append("Content-Type: ");
  text.append(content_type_name_of(type_code));
  text.append("; charset=utf-8\r\n");
  write_header_lines(text, 0, length);
  write_cookie_lines(text);
  text.append("\r\n");
  if (!queue_head(text, "send_response", before)) return 0;
  tx_body_remaining = word_equal(method, "HEAD") ? 0 : length;
  return fill_content_body();
}

int vorn_http_data_processor_oline::send_fixed_response(const char *operation,
                                                        const char *status_part,
                                                        const char *location, int with_location) {
  if (refuse_new_message(operation)) return 0;
  saved_flags before = save_flags();
  bounded_text text;
  text.append(version_name());
  text.append(status_part);
  text.append("\r\n");
  if (with_location) {
    text.append("Location: ");
    text.append(location);
    text.append("\r\n");
  }
  write_header_lines(text, 0, 0);
  text.append("\r\n");
  return queue_head(text, operation, before);
}

int vorn_http_data_processor_oline::send_response_100() {
  // An interim answer is only a status line: a length or "Connection: close"
  // in it would end the exchange before the request's body and the real
  // response.
  if (refuse_new_message("send_response_100")) return 0;
  saved_flags before = save_flags();
  bounded_text text;
  text.append(version_name());
  text.append(" 100 continue\r\n\r\n");
  return queue_head(text, "send_response_100", before);
}

int vorn_http_data_processor_oline::send_response_301(const char *location) {
  return send_fixed_response("send_response_301", " 301 Moved Permanently", location, 1);
}

int vorn_http_data_processor_oline::send_response_400(const char *reason_text) {
  if (refuse_new_message("send_response_400")) return 0;
  bounded_text status_part;
  status_part.append(" 400 ");
  status_part.append(reason_text != nullptr && reason_text[0] != '\0' ? reason_text
                                                                      : "Bad request");
  int saved_close_requested = close_requested;
  close_requested = 1;
  int queued = send_fixed_response("send_response_400", status_part.c_str(), nullptr, 0);
  if (!queued) close_requested = saved_close_requested;
  return queued;
}

int vorn_http_data_processor_oline::send_response_413(const char *reason_text) {
  bounded_text status_part;
  status_part.append(" 413 ");
  status_part.append(reason_text != nullptr && reason_text[0] != '\0' ? reason_text
                                                                      : "Content Body Too Large");
  return send_fixed_response("send_response_413", status_part.c_str(), nullptr, 0);
}

int vorn_http_data_processor_oline::send_response_415(const char *reason_text) {
  bounded_text status_part;
  status_part.append(" 415 ");
  status_part.append(reason_text != nullptr && reason_text[0] != '\0'
                         ? reason_text
                         : "Content Body in Unsupported Format");
  return send_fixed_response("send_response_415", status_part.c_str(), nullptr, 0);
}

int vorn_http_data_processor_oline::send_response_501() {
  return send_fixed_response("send_response_501", " 501 Unimplemented", nullptr, 0);
}

int vorn_http_data_processor_oline::start_http_HEAD(const char *host_text, const char *path_text) {
  return start_request("start_http_HEAD", "HEAD", host_text, path_text, 0);
}

int vorn_http_data_processor_oline::start_http_POST(const char *host_text, const char *path_text,
                                                    int type_code, int length) {
  if (refuse_new_message("start_http_POST")) return 0;
  if (path_text == nullptr || path_text[0] == '\0') path_text = "/";
  saved_flags before = save_flags();
  bounded_text text;
  text.append("POST ");
  text.append(path_text);
  text.append(" ");
  text.append(version_name());
  text.append("\r\nHost: ");
  text.append(host_text);
  text.append("\r\nContent-Type: ");
  text.append(content_type_name_of(type_code));
  text.append("; charset=utf-8\r\n");
  write_header_lines(text, 1, length);
  write_cookie_lines(text);
  text.append("\r\n");
  if (!queue_head(text, "start_http_POST", before)) return 0;
  http_text::copy(sent_method, "POST");
  client_mode = 1;
  tx_body_remaining = length;
  return fill_content_body();
}

void vorn_http_data_processor_oline::store_cookie(vorn_http_cookie **list, const char *key,
                                                  const char *value, const char *domain,
                                                  int max_age, int secure) {
  vorn_http_cookie *cookie = *list;
  while (cookie != nullptr && !word_equal_nonnull(cookie->key, key)) cookie = cookie->next;
  if (cookie == nullptr) {
    cookie = new (std::nothrow) vorn_http_cookie;
    if (cookie == nullptr) return;
    cookie->next = *list;
    *list = cookie;
    cookie->set_key(key);
  }
  cookie->set_value(value);
  cookie->set_domain(domain);
  cookie->secure = secure;
  cookie->max_age = max_age;
}

void vorn_http_data_processor_oline::set_cookie(const char *key, const char *value,
                                                const char *domain, int max_age, int secure) {
  store_cookie(&cookies_to_send, key, value, domain, max_age, secure);
}

void vorn_http_data_processor_oline::expire_cookie(const char *key, const char *domain) {
  store_cookie(&cookies_to_send, key, "", domain, 0, 0);
}

void vorn_http_data_processor_oline::add_received_cookie(const char *key, const char *value) {
  store_cookie(&received_cookies, key, value, nullptr, 0, 0);
}

namespace {
const char *find_in(vorn_http_cookie *list, const char *key) {
  for (; list != nullptr; list = list->next)
    if (word_equal_nonnull(list->key, key)) return list->value;
  return nullptr;
}
}  // namespace

const char *vorn_http_data_processor_oline::find_received_cookie(const char *key) {
  return find_in(received_cookies, key);
}

const char *vorn_http_data_processor_oline::find_cookie_to_send(const char *key) {
  return find_in(cookies_to_send, key);
}

void vorn_http_data_processor_oline::remove_received_cookie(const char *key) {
  for (vorn_http_cookie **link = &received_cookies; *link != nullptr; link = &(*link)->next) {
    if (word_equal_nonnull((*link)->key, key)) {
      vorn_http_cookie *gone = *link;
      *link = gone->next;
      delete gone;
      return;
    }
  }
}

int vorn_http_data_processor_oline::parse_cookie_header(const char *value) {
  if (value == nullptr || value[0] == '\0') return 0;
  size_t prefix_length = std::strlen(cookie_prefix);
  int count = 0;
  const char *p = value;
  while (*p != '\0') {
    bounded_text name;
    bounded_text cookie_value;
    bool in_value = false;
    for (; *p != '\0' && *p != ' ' && *p != ';'; ++p) {
      if (!in_value && *p == '=')
        in_value = true;
      else
        (in_value ? cookie_value : name).append_char(*p);
    }
    while (*p == ' ' || *p == ';') ++p;
    if (prefix_length > 0 && !http_text::starts_with_nocase(name.c_str(), cookie_prefix)) continue;
    const char *key = name.c_str() + prefix_length;
    if (find_received_cookie(key) == nullptr) {
      int stored = 0;
      for (vorn_http_cookie *c = received_cookies; c != nullptr; c = c->next) ++stored;
      if (stored >= received_cookie_limit) {
        debug_message(
            "Warning in vorn_http_data_processor_oline::parse_cookie_header(), too many cookies, "
            "the rest are dropped.",
            64, module_http);
        return count;
      }
    }
    add_received_cookie(key, cookie_value.c_str());
    ++count;
  }
  return count;
}

void vorn_http_data_processor_oline::write_cookie_lines(bounded_text &text) {
  for (vorn_http_cookie *c = cookies_to_send; c != nullptr; c = c->next) {
    bounded_text cookie_line;
    char age[32];
    std::snprintf(age, sizeof age, " Max-Age=%d;", c->max_age);
    cookie_line.append("Set-Cookie: ");
    cookie_line.append(cookie_prefix);
    cookie_line.append(c->key);
    cookie_line.append("=");
    cookie_line.append(c->value);
    cookie_line.append("; Domain=");
    cookie_line.append(c->domain);
    cookie_line.append("; Path=/;");
    cookie_line.append(age);
    cookie_line.append(" HttpOnly");
    if (c->secure) cookie_line.append("; Secure");
    cookie_line.append("\r\n");
    text.append(cookie_line.c_str());
  }
}

void vorn_http_data_processor_oline::connection_closed() {
  if (failed) return;
  if (tx_body_remaining == 0 && tx_chunked) tx_queue.put_text("0\r\n");
  // Only a body that runs until the close is complete now; a counted or
  // chunked body cut short by the close is not.
  if (in_body && body_received >= 1 && content_length < 0 && !rx_chunked) {
    in_body = 0;
    if (message_complete != nullptr) message_complete(this, user_data);
    in_header_section = 0;
  }
}

void vorn_http_data_processor_oline::close_connection_now() {
  if (close_connection != nullptr) close_connection(this, user_data);
  close_after_send = 0;
  close_after_receive = 0;
  close_requested = 0;
  in_header_section = 0;
}

void vorn_http_data_processor_oline::reset_message_fields() {
  reset_received_fields();
  line_count = 0;
  in_header_section = 0;
}
