#include "xml/xml_writer.h"

#include <cstring>
#include <new>

#include "support/debug_log.h"

namespace {
constexpr int module_xml = 6;
}

vorn_xml_writer::~vorn_xml_writer() {
  while (tag_stack_ != nullptr) {
    tag_node *below = tag_stack_->below;
    delete tag_stack_;
    tag_stack_ = below;
  }
}

void vorn_xml_writer::put(const char *text) {
  if (write_text(text) < 0) failed = 1;
}

int vorn_xml_writer::write_header() {
  const int result = write_text("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n");
  if (result < 0) failed = 1;
  return result;
}

void vorn_xml_writer::write_newline() { put("\n"); }

void vorn_xml_writer::write_indent() {
  for (int i = 0; i < depth; ++i) put("  ");
}

void vorn_xml_writer::write_string(const char *text) {
  if (text == nullptr) {
    debug_message("Error in vorn_xml_writer::write_string(), NULL data.\n", 4, module_xml);
    return;
  }
  // Runs of plain bytes go out together; the three specials as entities.
  char run[256];
  std::size_t n = 0;
  for (const char *p = text;; ++p) {
    const char *entity = nullptr;
    if (*p == '<') entity = "&lt;";
    if (*p == '>') entity = "&gt;";
    if (*p == '&') entity = "&amp;";
    if (*p == '\0' || entity != nullptr || n == sizeof run - 1) {
      run[n] = '\0';
      if (n != 0) put(run);
      n = 0;
    }
    if (*p == '\0') break;
    if (entity != nullptr) {
      put(entity);
    } else {
      run[n++] = *p;
    }
  }
}

void vorn_xml_writer::write_tag(const char *name, int newline, const char *attributes) {
  if (name == nullptr) {
    debug_message("Error in vorn_xml_writer::write_tag(), NULL tag.\n", 4, module_xml);
    return;
  }
  tag_node *node = new (std::nothrow) tag_node;
  if (node != nullptr) {
    const std::size_t length = strnlen(name, tag_capacity - 1);
    std::memcpy(node->name, name, length);
    node->name[length] = '\0';
    node->below = tag_stack_;
    tag_stack_ = node;
  } else {
    debug_message("Error in vorn_xml_writer::write_tag(), out of memory for the tag stack.\n", 4,
                  module_xml);
  }
  open_tag_text(name, attributes);
  put(newline ? ">\n" : ">");
  ++depth;
}

void vorn_xml_writer::end_tag(const char *expected, int indent) {
  --depth;
  if (indent && depth > 0) write_indent();
  put("</");
  if (tag_stack_ == nullptr) {
    debug_message("Error in vorn_xml_writer::end_tag(), tag stack empty.\n", 4, module_xml);
    put("_BOGUS_ENDING_TAG_");
  } else {
    tag_node *top = tag_stack_;
    tag_stack_ = top->below;
    if (expected != nullptr && std::strcmp(expected, top->name) != 0) {
      debug_message("Warning in vorn_xml_writer::end_tag(), tried to close wrong tag.\n", 64,
                    module_xml);
    }
    write_string(top->name);
    delete top;
  }
  put(">\n");
}

void vorn_xml_writer::write_empty_tag(const char *name, const char *attributes) {
  open_tag_text(name, attributes);
  put(" />\n");
}

void vorn_xml_writer::open_tag_text(const char *name, const char *attributes) {
  write_indent();
  put("<");
  write_string(name);
  if (attributes != nullptr) {
    put(" ");
    put(attributes);
  }
}

void vorn_xml_writer::write_cdata(const unsigned char *bytes, int count) {
  static const char digits[] = "0123456789abcdef";
  put("<![CDATA[\n");
  for (int i = 0; i < count; ++i) {
    const char pair[3] = {digits[bytes[i] >> 4], digits[bytes[i] & 15], '\0'};
    put(pair);
    if (i % 32 == 31) put("\n");
  }
  if (count > 0 && count % 32 != 0) put("\n");
  put("]]>\n");
}

vorn_xml_file_writer::vorn_xml_file_writer(std::FILE *file) : file_(file) {
  if (file == nullptr) {
    debug_message("Error in vorn_xml_file_writer::vorn_xml_file_writer(), NULL file handle.\n", 1,
                  module_xml);
  }
}

vorn_xml_file_writer::~vorn_xml_file_writer() { file_ = nullptr; }

int vorn_xml_file_writer::write_text(const char *text) {
  if (file_ == nullptr) return -1;
  return std::fprintf(file_, "%s", text);
}
