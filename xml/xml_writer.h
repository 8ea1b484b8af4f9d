// vorn_xml_writer: writes the small tag-structured XML files that
// vorn_xml_reader reads back: a declaration line, nested elements indented by
// two blanks per level, and escaped text values.
//
// A stack of the open tags lets end_tag() close the innermost element without
// being told its name; a name that does not match is reported (category 64,
// module 6) and the open element is closed under its own name. Output goes
// through write_text(); `failed` records whether any of it was refused, so that
// a caller writing a file can tell a complete document from a cut one.
//
// vorn_xml_file_writer writes to a C stream that the caller opens, flushes and
// closes. A writer owns its tag stack, writes one document and belongs to one
// thread.
#ifndef VIRELAN_XML_XML_WRITER_H
#define VIRELAN_XML_XML_WRITER_H

#include <cstdio>

class vorn_xml_writer {
 public:
  static constexpr int tag_capacity = 1000;

  vorn_xml_writer() = default;
  // Tags left open are not closed.
  virtual ~vorn_xml_writer();
  vorn_xml_writer(const vorn_xml_writer &) = delete;
  vorn_xml_writer &operator=(const vorn_xml_writer &) = delete;

  // Writes `text` as it is: the count written, or a negative value on failure.
  virtual int write_text(const char *text) = 0;

  // The declaration line; write_text()'s result.
  int write_header();
  void write_newline();
  // `text` with <, > and & escaped; every other byte as it is.
  void write_string(const char *text);
  // Opens an element at the current indentation: "<name attributes>", with a
  // line feed after it when `newline` is set.
  void write_tag(const char *name, int newline, const char *attributes = nullptr);
  // Closes the innermost element ("</name>" and a line feed), indented when
  // `indent` is set; `expected`, when given, is checked against it.
  void end_tag(const char *expected, int indent);
  // "<name attributes />" on a line of its own; nothing is opened.
  void write_empty_tag(const char *name, const char *attributes = nullptr);
  void write_indent();
  // `count` bytes as hexadecimal digit pairs, 32 bytes a line, in a CDATA section.
  void write_cdata(const unsigned char *bytes, int count);

  int depth = 0;   // open elements: the indentation level
  int failed = 0;  // 1 once write_text() refused something

 private:
  struct tag_node {
    char name[tag_capacity];
    tag_node *below;
  };

  void put(const char *text);
  // The indentation, "<", the escaped name and the attributes of a tag.
  void open_tag_text(const char *name, const char *attributes);

  tag_node *tag_stack_ = nullptr;
};

class vorn_xml_file_writer : public vorn_xml_writer {
 public:
  // `file` is not owned; a null stream is reported and refuses every write.
  explicit vorn_xml_file_writer(std::FILE *file);
  ~vorn_xml_file_writer() override;
  int write_text(const char *text) override;

 private:
  std::FILE *file_;
};

#endif  // VIRELAN_XML_XML_WRITER_H
