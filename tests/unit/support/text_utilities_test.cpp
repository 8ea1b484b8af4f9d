// The string helpers: bounded copies and their reports, the keyword list
// editor, option extraction by position and flags, and wildcard matching
// (including a pattern that would take exponential time by plain recursion).
#include "support/text_utilities.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common/test_support.h"
#include "support/bounded_text.h"
#include "support/words.h"

namespace {

using testing_support::log_capture;

// --- safe_strcpy ---

TEST(SafeStrcpyTest, CopiesWhatFitsAndReportsWhatDoesNot) {
  struct Case {
    const char *name;
    const char *source;
    int size;
    const char *copied;  // null: the destination is untouched
    int result;
    std::string report;
  };
  const Case cases[] = {
      {"fits", "abc", 4, "abc", 1, ""},
      {"empty into one byte", "", 1, "", 1, ""},
      {"six letters into four", "abcdef", 4, "abc", 0,
       "Error in safe_strcpy(), src overflow. String was: ->abcdef<-\n"},
      {"one too many", "ab", 2, "a", 0,
       "Error in safe_strcpy(), src overflow. String was: ->ab<-\n"},
      {"null source", nullptr, 4, "", 0, "Error in safe_strcpy(), NULL src.\n"},
      {"size 0", "x", 0, nullptr, 0, "Error in safe_strcpy(), dest too short.\n"},
      {"negative size", "x", -1, nullptr, 0, "Error in safe_strcpy(), dest too short.\n"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    log_capture log;
    std::string buffer(32, '\x5a');
    EXPECT_EQ(safe_strcpy(&buffer[0], c.source, c.size), c.result);
    const std::size_t used = c.size > 0 ? static_cast<std::size_t>(c.size) : 0;
    EXPECT_EQ(buffer.substr(used), std::string(32 - used, '\x5a')) << "written past the size";
    if (c.copied != nullptr) {
      EXPECT_STREQ(buffer.c_str(), c.copied);
    } else {
      EXPECT_EQ(buffer, std::string(32, '\x5a'));
    }
    EXPECT_EQ(log.text(), c.report);
  }
  log_capture log;
  EXPECT_EQ(safe_strcpy(nullptr, "x", 4), 0);
  EXPECT_EQ(log.text(), "Error in safe_strcpy(), NULL dest.\n");
}

// --- add_remove_keyword_line ---

struct keyword_step {
  const char *text;
  const char *reply;  // null: no reply
  const char *list;   // null: no list
};

void run_keyword_steps(char **list, const std::vector<keyword_step> &steps) {
  for (const keyword_step &s : steps) {
    SCOPED_TRACE(s.text != nullptr ? s.text : "(null text)");
    const char *reply = add_remove_keyword_line(s.text, list);
    if (s.reply == nullptr) {
      EXPECT_EQ(reply, nullptr);
    } else {
      EXPECT_STREQ(reply, s.reply);
    }
    if (s.list == nullptr) {
      EXPECT_EQ(*list, nullptr);
    } else {
      EXPECT_STREQ(*list, s.list);
    }
  }
}

TEST(KeywordListTest, AddsAtTheFrontRemovesIgnoringCaseAndDeletes) {
  char *list = nullptr;
  run_keyword_steps(&list, {
                               {"foo", "Keyword added.", "foo"},
                               {"bar", "Keyword added.", "bar foo"},
                               {"FOO", "Keyword removed.", "bar"},
                               {"null", "List deleted.", nullptr},
                               {"NULL", "List is already empty.", nullptr},
                               {"  baz  and more", "Keyword added.", "baz"},
                               {"qux\tquux", "Keyword added.", "qux baz"},
                               {"baz", "Keyword removed.", "qux"},
                               {"qux", "Keyword removed.", nullptr},
                           });
}

TEST(KeywordListTest, RemovingTakesOutEveryCopyAndTidiesTheBlanks) {
  char *list = strdup("  a b\ta  c a ");
  run_keyword_steps(&list, {{"A", "Keyword removed.", "b c"}});
  std::free(list);
}

// Refusals leave the list alone.
TEST(KeywordListTest, NullsAndBlankTextsAreRefused) {
  log_capture log;
  char *list = strdup("keep");
  run_keyword_steps(&list, {{"", nullptr, "keep"}, {" \t", nullptr, "keep"}});
  EXPECT_EQ(add_remove_keyword_line(nullptr, &list), nullptr);
  EXPECT_EQ(add_remove_keyword_line("x", nullptr), nullptr);
  EXPECT_STREQ(list, "keep");
  EXPECT_EQ(log.text(),
            "Error in add_remove_keyword_line(), null dest?\n"
            "Error in add_remove_keyword_line(), null dest?\n");
  std::free(list);
}

// A list grows past the 5999 characters of a text buffer by additions; taking
// one word out must not cut off the words beyond that length.
TEST(KeywordListTest, ALongListLosesOnlyTheRemovedWord) {
  char *list = nullptr;
  std::string expected;
  for (int i = 0; i < 1500; ++i) {
    const std::string word = "word" + std::to_string(i);
    ASSERT_STREQ(add_remove_keyword_line(word.c_str(), &list), "Keyword added.");
    if (i != 700) expected = expected.empty() ? word : word + " " + expected;
  }
  ASSERT_GT(std::strlen(list), 6000u);
  EXPECT_STREQ(add_remove_keyword_line("word700", &list), "Keyword removed.");
  EXPECT_EQ(std::string(list), expected);
  std::free(list);
}

TEST(KeywordListTest, AnOverlongKeywordIsCutTo5999Characters) {
  char *list = strdup("old");
  const std::string word(7000, 'k');
  EXPECT_STREQ(add_remove_keyword_line(word.c_str(), &list), "Keyword added.");
  EXPECT_EQ(std::string(list), std::string(5999, 'k') + " old");
  std::free(list);
}

// --- extract_option and its helpers ---

TEST(ExtractOptionTest, FlagsChooseWhereTheOptionMayStand) {
  struct Case {
    const char *text;
    const char *option;
    int flags;
    int result;
    const char *out;
  };
  const Case cases[] = {
      // first word
      {"-v a  b", "-v", 1, 1, "a  b"},
      {"  -v a", "-v", 1, 1, "a"},
      {"-v", "-v", 1, 1, ""},
      {"a b -v", "-v", 1, 0, ""},
      {"a -v b", "-v", 1, 0, ""},
      // last word
      {"a b \t -v", "-v", 2, 1, "a b"},
      {"a b -v  ", "-v", 2, 1, "a b"},
      {"-v", "-v", 2, 1, ""},
      {"-v a b", "-v", 2, 0, ""},
      {"a -v b", "-v", 3, 0, ""},
      // anywhere
      {"-v a b", "-v", 4, 1, "a b"},
      {"a b -v", "-v", 4, 1, "a b"},
      {"a   c -v   b  d", "-v", 4, 1, "a c b  d"},
      {"a b c", "-v", 4, 0, ""},
      // words are compared with case folding; abbreviations only with flag 8
      {"FORCE it", "force", 1, 1, "it"},
      {"-verb x", "-verbose", 1, 0, ""},
      {"-verb x", "-verbose", 1 | word_option_abbreviate, 1, "x"},
      {"x -verb y", "-verbose", 4 | word_option_abbreviate, 1, "x y"},
      // no position allowed, nothing to look at
      {"-v", "-v", 0, 0, ""},
      {"", "-v", 4, 0, ""},
      {"  ", "-v", 4, 0, ""},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string("'") + c.text + "' " + c.option + " flags " + std::to_string(c.flags));
    bounded_text out;
    out.assign("stale");
    EXPECT_EQ(extract_option(c.text, out, c.option, c.flags), c.result);
    EXPECT_STREQ(out.c_str(), c.out);
  }
  bounded_text out;
  out.assign("stale");
  EXPECT_EQ(extract_option(nullptr, out, "-v", 4), 0);
  EXPECT_STREQ(out.c_str(), "");
  EXPECT_EQ(extract_option("-v", out, nullptr, 4), 0);
}

TEST(ExtractOptionTest, TheTextMayLiveInTheOutputBuffer) {
  bounded_text out;
  out.assign("a -v b");
  EXPECT_EQ(extract_option(out.c_str(), out, "-v", 4), 1);
  EXPECT_STREQ(out.c_str(), "a b");
  EXPECT_EQ(extract_option(out.c_str(), out, "-v", 4), 0);
  EXPECT_STREQ(out.c_str(), "a b");
}

struct dash_case {
  const char *text;
  int found;
  const char *result;  // null: no result; "=": the text itself
};

void check_dash_case(const dash_case &c, const char *result, int found) {
  EXPECT_EQ(found, c.found);
  if (c.result == nullptr) {
    EXPECT_EQ(result, nullptr);
  } else if (std::strcmp(c.result, "=") == 0) {
    EXPECT_EQ(result, c.text);
  } else {
    EXPECT_STREQ(result, c.result);
  }
}

TEST(ExtractOptionTest, DashOptionsAreFoundAnywhereAndMayBeAbbreviated) {
  const dash_case cases[] = {
      {"install -force pkg", 1, "install pkg"},
      {"install -f pkg", 1, "install pkg"},
      {"install --force pkg", 1, "install pkg"},
      {"-force pkg", 1, "pkg"},
      {"pkg -FORCE", 1, "pkg"},
      {"-force", 1, nullptr},
      {"install pkg", 0, "="},
      {"install -x pkg", 0, "="},
      {"", 0, nullptr},
      {nullptr, 0, nullptr},
  };
  for (const dash_case &c : cases) {
    SCOPED_TRACE(c.text != nullptr ? c.text : "(null)");
    bounded_text out;
    int found = -1;
    const char *result = extract_dash_option(c.text, out, "-force", &found);
    check_dash_case(c, result, found);
  }
  bounded_text out;
  EXPECT_STREQ(extract_dash_option("a -force", out, "-force", nullptr), "a");
}

TEST(ExtractOptionTest, ForceIsALastWordOrADashOption) {
  const dash_case cases[] = {
      {"install pkg force", 1, "install pkg"},
      {"force", 1, nullptr},
      {"install -force pkg", 1, "install pkg"},
      {"force install", 0, "="},  // plain "force" only counts at the end
      {"install pkg", 0, "="},
      {"", 0, nullptr},
  };
  for (const dash_case &c : cases) {
    SCOPED_TRACE(c.text);
    bounded_text out;
    int found = -1;
    const char *result = extract_force_option(c.text, out, &found);
    check_dash_case(c, result, found);
  }
}

TEST(ExtractOptionTest, RemoveWordsTakesOutOneOccurrenceOfEachListedWord) {
  struct Case {
    const char *text;
    const char *words;
    const char *out;
    int removed;
  };
  const Case cases[] = {
      {"a b c d", "b d", "a c", 2}, {"a b a", "a", "b a", 1},     {"a b a", "a a", "b", 2},
      {"x A y", "a", "x y", 1},     {"a b c", "a b c", "", 3},    {"a b c", "z", "a b c", 0},
      {"a  b", "", "a  b", 0},      {"a  b", nullptr, "a  b", 0}, {nullptr, "a", "", 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string(c.text ? c.text : "(null)") + " - " + (c.words ? c.words : "(null)"));
    bounded_text out;
    EXPECT_EQ(remove_words(c.text, out, c.words), c.removed);
    EXPECT_STREQ(out.c_str(), c.out);
  }
  bounded_text out;
  out.assign("p q r");
  EXPECT_EQ(remove_words(out.c_str(), out, "q"), 1);
  EXPECT_STREQ(out.c_str(), "p r");
}

// --- wildcard_match ---

TEST(WildcardTest, StarsMatchAnyRunAndTheWholeTextMustBeUsed) {
  const std::string a_run(2000, 'a');
  std::string stars_a;
  for (int i = 0; i < 30; ++i) stars_a += "*a";
  struct Case {
    std::string text;
    std::string pattern;
    int result;
  };
  const Case cases[] = {
      {"", "", 1},
      {"", "*", 1},
      {"", "**", 1},
      {"", "a", 0},
      {"a", "", 0},
      {"abc", "abc", 1},
      {"abc", "ABC", 0},
      {"abc", "ab", 0},
      {"ab", "abc", 0},
      {"abc", "*", 1},
      {"abc", "a*", 1},
      {"abc", "*c", 1},
      {"abc", "a*c", 1},
      {"ac", "a*c", 1},
      {"abc", "a*b", 0},
      {"abcbc", "a*bc", 1},  // the star must take "bc" first, then retry
      {"aXbYc", "a*b*c", 1},
      {"abcabd", "*ab?", 0},  // "?" is an ordinary character
      {"ab?", "*ab?", 1},
      {"mississippi", "m*iss*ppi", 1},
      {"mississippi", "m*iss*ippi*x", 0},
      {"file.tar.gz", "*.gz", 1},
      {"file.tar.gz", "*.tar", 0},
      // Would take exponential time by plain recursion over the stars.
      {a_run + "b", stars_a, 0},
      {a_run, stars_a, 1},
      {a_run + "b", stars_a + "*b", 1},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE("'" + c.text.substr(0, 40) + "' ~ '" + c.pattern.substr(0, 40) + "'");
    EXPECT_EQ(wildcard_match(c.text.c_str(), c.pattern.c_str()), c.result);
  }
  EXPECT_EQ(wildcard_match(nullptr, "*"), 0);
  EXPECT_EQ(wildcard_match("a", nullptr), 0);
}

}  // namespace
