// extra_desc records and lists: reading a list in the tagged format (whole
// records, records without "#E", bad tags, a stream that ends early), writing
// it back so that it reads the same, copying, appending, the pool behind the
// records, and the "#"/tilde pair format.
#include "support/extra_desc.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common/test_support.h"
#include "support/bulk_allocator.h"

namespace {

using testing_support::log_capture;

std::FILE *stream_of(const std::string &bytes) {
  std::FILE *f = std::tmpfile();
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::rewind(f);
  return f;
}

std::string contents(std::FILE *f) {
  std::rewind(f);
  std::string text;
  int c;
  while ((c = std::getc(f)) != EOF) text += static_cast<char>(c);
  return text;
}

// One record as "e1 e2 e3 A=.. S=.. L=.." (texts that are not set left out).
std::string describe(const extra_desc *r) {
  std::string d = std::to_string(r->e1) + " " + std::to_string(r->e2) + " " + std::to_string(r->e3);
  if (r->a_text != nullptr) d += " A=" + std::string(r->a_text);
  if (r->s_text != nullptr) d += " S=" + std::string(r->s_text);
  if (r->l_text != nullptr) d += " L=" + std::string(r->l_text);
  return d;
}

std::vector<std::string> describe_list(const extra_desc *list) {
  std::vector<std::string> out;
  for (const extra_desc *r = list; r != nullptr; r = r->next) out.push_back(describe(r));
  return out;
}

// Reads `text` with `read` into a list that already holds a record, so that
// every read also shows the old list being freed (the sanitizer build would
// report it lost otherwise).
std::vector<std::string> read_list(int (*read)(std::FILE *, extra_desc **), const std::string &text,
                                   int *count = nullptr) {
  extra_desc *list = extra_desc_new();
  list->a_text = strdup("left over");
  std::FILE *f = stream_of(text);
  const int n = read(f, &list);
  std::fclose(f);
  std::vector<std::string> described = describe_list(list);
  EXPECT_EQ(n, static_cast<int>(described.size()));
  if (count != nullptr) *count = n;
  extra_list_free(&list);
  EXPECT_EQ(list, nullptr);
  return described;
}

extra_desc *record(int e1, int e2, int e3, const char *a, const char *s, const char *l) {
  extra_desc *r = extra_desc_new();
  r->e1 = e1;
  r->e2 = e2;
  r->e3 = e3;
  r->a_text = a != nullptr ? strdup(a) : nullptr;
  r->s_text = s != nullptr ? strdup(s) : nullptr;
  r->l_text = l != nullptr ? strdup(l) : nullptr;
  return r;
}

extra_desc *list_of(std::vector<extra_desc *> records) {
  extra_desc *list = nullptr;
  for (extra_desc *r : records) EXPECT_EQ(extra_list_append(&list, r), 1);
  return list;
}

std::string write_list(const extra_desc *list) {
  std::FILE *f = std::tmpfile();
  EXPECT_EQ(fput_extra_list(f, list), 1);
  std::string text = contents(f);
  std::fclose(f);
  return text;
}

using records = std::vector<std::string>;

TEST(ExtraListTest, AFullRecordReadsIntoOneRecord) {
  EXPECT_EQ(read_list(fget_extra_list, "#E 1 2 3\n#A x\n#S y\n#L z;\n#end\n"),
            records{"1 2 3 A=x S=y L=z"});
}

TEST(ExtraListTest, ItemsStartANewRecordWhenTheyDoNotFollowTheOrderEASL) {
  struct Case {
    const char *name;
    std::string text;
    records expected;
  };
  const Case cases[] = {
      {"texts without E", "#A a1\n#A a2\n#end\n", {"0 0 0 A=a1", "0 0 0 A=a2"}},
      {"each L its own record", "#L one;\n#L two;\n#end\n", {"0 0 0 L=one", "0 0 0 L=two"}},
      {"a later item joins, an earlier one starts over",
       "#A a\n#S s\n#L l;\n#S s2\n#A a2\n#end\n",
       {"0 0 0 A=a S=s L=l", "0 0 0 S=s2", "0 0 0 A=a2"}},
      {"E always starts a record", "#E 1 2 3\n#E 4 5 6\n#L x;\n#end\n", {"1 2 3", "4 5 6 L=x"}},
      {"E with fewer numbers", "#E 7\n#S s\n#end\n", {"7 0 0 S=s"}},
      {"E with more numbers", "#E 1 2 3 4 5 6 7 8 9 10 11 12 13\n#end\n", {"1 2 3"}},
      {"an L text spans lines", "#L multi\nline;\n#end\n", {"0 0 0 L=multi\nline"}},
      {"texts keep inner blanks", "#A  two  blanks \n#end\n", {"0 0 0 A= two  blanks "}},
      {"CR LF line ends", "#E 1 2 3\r\n#A x\r\n#end\r\n", {"1 2 3 A=x"}},
      {"the end tag in any case", "#A x\n#END\n#A y\n", {"0 0 0 A=x"}},
      {"nothing after the end", "#end\n#A after\n", {}},
      {"no tag at all", "plain text\n", {}},
      {"an empty stream", "", {}},
      {"no end tag", "#E 1 2 3\n#A x\n", {"1 2 3 A=x"}},
      {"the stream ends after a tag", "#E 1 2 3\n#A", {"1 2 3"}},
      {"the stream ends inside the numbers", "#E 1 2", {"1 2 0"}},
  };
  log_capture log;  // the early ends report "EOF encountered"
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(read_list(fget_extra_list, c.text), c.expected);
  }
}

TEST(ExtraListTest, AnUnknownTagIsReportedAndEndsTheList) {
  log_capture log;
  EXPECT_EQ(read_list(fget_extra_list, "#E 1 2 3\n#Xtra bad\n#A never\n#end\n"), records{"1 2 3"});
  EXPECT_EQ(read_list(fget_extra_list, "# A\n"), records{});
  EXPECT_EQ(log.text(),
            "Error in fget_extra_list(), invalid tag 'Xtra' found.\n"
            "Error in fget_extra_list(), invalid tag '' found.\n");
}

TEST(ExtraListTest, ListsAreWrittenWithTheirTagsAndAnEndLine) {
  extra_desc *list = list_of(
      {record(1, 2, 3, "x", "y", "z"), record(0, 0, 0, nullptr, nullptr, nullptr),
       record(0, 0, 0, nullptr, nullptr, "only l"), record(-4, 0, 0, "a", nullptr, nullptr)});
  EXPECT_EQ(write_list(list),
            "#E 1 2 3\n#A x\n#S y\n#L z;\n"
            "#E 0 0 0\n"
            "#E 0 0 0\n#L only l;\n"  // without its E it would join the record before
            "#E -4 0 0\n#A a\n"
            "#end\n");
  extra_list_free(&list);
  EXPECT_EQ(write_list(nullptr), "#end\n");
}

// A record of zeros and texts is written without "#E" only where its first text
// cannot be taken for part of the record before it.
TEST(ExtraListTest, WrittenListsReadBackAsTheSameRecords) {
  struct Case {
    const char *name;
    std::vector<extra_desc *> list;
    std::string text;
  };
  std::vector<Case> cases;
  cases.push_back({"texts in order",
                   {record(0, 0, 0, "a", nullptr, nullptr), record(0, 0, 0, "b", nullptr, nullptr)},
                   "#A a\n#A b\n#end\n"});
  cases.push_back(
      {"an A after a record of numbers only",
       {record(1, 2, 3, nullptr, nullptr, nullptr), record(0, 0, 0, "a", nullptr, nullptr)},
       "#E 1 2 3\n#E 0 0 0\n#A a\n#end\n"});
  cases.push_back({"an S after an A",
                   {record(0, 0, 0, "a", nullptr, nullptr), record(0, 0, 0, nullptr, "s", nullptr)},
                   "#A a\n#E 0 0 0\n#S s\n#end\n"});
  cases.push_back({"an L after an S",
                   {record(0, 0, 0, nullptr, "s", nullptr), record(0, 0, 0, nullptr, nullptr, "l")},
                   "#S s\n#E 0 0 0\n#L l;\n#end\n"});
  cases.push_back({"an S after an L",
                   {record(0, 0, 0, nullptr, nullptr, "l"), record(0, 0, 0, nullptr, "s", nullptr)},
                   "#L l;\n#S s\n#end\n"});
  cases.push_back({"empty texts and an L over lines",
                   {record(0, 0, 0, "", "", "two\nlines"), record(5, 6, 7, nullptr, "", nullptr)},
                   "#A \n#S \n#L two\nlines;\n#E 5 6 7\n#S \n#end\n"});
  for (Case &c : cases) {
    SCOPED_TRACE(c.name);
    extra_desc *list = list_of(c.list);
    const std::string text = write_list(list);
    EXPECT_EQ(text, c.text);
    EXPECT_EQ(read_list(fget_extra_list, text), describe_list(list));
    extra_list_free(&list);
  }
}

TEST(ExtraListTest, ACopyIsDeepAndAListMayBeCopiedOntoItself) {
  extra_desc *source =
      list_of({record(1, 2, 3, "a", "s", "l"), record(4, 5, 6, nullptr, nullptr, "x")});
  extra_desc *copy = list_of({record(9, 9, 9, "old", nullptr, nullptr)});
  ASSERT_EQ(extra_list_copy(&copy, source), 1);
  const records expected{"1 2 3 A=a S=s L=l", "4 5 6 L=x"};
  EXPECT_EQ(describe_list(copy), expected);
  EXPECT_NE(copy->a_text, source->a_text);
  source->a_text[0] = 'Z';
  EXPECT_EQ(describe_list(copy), expected);

  ASSERT_EQ(extra_list_copy(&copy, copy), 1);  // the sanitizer build sees any use after free
  EXPECT_EQ(describe_list(copy), expected);
  ASSERT_EQ(extra_list_copy(&copy, nullptr), 1);
  EXPECT_EQ(copy, nullptr);
  extra_list_free(&source);
}

TEST(ExtraListTest, AppendHangsRecordsAtTheEndAndRefusesToMakeACycle) {
  extra_desc *list = nullptr;
  extra_desc *a = record(1, 0, 0, nullptr, nullptr, nullptr);
  extra_desc *b = list_of(
      {record(2, 0, 0, nullptr, nullptr, nullptr), record(3, 0, 0, nullptr, nullptr, nullptr)});
  EXPECT_EQ(extra_list_append(&list, a), 1);
  EXPECT_EQ(list, a);
  EXPECT_EQ(extra_list_append(&list, b), 1);
  EXPECT_EQ(extra_list_append(&list, nullptr), 1);
  EXPECT_EQ(describe_list(list), (records{"1 0 0", "2 0 0", "3 0 0"}));
  {
    log_capture log;
    EXPECT_EQ(extra_list_append(&list, list), 0);
    EXPECT_EQ(extra_list_append(&list, b->next), 0);
    EXPECT_EQ(log.text(),
              "Error in extra_list_append(), records already in the list.\n"
              "Error in extra_list_append(), records already in the list.\n");
  }
  EXPECT_EQ(describe_list(list), (records{"1 0 0", "2 0 0", "3 0 0"}));
  EXPECT_EQ(extra_list_append(nullptr, a), 0);
  extra_list_free(&list);
}

// Records come from 64 KiB blocks of the pool; a freed record is the next one
// handed out, cleared. Run in a child so that what the test takes from the
// process-wide pool stays there.
TEST(ExtraDescTest, RecordsComeClearedFromBlocksOfThePoolAndGoBackToIt) {
  const int status = testing_support::run_in_child([] {
    const long long size = static_cast<long long>(sizeof(extra_desc));
    const long long per_block = 65536 / size;
    long long bytes_before, bytes_after;
    int blocks_before, blocks_after;
    // Use up whatever the pool still holds: the record that brings a new block
    // is the first of it.
    vorn_bulk_allocation_stats(&bytes_before, &blocks_before);
    extra_desc *r;
    do {
      r = extra_desc_new();
      vorn_bulk_allocation_stats(&bytes_after, &blocks_after);
    } while (blocks_after == blocks_before);
    if (blocks_after - blocks_before != 1) return 1;
    if (bytes_after - bytes_before != per_block * size) return 2;
    if (r->e1 != 0 || r->e2 != 0 || r->e3 != 0 || r->a_text || r->s_text || r->l_text || r->next)
      return 3;
    r->e1 = 5;
    r->a_text = strdup("text");
    r->next = r;
    extra_desc_free(r);
    extra_desc *again = extra_desc_new();
    if (again != r) return 4;
    if (again->e1 != 0 || again->a_text != nullptr || again->next != nullptr) return 5;
    for (long long i = 1; i < per_block; ++i) extra_desc_new();
    vorn_bulk_allocation_stats(nullptr, &blocks_after);
    if (blocks_after - blocks_before != 1) return 6;  // the block is used up, no second yet
    extra_desc_new();
    vorn_bulk_allocation_stats(nullptr, &blocks_after);
    return blocks_after - blocks_before == 2 ? 0 : 7;
  });
  EXPECT_EQ(status, 0);
  extra_desc_free(nullptr);  // nothing
}

TEST(PairListTest, ReadsHashLinesAndTildeTextsUntilEnd) {
  struct Case {
    const char *name;
    std::string text;
    records expected;
  };
  const Case cases[] = {
      {"two pairs and the end",
       "#one\nfirst text~\n#two\nkeeps ~~ and ~Bold~\n#END\n#three\nx~",
       {"0 0 0 S=one L=first text", "0 0 0 S=two L=keeps ~~ and ~Bold"}},
      {"the end word in any case, more after it",
       "#a\nx~\n#end of list\n#b\ny~",
       {"0 0 0 S=a L=x"}},
      {"no end line", "#a\nx~\n#b\ny~", {"0 0 0 S=a L=x", "0 0 0 S=b L=y"}},
      {"text before the first hash is skipped", "junk\n#a\nx~", {"0 0 0 S=a L=x"}},
      {"the stream ends after the hash line", "#name\n", {"0 0 0 S=name"}},
      {"the stream ends inside the text", "#name\nunfinished", {"0 0 0 S=name L=unfinished"}},
      {"an empty stream", "", {}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(read_list(fget_pair_list, c.text), c.expected);
  }
}

TEST(ExtraListTest, NullStreamsAndListsAreRefused) {
  extra_desc *list = list_of({record(1, 0, 0, nullptr, nullptr, nullptr)});
  EXPECT_EQ(fget_extra_list(nullptr, &list), 0);
  EXPECT_EQ(list, nullptr);  // freed all the same
  EXPECT_EQ(fget_extra_list(nullptr, nullptr), 0);
  EXPECT_EQ(fget_pair_list(nullptr, nullptr), 0);
  EXPECT_EQ(fput_extra_list(nullptr, nullptr), 0);
  EXPECT_EQ(extra_list_copy(nullptr, nullptr), 0);
  extra_list_free(nullptr);
}

}  // namespace
