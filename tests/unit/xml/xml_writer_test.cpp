#include "xml/xml_writer.h"

#include <gtest/gtest.h>

#include <string>

#include "common/test_support.h"
#include "unit/xml/string_reader.h"
#include "xml/xml_reader.h"

namespace {

using testing_support::log_capture;

// Collects what is written; can be told to refuse writes.
class string_writer : public vorn_xml_writer {
 public:
  int write_text(const char *text) override {
    if (refuse) return -1;
    out += text;
    return static_cast<int>(std::string(text).size());
  }
  std::string out;
  bool refuse = false;
};

TEST(XmlWriterTest, NestedElementsComeOutIndented) {
  string_writer w;
  w.write_header();
  w.write_tag("a", 1);
  w.write_tag("b", 0);
  w.write_string("1");
  w.end_tag(nullptr, 0);
  w.end_tag(nullptr, 1);
  EXPECT_EQ(w.out,
            "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n"
            "<a>\n"
            "  <b>1</b>\n"
            "</a>\n");
  EXPECT_EQ(w.depth, 0);
  EXPECT_EQ(w.failed, 0);
}

TEST(XmlWriterTest, TextIsEscapedAndAttributesAreNot) {
  string_writer w;
  w.write_tag("t", 0, "k=\"<v>\"");
  w.write_string("a<b>&\"c\" \xE9");
  w.end_tag("t", 0);
  EXPECT_EQ(w.out, "<t k=\"<v>\">a&lt;b&gt;&amp;\"c\" \xE9</t>\n");

  string_writer long_text;  // longer than one internal run of plain bytes
  const std::string text(1000, 'x');
  long_text.write_string((text + "&" + text).c_str());
  EXPECT_EQ(long_text.out, text + "&amp;" + text);
}

TEST(XmlWriterTest, ClosingTheWrongOrNoTagIsReported) {
  log_capture log;
  string_writer w;
  w.write_tag("open", 0);
  w.end_tag("other", 0);
  w.end_tag(nullptr, 0);
  EXPECT_EQ(w.out, "<open></open>\n</_BOGUS_ENDING_TAG_>\n");
  EXPECT_EQ(w.depth, -1);
  EXPECT_EQ(log.text(),
            "Warning in vorn_xml_writer::end_tag(), tried to close wrong tag.\n\n"
            "Error in vorn_xml_writer::end_tag(), tag stack empty.\n\n");
}

TEST(XmlWriterTest, NullArgumentsWriteNothing) {
  log_capture log;
  string_writer w;
  w.write_tag(nullptr, 1);
  w.write_string(nullptr);
  EXPECT_EQ(w.out, "");
  EXPECT_EQ(w.depth, 0);
  EXPECT_EQ(log.text(),
            "Error in vorn_xml_writer::write_tag(), NULL tag.\n\n"
            "Error in vorn_xml_writer::write_string(), NULL data.\n\n");
}

TEST(XmlWriterTest, RefusedWritesAreRemembered) {
  string_writer w;
  w.refuse = true;
  EXPECT_LT(w.write_header(), 0);
  EXPECT_EQ(w.failed, 1);
  string_writer later;
  later.write_header();
  later.refuse = true;
  later.write_string("x");
  EXPECT_EQ(later.failed, 1);
}

TEST(XmlWriterTest, EmptyTagsIndentAndCdata) {
  string_writer w;
  w.write_tag("root", 1);
  w.write_empty_tag("e", "x=\"1\"");
  w.write_indent();
  unsigned char bytes[33];
  for (int i = 0; i < 33; ++i) bytes[i] = static_cast<unsigned char>(i * 8);
  w.write_cdata(bytes, 33);
  w.write_cdata(bytes, 0);
  std::string first_line;
  for (int i = 0; i < 32; ++i) {
    const char pair[3] = {"0123456789abcdef"[bytes[i] >> 4], "0123456789abcdef"[bytes[i] & 15], 0};
    first_line += pair;
  }
  EXPECT_EQ(w.out, "<root>\n  <e x=\"1\" />\n  <![CDATA[\n" + first_line + "\n00\n]]>\n" +
                       "<![CDATA[\n]]>\n");
}

// What the writer writes, the reader reads back to the same names and values,
// whatever printable characters they hold.
TEST(XmlWriterTest, ReaderReadsBackWhatTheWriterWrote) {
  const std::string values[] = {"plain", "a<b>c", "&amp;", "& < > \" '", "  spaced  ", "", "x&y;z"};
  string_writer w;
  w.write_header();
  w.write_tag("doc", 1);
  for (const std::string &v : values) {
    w.write_tag("item", 0);
    w.write_string(v.c_str());
    w.end_tag("item", 0);
  }
  w.write_tag("number", 0);
  w.write_string("-42");
  w.end_tag(nullptr, 0);
  w.end_tag(nullptr, 1);

  const std::string text = w.out;
  const std::size_t line_end = text.find('\n');
  EXPECT_EQ(vorn_xml_reader::check_xml_header_string(text.substr(0, line_end).c_str()), 1);
  log_capture log;
  string_reader r(text.substr(line_end + 1));
  char tag[vorn_xml_reader::tag_capacity];
  ASSERT_EQ(r.read_tag(tag, sizeof tag), 1);
  EXPECT_STREQ(tag, "doc");
  for (const std::string &v : values) {
    ASSERT_EQ(r.read_tag(tag, sizeof tag), 1);
    EXPECT_STREQ(tag, "item");
    char value[100];
    ASSERT_EQ(r.read_data(value, sizeof value), 1);
    EXPECT_EQ(std::string(value), v);
  }
  ASSERT_EQ(r.read_tag(tag, sizeof tag), 1);
  int number = 0;
  EXPECT_EQ(r.read_data(&number), 1);
  EXPECT_EQ(number, -42);
  EXPECT_EQ(r.read_tag(tag, sizeof tag), 0);
  EXPECT_EQ(r.open_tags(), 0);
  EXPECT_EQ(log.text(), "");
}

}  // namespace
