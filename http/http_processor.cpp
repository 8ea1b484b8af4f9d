// The processor's object, the request writer, the lines every outgoing message
// shares, and the outgoing body path.
#include "http/http_processor.h"

#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "http/text_fields.h"
#include "support/base64.h"
#include "support/debug_log.h"

namespace {
constexpr int module_http = 3;
constexpr int body_block = 8192;
}  // namespace

vorn_http_data_processor_oline::vorn_http_data_processor_oline()
    : send_expect_100(0),
      force_http_1_0(0),
      allow_chunked_body(0),
      failed(0),
      discard_input(0),
      client_mode(0),
      tx_body_remaining(0),
      close_after_send(0),
      close_after_receive(0),
      close_requested(0),
      tx_chunked(0),
      rx_chunked(0),
      chunk_state(0),
      chunk_remaining(0),
      in_body(0),
      body_received(0),
      sent_method(),
      line_complete(0),
      previous_byte(0),
      version_text(),
      version_code(20),
      expect_continue_received(0),
      transfer_encoding(),
      content_type(),
      content_type_code(0),
      status_code(0),
      reason(),
      method(),
      host(),
      path(),
      query(),
      content_length(-1),
      line_count(0),
      in_header_section(0),
      user_data(nullptr),
      close_connection(nullptr),
      message_received(nullptr),
      message_complete(nullptr),
      content_data_received(nullptr),
      content_body_get_tx_data(nullptr),
      user_name(),
      password(),
      cookie_prefix(),
      received_cookies(nullptr),
      cookies_to_send(nullptr),
      tx_queue(-1) {}

vorn_http_data_processor_oline::~vorn_http_data_processor_oline() {
  for (vorn_http_cookie *list : {received_cookies, cookies_to_send}) {
    while (list != nullptr) {
      vorn_http_cookie *next = list->next;
      delete list;
      list = next;
    }
  }
  tx_queue.release_buffers();
}

int vorn_http_data_processor_oline::set_credentials(const char *user, const char *password_text) {
  int result = 1;
  if (!http_text::copy(user_name, user)) {
    debug_message(user, 2, module_http);
    result = 0;
  }
  if (!http_text::copy(password, password_text)) {
    debug_message(password_text, 2, module_http);
    result = 0;
  }
  return result;
}

int vorn_http_data_processor_oline::refuse_new_message(const char *operation) {
  if (close_after_receive) return 1;
  if (failed) return 1;
  if (tx_body_remaining > 0) {
    debug_message_about("Error in vorn_http_data_processor_oline, attempt to '", operation,
                        "' without completing previous message.", 2, module_http);
    return 1;
  }
  return 0;
}

const char *vorn_http_data_processor_oline::version_name() const {
  return force_http_1_0 ? "HTTP/1.0" : "HTTP/1.1";
}

int vorn_http_data_processor_oline::queue_head(bounded_text &text, const char *operation,
                                               const saved_flags &before) {
  // A head cut at the buffer's end has lost its last lines and the empty line
  // that ends it; sent anyway, the peer would wait for the rest for ever.
  if (text.length >= bounded_text::full) {
    tx_chunked = before.tx_chunked;
    close_after_send = before.close_after_send;
    close_after_receive = before.close_after_receive;
    debug_message_about("Error in vorn_http_data_processor_oline::", operation,
                        "(), message head longer than 5999 characters.", 2, module_http);
    return 0;
  }
  if (tx_queue.put_data(text.text, text.length) != text.length) {
    // Part of a message is queued: nothing sensible can follow it.
    failed = 1;
    return 0;
  }
  return 1;
}

vorn_http_data_processor_oline::saved_flags vorn_http_data_processor_oline::save_flags() const {
  return saved_flags{tx_chunked, close_after_send, close_after_receive};
}

int vorn_http_data_processor_oline::start_request(const char *operation, const char *verb,
                                                  const char *host_text, const char *path_text,
                                                  int escape_path) {
  if (refuse_new_message(operation)) return 0;
  if (path_text == nullptr || path_text[0] == '\0') path_text = "/";
  saved_flags before = save_flags();

  bounded_text text;
  text.append(verb);
  text.append(" ");
  if (escape_path) {
    for (const unsigned char *p = reinterpret_cast<const unsigned char *>(path_text); *p; ++p) {
      if (*p >= 0x21 && *p <= 0x7e) {
        text.append_char(static_cast<char>(*p));
      } else {
        char escaped[4];
        std::snprintf(escaped, sizeof escaped, "%%%02x", *p);
        text.append(escaped);
      }
    }
  } else {
    text.append(path_text);
  }
  text.append(" ");
  text.append(version_name());
  text.append("\r\n");
  text.append("Host: ");
  text.append(host_text);
  text.append("\r\n");
  write_header_lines(text, 1, 0);
  write_cookie_lines(text);
  text.append("\r\n");
  if (!queue_head(text, operation, before)) return 0;
  http_text::copy(sent_method, verb);
  client_mode = 1;
  return 1;
}

int vorn_http_data_processor_oline::start_http_GET(const char *host_text, const char *path_text) {
  return start_request("start_http_GET", "GET", host_text, path_text, 1);
}

void vorn_http_data_processor_oline::write_header_lines(bounded_text &text, int is_request,
                                                        int length) {
  tx_chunked = 0;
  if (length == 0) {
    text.append("Content-Length: 0\r\n");
  } else if (allow_chunked_body && version_code > 10 && !force_http_1_0) {
    tx_chunked = 1;
    text.append("Transfer-Encoding: chunked\r\n");
  } else if (length > 0) {
    char line[48];
    std::snprintf(line, sizeof line, "Content-Length: %d\r\n", length);
    text.append(line);
  }

  int older_peer = version_code <= 10 || force_http_1_0;
  if (is_request) {
    if (user_name[0] != '\0' || password[0] != '\0') {
      bounded_text credentials;
      credentials.append(user_name);
      credentials.append(":");
      credentials.append(password);
      text.append("Authorization: Basic ");
      base64_append_text(text, credentials.c_str());
      text.append("\r\n");
    }
    text.append("Accept-Encoding: identity\r\n");
    if (send_expect_100) text.append("Expect: 100-continue\r\n");
    if (close_requested || older_peer) {
      text.append("Connection: close\r\n");
      close_after_receive = 1;
    }
  } else if (close_requested || older_peer || length < 0) {
    text.append("Connection: close\r\n");
    close_after_send = 1;
  }
}

int vorn_http_data_processor_oline::fill_content_body() {
  if (tx_body_remaining == 0) return 1;
  if (content_body_get_tx_data == nullptr) {
    debug_message(
        "Error in vorn_http_data_processor_oline::fill_content_body(), tx callback function was "
        "NULL.",
        2, module_http);
    return 0;
  }
  char buffer[body_block];
  for (;;) {
    int want =
        tx_body_remaining > 0 && tx_body_remaining < body_block ? tx_body_remaining : body_block;
    int n = content_body_get_tx_data(this, user_data, buffer, want);
    if (n < -1) return 0;
    // More than was asked for would be read past the buffer: the owner's error.
    if (n > want) {
      debug_message(
          "Error in vorn_http_data_processor_oline::fill_content_body(), tx callback returned "
          "more than asked for.",
          2, module_http);
      return 0;
    }
    if (n == 0) return 1;
    if (n == -1) {
      if (tx_chunked) {
        tx_queue.put_text(last_chunk);
        tx_body_remaining = 0;
        return 1;
      }
      return tx_body_remaining <= 0 ? 1 : 0;
    }
    if (tx_chunked) {
      char size_line[16];
      std::snprintf(size_line, sizeof size_line, "%x%s", static_cast<unsigned>(n), "\r\n");
      tx_queue.put_text(size_line);
    }
    tx_queue.put_data(buffer, n);
    if (tx_body_remaining > 0) tx_body_remaining -= n;
    if (tx_chunked) {
      tx_queue.put_text("\r\n");
      if (tx_body_remaining == 0) {
        tx_queue.put_text(last_chunk);
        return 1;
      }
    } else if (tx_body_remaining == 0) {
      return 1;
    }
  }
}

int vorn_http_data_processor_oline::get_tx_data(char *buffer, int length) {
  if (length <= 0 || buffer == nullptr || failed) return -1;
  if (tx_body_remaining != 0 && !fill_content_body()) return -1;
  if (in_body || !tx_queue.is_empty()) return tx_queue.read_block(buffer, length);
  if (close_after_send) {
    if (close_connection != nullptr) close_connection(this, user_data);
    close_after_send = 0;
    close_after_receive = 0;
    close_requested = 0;
    in_header_section = 0;
  }
  if (discard_input) failed = 1;
  return 0;
}
