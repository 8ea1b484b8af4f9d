#include "xml/xml_reader.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "common/test_support.h"
#include "unit/xml/string_reader.h"

namespace {

using testing_support::log_capture;

std::string tag_of(vorn_xml_reader &reader, int *result) {
  char tag[vorn_xml_reader::tag_capacity];
  *result = reader.read_tag(tag, sizeof tag);
  return *result ? tag : "";
}

TEST(XmlReaderTest, ReadsAnIntegerElementAndEmptiesTheStack) {
  string_reader reader("<a>5</a>");
  int result = 0;
  EXPECT_EQ(tag_of(reader, &result), "a");
  int value = 0;
  EXPECT_EQ(reader.read_data(&value), 1);
  EXPECT_EQ(value, 5);
  EXPECT_EQ(reader.open_tags(), 0);
  tag_of(reader, &result);
  EXPECT_EQ(result, 0);
}

TEST(XmlReaderTest, TextValuesDecodeEntitiesOneLevelOnly) {
  struct Case {
    const char *document;
    const char *value;
    const char *log;
  };
  const Case cases[] = {
      {"<v>&amp;lt;</v>", "&lt;", ""},
      {"<v>a &lt;b&gt; &amp; c</v>", "a <b> & c", ""},
      {"<v>  padded  </v>", "  padded  ", ""},
      {"<v>&quot;x&</v>", "&quot;x&",
       "Warning in vorn_xml_reader::compact_string(), unknown '&' conversion found?\n"
       "Warning in vorn_xml_reader::compact_string(), unknown '&' conversion found?\n"},
      {"<v></v>", "", ""},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.document);
    log_capture log;
    string_reader reader(c.document);
    int result = 0;
    ASSERT_EQ(tag_of(reader, &result), "v");
    char value[100];
    EXPECT_EQ(reader.read_data(value, sizeof value), 1);
    EXPECT_STREQ(value, c.value);
    EXPECT_EQ(reader.open_tags(), 0);
    EXPECT_EQ(log.text(), c.log);
  }
}

TEST(XmlReaderTest, IntegerValuesMustStartLikeANumber) {
  struct Case {
    const char *document;
    int result;
    int value;  // starts at 7
    const char *log;
  };
  const Case cases[] = {
      {"<n>12abc</n>", 1, 12, ""},
      {"<n>-3  </n>", 1, -3, ""},
      {"<n> 5</n>", 0, 7, "Warning in vorn_xml_reader::read_data(int) - got non-number' 5'.\n"},
      {"<n>on</n>", 0, 7, "Warning in vorn_xml_reader::read_data(int) - got non-number'on'.\n"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.document);
    log_capture log;
    string_reader reader(c.document);
    int result = 0;
    ASSERT_EQ(tag_of(reader, &result), "n");
    int value = 7;
    EXPECT_EQ(reader.read_data(&value), c.result);
    EXPECT_EQ(value, c.value);
    EXPECT_EQ(reader.open_tags(), 0);  // the closing tag is read either way
    EXPECT_EQ(log.text(), c.log);
  }
}

// A value that cannot be read leaves its closing tag for the next read_tag(),
// which closes the element, so the caller's loop over the parent goes on.
TEST(XmlReaderTest, AnUnreadableValueLeavesItsClosingTag) {
  for (const char *document :
       {"<p><v>two\nlines</v><w>1</w></p>", "<p><v>tab\there</v><w>1</w></p>"}) {
    SCOPED_TRACE(document);
    log_capture log;
    string_reader reader(document);
    int result = 0;
    ASSERT_EQ(tag_of(reader, &result), "p");
    ASSERT_EQ(tag_of(reader, &result), "v");
    char value[100];
    EXPECT_EQ(reader.read_data(value, sizeof value), 0);
    EXPECT_EQ(reader.open_tags(), 2);
    tag_of(reader, &result);
    EXPECT_EQ(result, 0);  // "</v>"
    EXPECT_EQ(reader.open_tags(), 1);
    EXPECT_EQ(tag_of(reader, &result), "w");
    EXPECT_EQ(log.text(), "");
  }
  // At the end of the input nothing is left to give back.
  string_reader cut("<v>unfinished");
  int result = 0;
  ASSERT_EQ(tag_of(cut, &result), "v");
  char value[100];
  log_capture log;
  EXPECT_EQ(cut.read_data(value, sizeof value), 0);
  tag_of(cut, &result);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(log.text(),
            "Warning in vorn_xml_reader::read_block(), file corruption - got EOF before trailing "
            "bracket.\n");
}

TEST(XmlReaderTest, SkipDataFollowsNestingToTheElementsEnd) {
  string_reader reader("<a><b><c>1</c><!-- note --></b><d/>text</wrong></a><next>2</next>");
  log_capture log;
  int result = 0;
  ASSERT_EQ(tag_of(reader, &result), "a");
  reader.skip_data();
  // "<d/>" is pushed like an opening tag, and "</wrong>" closes it.
  EXPECT_EQ(reader.open_tags(), 0);
  EXPECT_EQ(log.text(),
            "Warning in vorn_xml_reader::pop_stack_entry() - popped tag 'wrong' did not match "
            "expected tag 'd/'.\n");
  EXPECT_EQ(tag_of(reader, &result), "next");
}

TEST(XmlReaderTest, ClosingTagsAreCheckedAgainstTheStack) {
  log_capture log;
  string_reader reader("<a>1</b></stray><x attr=\"1\">");
  int result = 0;
  ASSERT_EQ(tag_of(reader, &result), "a");
  int value = 0;
  EXPECT_EQ(reader.read_data(&value), 1);
  EXPECT_EQ(reader.open_tags(), 0);
  tag_of(reader, &result);  // a closing tag with nothing open must not fail
  EXPECT_EQ(result, 0);
  EXPECT_EQ(tag_of(reader, &result), "x attr=\"1\"");
  EXPECT_EQ(log.text(),
            "Warning in vorn_xml_reader::pop_stack_entry() - popped tag 'b' did not match "
            "expected tag 'a'.\n"
            "Warning in vorn_xml_reader::pop_stack_entry() - closing tag 'stray' found with no "
            "tag open.\n");
}

TEST(XmlReaderTest, LongTagsAreCutOnTheStackAndInTheDestination) {
  const std::string name(1200, 'n');
  string_reader reader("<" + name + ">v</" + name.substr(0, 999) + ">");
  char small[10];
  EXPECT_EQ(reader.read_tag(small, sizeof small), 1);
  EXPECT_STREQ(small, "nnnnnnnnn");  // the destination keeps size - 1

  // The closing tag's buffer holds "/" and 998 characters of the name.
  string_reader whole("<" + name + ">v</" + name + ">");
  char big[2000];
  EXPECT_EQ(whole.read_tag(big, sizeof big), 1);
  EXPECT_EQ(std::string(big), name);
  char value[10];
  log_capture quiet;
  EXPECT_EQ(whole.read_data(value, sizeof value), 1);
  EXPECT_EQ(reader.open_tags(), 1);
  EXPECT_EQ(whole.open_tags(), 0);
  EXPECT_EQ(quiet.text(), "Warning in vorn_xml_reader::pop_stack_entry() - popped tag '" +
                              name.substr(0, 998) + "' did not match expected tag '" +
                              name.substr(0, 999) + "'.\n");
}

TEST(XmlReaderTest, BadArgumentsAreReported) {
  log_capture log;
  string_reader reader("<a>1</a>");
  EXPECT_EQ(reader.read_tag(nullptr, 10), 0);
  char buffer[4];
  EXPECT_EQ(reader.read_tag(buffer, 0), 0);
  EXPECT_EQ(reader.read_data(static_cast<int *>(nullptr)), 0);
  reader.skip_data();
  EXPECT_EQ(log.text(),
            "Error in vorn_xml_reader::read_tag(), NULL dest?\n"
            "Error in vorn_xml_reader::read_tag(), dest is too small?\n"
            "Error in vorn_xml_reader::read_data(int), NULL dest?\n"
            "Error in vorn_xml_reader::skip_data() - you must read at least the opening tag "
            "before skipping data.\n");
}

TEST(XmlReaderTest, DeclarationCheck) {
  const std::string prefix = "Warning in vorn_xml_reader::check_xml_header_string(), ";
  struct Case {
    const char *line;
    int result;
    std::string log;
  };
  const Case cases[] = {
      {"<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>", 1, ""},
      {"<?XML encoding=\"UTF-8\" version = \"9\"", 1, ""},  // case, order, no "?>"
      {"<?xml version=\"1.0\" version=\"2\" encoding=\"x\"?>", 1, ""},
      {"<?xml version='1.0' encoding='ISO-8859-1'?>", 0,
       prefix + "'version' tag found, but no opening version quote.\n"},
      {"<?xml version=\"1.0\"?>", 0, prefix + "didn't get encoding.\n"},
      {"<?xml encoding=\"x\"?>", 0, prefix + "didn't get version.\n"},
      {"<?xml", 0, prefix + "didn't get either version or encoding.\n"},
      {"<launcher_config>", 0, prefix + "missing opening '<?xml' tag.\n"},
      {"<?xml standalone=\"yes\"?>", 0, prefix + "unknown tag found.\n"},
      {"<?xml version 1.0", 0, prefix + "'version' tag found, but no version.\n"},
      {"<?xml encoding=\"x", 0, prefix + "'encoding' tag found, but no closing encoding quote.\n"},
      {"<?xml encoding=x", 0, prefix + "'encoding' tag found, but no opening encoding quote.\n"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.line);
    log_capture log;
    EXPECT_EQ(vorn_xml_reader::check_xml_header_string(c.line), c.result);
    EXPECT_EQ(log.text(), c.log);
  }
}

TEST(XmlReaderTest, FileReaderReadsAStreamItDoesNotOwn) {
  char document[] = "<a>x</a>";
  std::FILE *f = fmemopen(document, sizeof document - 1, "rb");
  {
    vorn_xml_file_reader reader(f);
    int result = 0;
    EXPECT_EQ(tag_of(reader, &result), "a");
  }
  EXPECT_EQ(std::fgetc(f), 'x');  // still open
  std::fclose(f);

  log_capture log;
  vorn_xml_file_reader none(nullptr);
  int result = 0;
  tag_of(none, &result);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(log.text(),
            "Error in vorn_xml_file_reader::vorn_xml_file_reader(), NULL file handle.\n");
}

TEST(XmlReaderTest, CdataDecodesHexadecimalPairs) {
  string_reader reader("<blob><![CDATA[\n00ff7A\n10]]></blob><after>");
  int result = 0;
  ASSERT_EQ(tag_of(reader, &result), "blob");
  unsigned char bytes[8] = {};
  EXPECT_EQ(reader.read_cdata(bytes, sizeof bytes), 4);
  EXPECT_EQ(bytes[0], 0x00);
  EXPECT_EQ(bytes[1], 0xff);
  EXPECT_EQ(bytes[2], 0x7a);
  EXPECT_EQ(bytes[3], 0x10);
  EXPECT_EQ(reader.open_tags(), 0);
  EXPECT_EQ(tag_of(reader, &result), "after");
}

}  // namespace
