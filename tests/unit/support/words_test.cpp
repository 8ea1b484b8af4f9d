#include "support/words.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

namespace {

TEST(WordsTest, WordEqualComparesFirstWordsCaseFolded) {
  struct Case {
    const char *a;
    const char *b;
    int expected;
  };
  const Case cases[] = {
      {"abc", "abc\tdef", 1},   // a tab ends the word
      {"abc", "ABC", 1},        // only A-Z fold
      {"abc def", "abc\n", 1},  // blank and line feed end words too
      {"abc", "abcd", 0},
      {"abc\r", "abc", 0},  // a carriage return is an ordinary character
      {"\xC4", "\xE4", 0},  // bytes beyond ASCII do not fold
      {"", "", 1},
      {"", " x", 1},  // both first words are empty
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string(c.a) + " | " + c.b);
    EXPECT_EQ(word_equal(c.a, c.b), c.expected);
  }
  EXPECT_EQ(word_equal_nonnull(nullptr, "a"), 0);
  EXPECT_EQ(word_equal_nonnull("a", nullptr), 0);
}

TEST(WordsTest, ComparisonsGiveUpAfter400Characters) {
  const std::string w399(399, 'k');
  const std::string w400(400, 'k');
  const std::string w401(401, 'k');
  EXPECT_EQ(word_equal(w399.c_str(), w399.c_str()), 1);
  EXPECT_EQ(word_equal(w400.c_str(), w400.c_str()), 0);
  EXPECT_EQ(word_equal(w401.c_str(), w401.c_str()), 0);
  EXPECT_EQ(word_in_list(w401.c_str(), w401.c_str()), 0);
  EXPECT_EQ(word_prefix_length(w399.c_str(), w401.c_str()), 399);
  EXPECT_EQ(word_prefix_length(w400.c_str(), w401.c_str()), 0);
}

TEST(WordsTest, WordInListMatchesOptionsAsTheCommandLineNeeds) {
  struct Case {
    const char *word;
    const char *list;
    int expected;
  };
  const Case cases[] = {
      {"-h", "-h --help", 1},     {"-H", "-h --help", 1},
      {"--HELP", "-h --help", 1}, {"--helpme", "-h --help", 0},
      {"-hx", "-h --help", 0},    {"-h extra words", "-h --help", 1},  // only the first word counts
      {"", "-h --help", 0},       {"-b", "-h\t--help\n-b", 1},
      {"--help", " --help", 0},  // the list's start is compared as it is
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string(c.word) + " in " + c.list);
    EXPECT_EQ(word_in_list(c.word, c.list), c.expected);
  }
  EXPECT_EQ(word_in_list(nullptr, "-h"), 0);
}

TEST(WordsTest, WordPrefixLengthMeasuresTheMatchingWord) {
  EXPECT_EQ(word_prefix_length("content-length:", "Content-Length: 12"), 15);
  EXPECT_EQ(word_prefix_length("abc", "ab"), 0);
  EXPECT_EQ(word_prefix_length("ab", "abc"), 2);
  EXPECT_EQ(word_prefix_length("a", "b"), 0);
  EXPECT_EQ(word_prefix_length("", ""), 0);
  EXPECT_EQ(word_prefix_length(nullptr, "x"), 0);
  EXPECT_EQ(word_prefix_length("x", nullptr), 0);
}

TEST(WordsTest, NextArgStepsFromWordToWord) {
  const char *text = "-v  \t-b\n--unbeta ";
  const char *second = next_arg(text);
  ASSERT_NE(second, nullptr);
  EXPECT_STREQ(second, "-b\n--unbeta ");
  const char *third = next_arg(second);
  ASSERT_NE(third, nullptr);
  EXPECT_STREQ(third, "--unbeta ");
  EXPECT_EQ(next_arg(third), nullptr);
  EXPECT_EQ(next_arg("-b"), nullptr);
  EXPECT_EQ(next_arg("   \t "), nullptr);
  EXPECT_EQ(next_arg(""), nullptr);
  EXPECT_STREQ(next_arg("  a b"), "b");  // leading blanks are skipped first

  EXPECT_STREQ(next_arg_eol("a b\nc"), "b\nc");
  EXPECT_EQ(next_arg_eol("a\nb"), nullptr);  // a line feed ends the text
  EXPECT_STREQ(last_arg("one two  three"), "three");
  EXPECT_STREQ(last_arg("one"), "one");
}

TEST(WordsTest, ParseIntegerAcceptsOnlyTextThatStartsLikeAnInteger) {
  struct Case {
    const char *text;
    int result;
    int value;  // expected in `out` when result is 1; `out` starts at 77
  };
  const Case cases[] = {
      {"12", 1, 12},
      {"-5x", 1, -5},
      {"+7", 1, 7},
      {"+x", 1, 0},
      {"-x", 0, 77},
      {" 5", 0, 77},  // no leading blanks
      {"", 0, 77},
      {"x1", 0, 77},
      {"99999999999999999999", 1, INT_MAX},  // saturates instead of wrapping
      {"-99999999999999999999", 1, INT_MIN},
      {"4294967297", 1, INT_MAX},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.text);
    int value = 77;
    EXPECT_EQ(parse_integer(c.text, &value), c.result);
    EXPECT_EQ(value, c.value);
  }
  EXPECT_EQ(parse_integer(nullptr, nullptr), 0);
  EXPECT_EQ(parse_integer("3", nullptr), 1);
}

TEST(WordsTest, AbbreviationsAndListQueries) {
  EXPECT_EQ(word_abbreviation_length("ver", "verbose", 0), 3);
  EXPECT_EQ(word_abbreviation_length("v", "verbose", 2), 0);  // too short: exact only
  EXPECT_EQ(word_abbreviation_length("v", "v", 2), 1);
  EXPECT_EQ(word_abbreviation_length("verx", "verbose", 0), 0);
  EXPECT_EQ(word_abbreviation_length("verbose", "verb", 0), 0);

  EXPECT_EQ(list_has_word_with_prefix("alpha beta", "bet"), 1);
  EXPECT_EQ(list_has_word_with_prefix("alpha beta", "gam"), 0);
  EXPECT_EQ(list_has_all_prefixes("alpha beta gamma", "al ga"), 1);
  EXPECT_EQ(list_has_all_prefixes("alpha beta", "al ga"), 0);
  EXPECT_EQ(list_has_abbreviation("be", "alpha beta", 2), 1);
  EXPECT_EQ(list_contains_word("alpha beta", "BETA"), 1);
  EXPECT_EQ(list_contains_word("alpha beta", "bet"), 0);
  EXPECT_EQ(list_contains_all_words("alpha beta gamma", "gamma alpha"), 1);
  EXPECT_EQ(list_contains_all_words("alpha beta", "gamma alpha"), 0);
}

TEST(WordsTest, OptionMatching) {
  EXPECT_EQ(word_matches_option("--verbose", "-verbose", 0), 1);  // one extra dash
  EXPECT_EQ(word_matches_option("-verbose", "-verbose", 0), 1);
  EXPECT_EQ(word_matches_option("-verb", "-verbose", word_option_abbreviate), 1);
  EXPECT_EQ(word_matches_option("-verb", "-verbose", 0), 0);
  EXPECT_EQ(word_matches_option("ver", "verbose", word_option_abbreviate), 1);
  EXPECT_EQ(word_matches_option("ver", "verbose", 0), 0);
  EXPECT_EQ(word_matches_option("", "-v", 0), 0);

  EXPECT_EQ(option_equal("-verb", "verbose"), 1);  // one dash for a bare option
  EXPECT_EQ(option_equal("--verb", "verbose"), 0);
  EXPECT_EQ(option_equal("--verb", "--verbose"), 1);
  EXPECT_EQ(option_equal("-Verb", "verbose"), 0);  // case matters here
  EXPECT_EQ(option_equal("-verbosely", "verbose"), 0);
  EXPECT_EQ(option_equal("-verbose extra", "verbose"), 1);
}

}  // namespace
