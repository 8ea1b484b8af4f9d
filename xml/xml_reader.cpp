#include "xml/xml_reader.h"

#include <cstring>
#include <new>

#include "support/bounded_text.h"
#include "support/debug_log.h"
#include "support/words.h"

namespace {

constexpr int module_xml = 6;
constexpr int input_warning = 64;
constexpr int header_warning = 128;

void warn(const char *text) { debug_message(text, input_warning, module_xml); }
void error(const char *text) { debug_message(text, 4, module_xml); }

void header_warn(const char *what) {
  debug_message_about("Warning in vorn_xml_reader::check_xml_header_string(), ", what, nullptr,
                      header_warning, module_xml);
}

bool printable(int c) { return c >= 32 && c <= 126; }

int hex_value(int c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

const char *skip_spaces(const char *p) {
  while (*p == ' ') ++p;
  return p;
}

// One `name="value"` of the declaration; null after reporting what is missing.
const char *read_attribute(const char *p, std::size_t name_length, const char *no_value,
                           const char *no_opening, const char *no_closing) {
  p = skip_spaces(p + name_length);
  if (*p != '=') return header_warn(no_value), nullptr;
  p = skip_spaces(p + 1);
  if (*p != '"') return header_warn(no_opening), nullptr;
  const char *closing = std::strchr(p + 1, '"');
  if (closing == nullptr) return header_warn(no_closing), nullptr;
  return skip_spaces(closing + 1);
}

}  // namespace

vorn_xml_reader::~vorn_xml_reader() {
  while (tag_stack_ != nullptr) {
    tag_node *below = tag_stack_->below;
    delete tag_stack_;
    tag_stack_ = below;
  }
}

int vorn_xml_reader::next_byte() {
  if (pushed_back_ >= 0) {
    const int c = pushed_back_;
    pushed_back_ = -1;
    return c;
  }
  return read_byte();
}

void vorn_xml_reader::give_back_closing_bracket() {
  // The "<" that ended an unreadable value belongs to the closing tag: leave it
  // for read_tag(), which then closes the element.
  if (block_end_ == '<') pushed_back_ = '<';
}

int vorn_xml_reader::open_tags() const {
  int n = 0;
  for (const tag_node *node = tag_stack_; node != nullptr; node = node->below) ++n;
  return n;
}

void vorn_xml_reader::push_tag(const char *text) {
  tag_node *node = new (std::nothrow) tag_node;
  if (node == nullptr) {
    error("Error in vorn_xml_reader::read_tag(), out of memory for the tag stack.");
    return;
  }
  const std::size_t length = strnlen(text, tag_capacity - 1);
  std::memcpy(node->text, text, length);
  node->text[length] = '\0';
  node->below = tag_stack_;
  tag_stack_ = node;
}

void vorn_xml_reader::compact_string(char *text) {
  if (text == nullptr) return;
  char *out = text;
  for (const char *in = text; *in != '\0';) {
    if (*in != '&') {
      *out++ = *in++;
    } else if (std::strncmp(in, "&lt;", 4) == 0) {
      *out++ = '<';
      in += 4;
    } else if (std::strncmp(in, "&gt;", 4) == 0) {
      *out++ = '>';
      in += 4;
    } else if (std::strncmp(in, "&amp;", 5) == 0) {
      *out++ = '&';
      in += 5;
    } else {
      warn("Warning in vorn_xml_reader::compact_string(), unknown '&' conversion found?");
      *out++ = *in++;
    }
  }
  *out = '\0';
}

int vorn_xml_reader::read_block(char *destination, int size, int expect_close) {
  if (destination == nullptr) {
    error("Error in vorn_xml_reader::read_block(), NULL dest?");
    return 0;
  }
  if (size <= 0) {
    error("Error in vorn_xml_reader::read_block(), dest is too small?");
    return 0;
  }
  int stored = 0;
  int unprintable = 0;
  int c;
  while ((c = next_byte()) != '<' && c != '>') {
    if (c < 0) {
      block_end_ = -1;
      warn(
          "Warning in vorn_xml_reader::read_block(), file corruption - got EOF before trailing "
          "bracket.");
      destination[stored] = '\0';
      return 0;
    }
    if (stored < size - 1) {
      destination[stored++] = static_cast<char>(c);
      if (!printable(c)) ++unprintable;
    }
  }
  block_end_ = c;
  if (c == '<' && expect_close)
    warn("Warning in vorn_xml_reader::read_block(), got second open bracket?");
  if (c == '>' && !expect_close) {
    warn("Warning in vorn_xml_reader::read_block(), got second closing bracket?");
  }
  destination[stored] = '\0';
  if (unprintable != 0) return 0;
  compact_string(destination);
  return 1;
}

int vorn_xml_reader::skip_chunk() {
  int c;
  while ((c = next_byte()) != '<') {
    if (c < 0) return 0;
    if (c == '>') warn("Warning in vorn_xml_reader::skip_chunk(), got closing bracket?");
  }
  return 1;
}

void vorn_xml_reader::pop_stack_entry(const char *text) {
  const char *name = text;
  if (text[0] == '/') {
    name = text + 1;
  } else {
    debug_message_about("Warning in vorn_xml_reader::pop_stack_entry() - got bad closing tag '",
                        text, "'?", input_warning, module_xml);
  }
  if (tag_stack_ == nullptr) {
    // A stray closing tag: nothing to close, nothing to undo.
    debug_message_about("Warning in vorn_xml_reader::pop_stack_entry() - closing tag '", name,
                        "' found with no tag open.", input_warning, module_xml);
    return;
  }
  tag_node *top = tag_stack_;
  tag_stack_ = top->below;
  if (std::strcmp(name, top->text) != 0) {
    bounded_text report;
    report.append("Warning in vorn_xml_reader::pop_stack_entry() - popped tag '");
    report.append(name);
    report.append("' did not match expected tag '");
    report.append(top->text);
    report.append("'.");
    warn(report.c_str());
  }
  delete top;
}

int vorn_xml_reader::read_tag(char *destination, int size) {
  if (destination == nullptr) {
    error("Error in vorn_xml_reader::read_tag(), NULL dest?");
    return 0;
  }
  if (size <= 0) {
    error("Error in vorn_xml_reader::read_tag(), dest is too small?");
    return 0;
  }
  int c;
  while ((c = next_byte()) != '<') {
    if (c < 0) return 0;
  }
  if (!read_block(destination, size, 1)) return 0;
  if (destination[0] == '/') {
    pop_stack_entry(destination);
    return 0;
  }
  push_tag(destination);
  return 1;
}

int vorn_xml_reader::read_data(char *destination, int size) {
  if (destination == nullptr) {
    error("Error in vorn_xml_reader::read_data(char[]), NULL dest?");
    return 0;
  }
  if (size <= 0) {
    error("Error in vorn_xml_reader::read_data(char[]), dest is too small?");
    return 0;
  }
  if (!read_block(destination, size, 0)) {
    give_back_closing_bracket();
    return 0;
  }
  char closing[tag_capacity];
  read_block(closing, sizeof closing, 1);
  pop_stack_entry(closing);
  return 1;
}

int vorn_xml_reader::read_data(int *destination) {
  if (destination == nullptr) {
    error("Error in vorn_xml_reader::read_data(int), NULL dest?");
    return 0;
  }
  char value[100];
  if (!read_block(value, sizeof value, 0)) {
    give_back_closing_bracket();
    return 0;
  }
  int result = parse_integer(value, destination);
  if (!result) {
    debug_message_about("Warning in vorn_xml_reader::read_data(int) - got non-number'", value, "'.",
                        input_warning, module_xml);
  }
  char closing[100];
  read_block(closing, sizeof closing, 1);
  pop_stack_entry(closing);
  return result;
}

void vorn_xml_reader::skip_data() {
  if (tag_stack_ == nullptr) {
    error(
        "Error in vorn_xml_reader::skip_data() - you must read at least the opening tag before "
        "skipping data.");
    return;
  }
  const tag_node *skipped = tag_stack_;
  char text[tag_capacity];
  while (true) {
    if (!skip_chunk()) {
      warn("Warning in vorn_xml_reader::skip_data() - unable to read chunk?");
      return;
    }
    if (!read_block(text, sizeof text, 1)) {
      warn("Warning in vorn_xml_reader::skip_data() - unable to read block?");
      return;
    }
    if (text[0] == '!') continue;  // a comment, a declaration or CDATA
    if (text[0] == '/') {
      const tag_node *closed = tag_stack_;
      pop_stack_entry(text);
      if (closed == skipped) return;
    } else {
      push_tag(text);
    }
  }
}

int vorn_xml_reader::read_cdata(unsigned char *destination, int size) {
  if (destination == nullptr) {
    error("Error in vorn_xml_reader::read_cdata(), NULL dest?");
    return 0;
  }
  if (size <= 0) {
    error("Error in vorn_xml_reader::read_cdata(), dest is too small?");
    return 0;
  }
  if (!skip_chunk()) return 0;
  static const char header[] = "![CDATA[";
  for (int i = 0; i < 8; ++i) {
    if (next_byte() != header[i]) {
      warn("Warning in vorn_xml_reader::read_cdata(), did not get ![CDATA[ header.");
      return 0;
    }
  }
  int stored = 0;
  int high = -1;
  int c;
  while (stored < size && (c = next_byte()) >= 0 && c != '<' && c != '>') {
    const int nibble = hex_value(c);
    if (nibble < 0) continue;
    if (high < 0) {
      high = nibble;
    } else {
      destination[stored++] = static_cast<unsigned char>(high << 4 | nibble);
      high = -1;
    }
  }
  skip_data();
  return stored;
}

int vorn_xml_reader::check_xml_header_string(const char *line) {
  if (!word_equal_nonnull(line, "<?xml")) {
    header_warn("missing opening '<?xml' tag.");
    return 0;
  }
  const char *p = next_arg(line);
  if (p == nullptr) {
    header_warn("didn't get either version or encoding.");
    return 0;
  }
  bool version = false;
  bool encoding = false;
  while (true) {
    if (std::strncmp(p, "version", 7) == 0) {
      p = read_attribute(p, 7, "'version' tag found, but no version.",
                         "'version' tag found, but no opening version quote.",
                         "'version' tag found, but no closing version quote.");
      version = true;
    } else if (std::strncmp(p, "encoding", 8) == 0) {
      p = read_attribute(p, 8, "'encoding' tag found, but no encoding.",
                         "'encoding' tag found, but no opening encoding quote.",
                         "'encoding' tag found, but no closing encoding quote.");
      encoding = true;
    } else {
      header_warn("unknown tag found.");
      return 0;
    }
    if (p == nullptr) return 0;
    if (*p == '\0' || std::strncmp(p, "?>", 2) == 0) break;
  }
  if (version && encoding) return 1;
  header_warn(version ? "didn't get encoding." : "didn't get version.");
  return 0;
}

vorn_xml_file_reader::vorn_xml_file_reader(std::FILE *file) : file_(file) {
  if (file == nullptr) {
    debug_message("Error in vorn_xml_file_reader::vorn_xml_file_reader(), NULL file handle.", 1,
                  module_xml);
  }
}

vorn_xml_file_reader::~vorn_xml_file_reader() { file_ = nullptr; }

int vorn_xml_file_reader::read_byte() { return file_ != nullptr ? std::fgetc(file_) : -1; }
