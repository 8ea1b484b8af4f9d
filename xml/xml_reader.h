// vorn_xml_reader: reads the small tag-structured XML files the launcher writes
// itself (its configuration file), one tag or one value at a time.
//
// It is not a general XML parser. Everything between "<" and ">" is a tag's
// text (attributes arrive as part of it), values are printable ASCII on one
// line, and only &lt; &gt; and &amp; are decoded, one level deep. A stack of the
// open tags lets it check closing tags and skip whole elements; a closing tag
// whose name differs from the open one is reported and still closes it.
//
// Input problems are reported as warnings (category 64, module 6) and read past
// where possible; the caller sees 0 where a value could not be read. The
// declaration line is checked separately by check_xml_header_string(), on a
// line the caller has read itself.
//
// The byte source is read_byte(); vorn_xml_file_reader reads a C stream that
// the caller opens and closes. A reader owns its tag stack, reads one document
// and belongs to one thread.
#ifndef VIRELAN_XML_XML_READER_H
#define VIRELAN_XML_XML_READER_H

#include <cstdio>

class vorn_xml_reader {
 public:
  // Longest tag text kept on the stack, plus its terminator.
  static constexpr int tag_capacity = 1000;

  vorn_xml_reader() = default;
  virtual ~vorn_xml_reader();
  vorn_xml_reader(const vorn_xml_reader &) = delete;
  vorn_xml_reader &operator=(const vorn_xml_reader &) = delete;

  // The next byte (0..255), or -1 at the end of the input.
  virtual int read_byte() = 0;

  // 1 when `line` is an acceptable declaration: "<?xml" (any case) followed by
  // a double-quoted version and encoding in any order; their values are not
  // checked. Reads nothing from the reader.
  static int check_xml_header_string(const char *line);

  // Reads the next opening tag's text into `destination` and pushes it: 1. A
  // closing tag pops the stack and gives 0; so do the end of the input and
  // errors. Text between tags is skipped silently.
  int read_tag(char *destination, int size);
  // Reads the value of the element just opened and its closing tag: 1. A value
  // that cannot be read (the end of the input, a character that is not
  // printable ASCII) gives 0 and leaves the closing tag for the next read_tag().
  int read_data(char *destination, int size);
  // The same for an integer value; 0 and `destination` unchanged when the value
  // does not start like a number (the closing tag is still read).
  int read_data(int *destination);
  // Skips everything up to and including the closing tag of the element just
  // opened, following nesting by the stack.
  void skip_data();
  // Reads CDATA written as hexadecimal digit pairs into `destination`, then
  // skips to the end of the element; the number of bytes stored.
  int read_cdata(unsigned char *destination, int size);

  // The parts the operations above are made of.
  // Reads up to the next "<" or ">" (expect_close: ">" is the one wanted) into
  // `destination`, keeping at most size - 1 characters, and decodes entities: 1,
  // or 0 at the end of the input or when a kept character is not printable.
  int read_block(char *destination, int size, int expect_close);
  // Skips to just after the next "<": 1, or 0 at the end of the input.
  int skip_chunk();
  // Pops the open tag that the closing tag `text` ("/name") closes.
  void pop_stack_entry(const char *text);
  // Decodes &lt; &gt; &amp; in place; other "&" stay and are reported.
  static void compact_string(char *text);

  // How many tags are open.
  int open_tags() const;

 private:
  struct tag_node {
    char text[tag_capacity];
    tag_node *below;
  };

  int next_byte();
  void push_tag(const char *text);
  void give_back_closing_bracket();

  tag_node *tag_stack_ = nullptr;
  // A "<" given back by read_data() so that a closing tag it could not reach
  // stays for read_tag().
  int pushed_back_ = -1;
  // What ended the last read_block(): "<", ">" or -1 for the end of the input.
  int block_end_ = -1;
};

class vorn_xml_file_reader : public vorn_xml_reader {
 public:
  // `file` is not owned; a null stream is reported and reads as empty.
  explicit vorn_xml_file_reader(std::FILE *file);
  ~vorn_xml_file_reader() override;
  int read_byte() override;

 private:
  std::FILE *file_;
};

#endif  // VIRELAN_XML_XML_READER_H
