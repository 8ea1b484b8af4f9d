// The reading side of the processor: line assembly, first lines, header lines,
// body framing and the two completion callbacks.
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "http/http_processor.h"
#include "http/text_fields.h"
#include "support/debug_log.h"
#include "support/words.h"

namespace {

constexpr int module_http = 3;
const char header_warning[] = "Warning in vorn_http_data_processor_oline::header_line_parse(), ";

void header_warn(const char *what, const char *line, const char *after, int category) {
  bounded_text message;
  message.append(header_warning);
  message.append(what);
  message.append(line);
  if (after != nullptr) message.append(after);
  debug_message(message.c_str(), category, module_http);
}

int is_digit(char c) { return c >= '0' && c <= '9'; }

// A Content-Length value: optional "+" or "-", then decimal digits up to the
// first other character. 1 with the value when it is a number in the range of
// int that is not negative.
int read_content_length(const char *value, int *out) {
  if (value == nullptr) return 0;
  const char *p = value;
  int negative = 0;
  if (*p == '+' || *p == '-') {
    negative = *p == '-';
    ++p;
  }
  if (!is_digit(*p)) return 0;
  long long number = 0;
  for (; is_digit(*p); ++p) {
    number = number * 10 + (*p - '0');
    if (number > INT_MAX) return 0;
  }
  if (negative && number != 0) return 0;
  *out = static_cast<int>(number);
  return 1;
}

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Replaces every "," and ";" of a text by a blank.
void blank_separators(char *text) {
  for (; *text != '\0'; ++text)
    if (*text == ',' || *text == ';') *text = ' ';
}

// The words of a text one by one (blank, tab and line feed separate them).
const char *first_word(const char *text) {
  while (*text == ' ' || *text == '\t' || *text == '\n') ++text;
  return *text != '\0' ? text : nullptr;
}

}  // namespace

int content_type_code_of(const char *value) {
  static const struct {
    int code;
    const char *name;
  } names[] = {{1, "text/plain"},
               {2, "text/html"},
               {10, "application/x-www-form-urlencoded"},
               {11, "application/xml"},
               {12, "application/rss+xml"},
               {13, "application/json"},
               {14, "application/octet-stream"}};
  if (value == nullptr) return http_content_other;
  size_t n = std::strcspn(value, " ;\t");
  for (const auto &entry : names) {
    if (std::strlen(entry.name) != n) continue;
    size_t i = 0;
    while (i < n && http_text::lower(value[i]) == entry.name[i]) ++i;
    if (i == n) return entry.code;
  }
  return http_content_other;
}

int vorn_http_data_processor_oline::receive_all(const char *data, int length) {
  if (data == nullptr || length < 1) return -1;
  int position = 0;
  // receive() may consume nothing while it finishes a line or a message; it
  // always makes progress within a few calls. Should it ever not, stop rather
  // than spin.
  int idle_calls = 0;
  while (position < length) {
    int r = receive(data + position, length - position);
    if (r < 0) return -1;
    if (r == 0) {
      if (discard_input) return 0;
      if (++idle_calls > 8) {
        debug_message("Error in vorn_http_data_processor_oline::receive_all(), no progress.", 2,
                      module_http);
        failed = 1;
        return -1;
      }
      continue;
    }
    idle_calls = 0;
    position += r;
  }
  return 1;
}

int vorn_http_data_processor_oline::assemble_line(const char *data, int length) {
  int i = 0;
  while (i < length) {
    int c = static_cast<unsigned char>(data[i]);
    if ((c == '\n' && previous_byte == '\r') || (c == '\r' && previous_byte == '\n')) {
      ++i;
      previous_byte = 0;
      line_complete = 1;
      return i;
    }
    if (previous_byte == '\r' || previous_byte == '\n') {
      previous_byte = 0;
      line_complete = 1;
      return i;
    }
    ++i;
    if (c != '\r' && c != '\n') line.append_char(static_cast<char>(c));
    previous_byte = c;
  }
  return i;
}

void vorn_http_data_processor_oline::finish_message() {
  line.clear();
  line_complete = 0;
  line_count = 0;
  in_header_section = 0;
  if (close_after_receive && (status_code < 100 || status_code > 199)) {
    if (close_connection != nullptr) close_connection(this, user_data);
    close_after_send = 0;
    close_after_receive = 0;
    close_requested = 0;
  }
}

int vorn_http_data_processor_oline::complete_message(int consumed) {
  if (message_complete == nullptr || !message_complete(this, user_data)) {
    failed = 1;
    return -1;
  }
  if (failed) return 0;
  finish_message();
  return consumed;
}

int vorn_http_data_processor_oline::deliver_body(const char *data, int length, int *result) {
  if (content_data_received == nullptr || !content_data_received(this, user_data, data, length)) {
    failed = 1;
    *result = -1;
    return 0;
  }
  if (failed) {
    *result = 0;
    return 0;
  }
  return 1;
}

int vorn_http_data_processor_oline::receive(const char *data, int length) {
  if (data == nullptr || length <= 0 || failed) return -1;
  if (discard_input) return length;
  if (!in_body) return receive_header_mode(data, length);
  if (rx_chunked) return receive_chunked(data, length);

  int m = length;
  if (content_length >= 0 && content_length - body_received < m) m = content_length - body_received;
  if (m > 0) {
    int result;
    if (!deliver_body(data, m, &result)) return result;
    // A body that runs until the close may outgrow an int: the count stops at
    // its largest value.
    body_received = body_received > INT_MAX - m ? INT_MAX : body_received + m;
  }
  if (content_length < 0 || body_received < content_length) return m;
  in_header_section = 0;
  in_body = 0;
  return complete_message(m);
}

int vorn_http_data_processor_oline::receive_header_mode(const char *data, int length) {
  int n = assemble_line(data, length);
  if (!line_complete) return n;
  line_complete = 0;

  if (line.length > 0) {
    if (line_count < INT_MAX) ++line_count;
    int verdict = header_line_parse(line.c_str());
    if (client_mode) {
      if (verdict == 1) {
        failed = 1;
        return -1;
      }
      line.clear();
      return n;
    }
    if (verdict != 0) {
      if (!send_response_400("Bad Request")) {
        failed = 1;
        return -1;
      }
      close_after_send = 1;
      discard_input = 1;
      return 0;
    }
    line.clear();
    return n;
  }

  if (line_count == 0) return n;  // empty lines before a first line
  if (line_count < INT_MAX) ++line_count;
  if (client_mode ? status_code <= 0 : status_code > 0) {
    failed = 1;
    return -1;
  }
  int body = message_has_body();
  // A request has no "until the close" body: one announced by a transfer
  // coding other than chunked, without a length, would swallow every later
  // request on the connection as its body.
  if (body && !client_mode && !rx_chunked && content_length < 0) {
    header_warn("got request body without length: ", transfer_encoding, nullptr, 64);
    if (!send_response_400("Bad Request")) {
      failed = 1;
      return -1;
    }
    close_after_send = 1;
    discard_input = 1;
    return 0;
  }
  if (body) {
    in_body = 1;
    body_received = 0;
    line.clear();
    previous_byte = 0;
  }
  if (!headers_complete()) {
    failed = 1;
    return -1;
  }
  if (failed) return 0;
  if (body) {
    in_header_section = 0;
    line.clear();
    return n;
  }
  return complete_message(n);
}

int vorn_http_data_processor_oline::parse_chunk_size_line(const char *text, int *size) {
  const char *p = text;
  while (*p == ' ' || *p == '\t') ++p;
  if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X') && hex_value(p[2]) >= 0) p += 2;
  if (hex_value(*p) < 0) return 0;
  long long value = 0;
  for (int digits = 0; digits < 20 && hex_value(*p) >= 0; ++digits, ++p) {
    value = value * 16 + hex_value(*p);
    // Larger than any chunk this reader can count: malformed, never wrapped.
    if (value > INT_MAX) return 0;
  }
  *size = static_cast<int>(value);
  return 1;
}

int vorn_http_data_processor_oline::receive_chunked(const char *data, int length) {
  switch (chunk_state) {
    case 1: {
      int n = assemble_line(data, length);
      if (!line_complete) return n;
      line_complete = 0;
      int size = 0;
      if (line.length == 0 || !parse_chunk_size_line(line.c_str(), &size)) return -1;
      line.clear();
      if (size > 0) {
        chunk_remaining = size;
        chunk_state = 2;
        return n;
      }
      in_header_section = 0;
      in_body = 0;
      return complete_message(n);
    }
    case 2: {
      int m = length < chunk_remaining ? length : chunk_remaining;
      int result;
      if (!deliver_body(data, m, &result)) return result;
      chunk_remaining -= m;
      if (chunk_remaining == 0) {
        chunk_state = 3;
        line.clear();
      }
      return m;
    }
    case 3: {
      int n = assemble_line(data, length);
      if (!line_complete) return n;
      line_complete = 0;
      if (line.length > 0) return -1;
      chunk_state = 1;
      line.clear();
      return n;
    }
    default:
      return -1;
  }
}

void vorn_http_data_processor_oline::reset_received_fields() {
  rx_chunked = 0;
  chunk_state = 0;
  chunk_remaining = 0;
  expect_continue_received = 0;
  content_type_code = 0;
  status_code = 0;
  content_length = -1;
  version_code = 20;
  http_text::copy(version_text, nullptr);
  http_text::copy(transfer_encoding, nullptr);
  http_text::copy(content_type, nullptr);
  http_text::copy(reason, nullptr);
  http_text::copy(method, nullptr);
  http_text::copy(host, nullptr);
  http_text::copy(path, nullptr);
  http_text::copy(query, nullptr);
  first_line.clear();
}

int vorn_http_data_processor_oline::header_line_parse(const char *text) {
  if (text == nullptr) return 1;
  if (!in_header_section) {
    reset_received_fields();
    // Cookies belong to the message that carried them: a later request on the
    // same connection must not appear to send them again.
    while (received_cookies != nullptr) {
      vorn_http_cookie *next = received_cookies->next;
      delete received_cookies;
      received_cookies = next;
    }
    line_count = 1;
    in_header_section = 1;
    if (http_text::starts_with_nocase(text, "HTTP/")) {
      if (parse_status_line(text)) return 0;
      bounded_text message;
      message.append(header_warning);
      message.append("failed to parse response line '");
      message.append(text);
      message.append("'.");
      debug_message(message.c_str(), 64, module_http);
      return 1;
    }
    return parse_request_line(text) ? 0 : 1;
  }

  // A header name is matched as the line's first word, colon included; a line
  // that begins with a blank or a tab (an obsolete continuation) matches none.
  if (text[0] == ' ' || text[0] == '\t') return 0;
  const char *value = next_arg(text);

  if (word_equal(text, "Content-Length:")) {
    int length = 0;
    if (!read_content_length(value, &length)) {
      header_warn("got bad content length, line: ", text, nullptr, 64);
      return 1;
    }
    content_length = length;
    return 0;
  }
  if (word_equal(text, "Content-Type:")) {
    if (value == nullptr) {
      header_warn("got bad content type line: ", text, nullptr, 64);
      return 2;
    }
    http_text::copy(content_type, value);
    content_type_code = content_type_code_of(content_type);
    return 0;
  }
  if (word_equal(text, "Connection:")) {
    if (value == nullptr) {
      header_warn("got bad Connection: line: ", text, nullptr, 64);
      return 2;
    }
    bounded_text words;
    words.append(value);
    blank_separators(words.text);
    for (const char *w = first_word(words.c_str()); w != nullptr; w = next_arg(w)) {
      if (word_equal(w, "close")) {
        if (status_code > 0) {
          close_after_receive = 1;
        } else {
          close_after_send = 1;
          close_requested = 1;
        }
      } else if (!word_equal(w, "te") && !word_equal(w, "keep-alive")) {
        header_warn("got questionable Connection: line: ", text, nullptr, 128);
      }
    }
    return 0;
  }
  if (word_equal(text, "Expect:")) {
    if (value != nullptr) {
      bounded_text words;
      words.append(value);
      for (const char *w = first_word(words.c_str()); w != nullptr; w = next_arg(w)) {
        char word[64];
        http_text::copy_word(word, w);
        word[std::strcspn(word, ";")] = '\0';
        if (word_equal(word, "100-continue")) {
          expect_continue_received = 1;
          return 0;
        }
      }
    }
    header_warn("got bad Expect: line: ", text, nullptr, 64);
    return 2;
  }
  if (word_equal(text, "Transfer-Encoding:")) {
    if (value == nullptr) {
      header_warn("got bad transfer encoding line: ", text, nullptr, 64);
      return 2;
    }
    http_text::copy(transfer_encoding, value);
    blank_separators(transfer_encoding);
    const char *first = first_word(transfer_encoding);
    if (first != nullptr && word_equal(first, "chunked")) {
      rx_chunked = 1;
      chunk_state = 1;
    }
    return 0;
  }
  if (word_equal(text, "Host:")) {
    if (value == nullptr) {
      header_warn("got empty host line '", text, "'.", 128);
      return 2;
    }
    char candidate[sizeof host];
    http_text::copy(candidate, value);
    if (host[0] != '\0' && std::strcmp(host, candidate) != 0) return 2;
    std::memcpy(host, candidate, sizeof host);
    return 0;
  }
  if (word_equal(text, "Cookie:")) {
    parse_cookie_header(value);
    return 0;
  }
  return 0;
}

int vorn_http_data_processor_oline::try_extract_http_version_number(const char *word) {
  if (word == nullptr || !http_text::starts_with_nocase(word, "HTTP/")) {
    debug_message_about(
        "Warning in vorn_http_data_processor_oline::try_extract_http_version_number(), got bad "
        "http version '",
        word, "'.", 64, module_http);
    return 20;
  }
  const char *rest = word + 5;
  if (word_equal(rest, "1.0")) return 10;
  if (word_equal(rest, "1.1")) return 11;
  double v = std::strtod(rest, nullptr);
  // Only a number strictly between 0 and 1 is an HTTP/0.x version; NaN is none.
  if (v > 0 && v + 0.000001 < 1) return 0;
  return 20;
}

int vorn_http_data_processor_oline::parse_status_line(const char *text) {
  first_line.assign(text);
  http_text::copy_word(version_text, text);
  version_code = try_extract_http_version_number(version_text);
  const char *status = next_arg(text);
  if (status == nullptr) return 0;
  errno = 0;
  long value = std::strtol(status, nullptr, 10);
  if (value <= 0 || value > INT_MAX || errno == ERANGE) return 0;
  status_code = static_cast<int>(value);
  const char *phrase = next_arg(status);
  if (phrase == nullptr) return 0;
  http_text::copy(reason, phrase);
  return 1;
}

int vorn_http_data_processor_oline::parse_request_line(const char *text) {
  first_line.assign(text);
  http_text::copy_word(method, text);
  const char *target = next_arg(text);
  if (target == nullptr) return 0;
  const char *version = next_arg(target);
  if (version == nullptr) return 0;
  while (*target == '/') ++target;

  bounded_text word;
  for (const char *p = target; *p != '\0' && *p != ' ' && *p != '\t' && *p != '\n'; ++p)
    word.append_char(*p);
  char *w = word.text;
  // A target longer than its field would be served as a different, shorter
  // name: such a request line is refused instead of cut.
  if (char *question = std::strchr(w, '?')) {
    *question = '\0';
    if (question[1] != '\0' && !http_text::copy(query, question + 1)) return 0;
  }
  char *scheme_end = std::strstr(w, "://");
  if (scheme_end != nullptr && scheme_end[3] != '\0') {
    char *authority = scheme_end + 3;
    char *slash = std::strchr(authority, '/');
    if (slash != nullptr) {
      *slash = '\0';
      if (slash[1] != '\0' && !http_text::copy(path, slash + 1)) return 0;
    }
    if (!http_text::copy(host, authority)) return 0;
  } else if (!http_text::copy(path, w)) {
    return 0;
  }
  http_text::copy_word(version_text, version);
  version_code = try_extract_http_version_number(version_text);
  return 1;
}

int vorn_http_data_processor_oline::message_has_body() {
  if (status_code > 0) {
    if (status_code >= 100 && status_code <= 199) return 0;
    if (status_code == 204 || status_code == 304) return 0;
    if (word_equal(sent_method, "HEAD")) return 0;
  }
  if (version_code > 10 && transfer_encoding[0] != '\0' &&
      !word_in_list("identity", transfer_encoding))
    return 1;
  if (content_length > 0) return 1;
  if (content_length == 0) return 0;
  return status_code > 0 ? 1 : 0;
}

int vorn_http_data_processor_oline::headers_complete() {
  if (!client_mode && version_code > 10 && status_code <= 0 && !force_http_1_0 &&
      (expect_continue_received || word_equal(method, "PUT") || word_equal(method, "POST"))) {
    if (!send_response_100()) return 0;
  }
  if (message_received == nullptr) return 0;
  return message_received(this, user_data);
}
