// Argument transliteration: the spelling table, the UTF-8 decoder, whole arguments as the toolkit
// hands them over, and the length limits of the bounded output.
#include "launcher/transliteration.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>
#include <wx/debug.h>
#include <wx/string.h>

#include <cstring>
#include <string>

#include "support/words.h"

namespace {

bool is_printable_ascii(const char *text) {
  for (const char *p = text; *p != '\0'; ++p) {
    if (*p < 32 || *p > 126) return false;
  }
  return true;
}

// --- The spelling table -------------------------------------------------------------------------

TEST(AsciiTransliterationTest, HasExactly643ShortPrintableSpellings) {
  int entries = 0;
  // The decoder yields values up to 0x1FFFFF, beyond the last Unicode code point.
  for (std::uint32_t c = 0; c <= 0x1FFFFF; ++c) {
    const char *text = ascii_transliteration(c);
    if (text == nullptr) continue;
    ++entries;
    SCOPED_TRACE(testing::Message() << "U+" << std::hex << c);
    EXPECT_GE(c, 0x80u);
    EXPECT_LE(c, 0x2122u);
    const std::size_t n = std::strlen(text);
    EXPECT_GE(n, 1u);
    EXPECT_LE(n, 5u);
    EXPECT_TRUE(is_printable_ascii(text)) << text;
  }
  EXPECT_EQ(entries, 643);
  EXPECT_EQ(ascii_transliteration(0xFFFFFFFFu), nullptr);
}

TEST(AsciiTransliterationTest, SpellsKnownCodePointsAndLeavesGapsEmpty) {
  struct spot_check {
    std::uint32_t c;
    const char *expected;  // null: no entry
  };
  const spot_check cases[] = {
      {0x007F, nullptr},  {0x0080, "EU"},    {0x0081, " "},     {0x0085, "..."},
      {0x0093, "\""},     {0x0099, "TM"},    {0x009F, "Y"},     {0x00A0, " "},
      {0x00A5, "YEN"},    {0x00A9, "(C)"},   {0x00AB, "<<"},    {0x00B9, "^1"},
      {0x00BC, "1/4"},    {0x00C4, "Ae"},    {0x00C6, "AE"},    {0x00D7, "x"},
      {0x00DF, "ss"},     {0x00F7, "/"},     {0x00FC, "ue"},    {0x00FF, "y"},
      {0x0132, "IJ"},     {0x0152, "OE"},    {0x01AA, nullptr}, {0x01C2, nullptr},
      {0x01C4, "DZ"},     {0x01C5, "Dz"},    {0x01C6, "dz"},    {0x023F, "s"},
      {0x0240, nullptr},  {0x02AF, nullptr}, {0x02B0, "h"},     {0x02B5, nullptr},
      {0x02BA, "\""},     {0x0308, ".."},    {0x035A, "(inf)"}, {0x0360, nullptr},
      {0x036F, nullptr},  {0x037E, ";"},     {0x0384, "'"},     {0x0385, nullptr},
      {0x03B1, nullptr},  {0x04CF, nullptr}, {0x04D4, "AE"},    {0x04D7, "e"},
      {0x04D8, nullptr},  {0x04E6, "O"},     {0x04E7, "o"},     {0x04E8, nullptr},
      {0x200F, nullptr},  {0x2010, "-"},     {0x2013, "-"},     {0x201C, "\""},
      {0x2026, "..."},    {0x2030, "%."},    {0x203C, "!!"},    {0x2047, "??"},
      {0x205A, ":"},      {0x205B, nullptr}, {0x20A4, "L"},     {0x20AC, "EU"},
      {0x2122, "TM"},     {0x2123, nullptr}, {0xFFFD, nullptr}, {0x1F600, nullptr},
      {0x10FFFF, nullptr}};
  for (const spot_check &check : cases) {
    SCOPED_TRACE(testing::Message() << "U+" << std::hex << check.c);
    const char *text = ascii_transliteration(check.c);
    if (check.expected == nullptr) {
      EXPECT_EQ(text, nullptr) << text;
    } else {
      ASSERT_NE(text, nullptr);
      EXPECT_STREQ(text, check.expected);
    }
  }
}

// --- The decoder --------------------------------------------------------------------------------

TEST(DecodeUtf8CharTest, DecodesOneSequenceAndResumesWhereItBroke) {
  struct decode_case {
    const char *name;
    const char *bytes;
    std::uint32_t code_point;
    int consumed;
  };
  const decode_case cases[] = {
      {"ASCII", "Az", 0x41, 1},
      {"two bytes", "\xC3\xBC\xBC", 0xFC, 2},
      {"three bytes", "\xE2\x82\xAC\x80", 0x20AC, 3},
      {"four bytes", "\xF0\x9F\x98\x80\x80", 0x1F600, 4},
      {"two-byte lead before ASCII",
       "\xC3"
       "A",
       0x03, 1},
      {"three-byte lead before ASCII",
       "\xE2"
       "A",
       0x02, 1},
      {"three bytes cut after one",
       "\xE2\x82"
       "A",
       0x82, 2},
      {"four bytes cut after two",
       "\xF0\x9F\x98"
       "A",
       0x7D8, 3},
      {"lead byte after a lead byte", "\xC3\xC3\xBC", 0x03, 1},
      {"lone continuation byte",
       "\x80"
       "A",
       0x00, 1},
      {"last continuation byte", "\xBF", 0x3F, 1},
      {"0xF8", "\xF8\x80", '.', 1},
      {"0xFF", "\xFF\x80", '.', 1},
      {"overlong slash", "\xC0\xAF", 0x2F, 2},
      {"surrogate", "\xED\xA0\x80", 0xD800, 3},
      {"beyond U+10FFFF", "\xF4\x90\x80\x80", 0x110000, 4},
      {"largest four-byte value", "\xF7\xBF\xBF\xBF", 0x1FFFFF, 4},
  };
  for (const decode_case &test : cases) {
    SCOPED_TRACE(test.name);
    std::uint32_t c = 12345;
    const char *next = decode_utf8_char(test.bytes, &c);
    EXPECT_EQ(c, test.code_point);
    EXPECT_EQ(next, test.bytes + test.consumed);
  }
}

TEST(DecodeUtf8CharTest, ReturnsNullAtTheEnd) {
  std::uint32_t c = 12345;
  EXPECT_EQ(decode_utf8_char("", &c), nullptr);
  EXPECT_EQ(c, 0u);
  c = 12345;
  EXPECT_EQ(decode_utf8_char(nullptr, &c), nullptr);
  EXPECT_EQ(c, 0u);
}

// Places a string so that its NUL is the last readable byte before an inaccessible page: a
// decoder that looks one byte past the NUL crashes instead of passing by luck.
class GuardedStringTest : public testing::Test {
 protected:
  void SetUp() override {
    page_ = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    void *map =
        mmap(nullptr, 2 * page_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(map, MAP_FAILED);
    base_ = static_cast<char *>(map);
    ASSERT_EQ(mprotect(base_ + page_, page_, PROT_NONE), 0);
  }
  void TearDown() override {
    if (base_ != nullptr) munmap(base_, 2 * page_);
  }

  const char *place(const char *bytes) {
    const std::size_t n = std::strlen(bytes) + 1;
    char *at = base_ + page_ - n;
    std::memcpy(at, bytes, n);
    return at;
  }

  std::size_t page_ = 0;
  char *base_ = nullptr;
};

TEST_F(GuardedStringTest, TruncatedSequenceStopsAtTheNul) {
  const char *const truncated[] = {"\xC3", "\xE2", "\xE2\x82", "\xF0", "\xF0\x9F", "\xF0\x9F\x98"};
  for (const char *bytes : truncated) {
    const char *s = place(bytes);
    const char *nul = s + std::strlen(bytes);
    std::uint32_t c = 0;
    EXPECT_EQ(decode_utf8_char(s, &c), nul);
    EXPECT_EQ(decode_utf8_char(nul, &c), nullptr);
  }
}

TEST_F(GuardedStringTest, WholeWalkOverMalformedTailStaysInBounds) {
  bounded_text out;
  transliterate_utf8(place("ok\xF0\x9F\x98"), out);
  EXPECT_STREQ(out.c_str(), "ok.");
}

// --- Raw bytes ----------------------------------------------------------------------------------

TEST(TransliterateUtf8Test, MalformedBytesBecomeDotsOrEndTheText) {
  struct byte_case {
    const char *name;
    const char *bytes;
    const char *expected;
  };
  const byte_case cases[] = {
      {"lead byte at the end", "\xC3", "."},
      {"lead byte before ASCII",
       "a\xC3"
       "b",
       "a.b"},
      {"0xFF",
       "\xFF"
       "x",
       ".x"},
      {"valid then truncated", "\xC3\xA9\xC3", "e."},
      {"surrogate", "\xED\xA0\x80", "."},
      {"beyond U+10FFFF", "\xF4\x90\x80\x80", "."},
      // A decoded value of 0 ends the text as a NUL would.
      {"lone 0x80",
       "ab\x80"
       "cd",
       "ab"},
      {"overlong NUL",
       "ab\xC0\x80"
       "cd",
       "ab"},
  };
  for (const byte_case &test : cases) {
    SCOPED_TRACE(test.name);
    bounded_text out;
    transliterate_utf8(test.bytes, out);
    EXPECT_STREQ(out.c_str(), test.expected);
  }
}

TEST(TransliterateUtf8Test, NullTextAppendsNothing) {
  bounded_text out;
  out.assign("kept");
  transliterate_utf8(nullptr, out);
  EXPECT_STREQ(out.c_str(), "kept");
  EXPECT_EQ(out.length, 4);
}

// --- Whole arguments ----------------------------------------------------------------------------

struct argument_case {
  const char *name;
  const wchar_t *argument;
  const char *expected;
};

class TransliterateArgumentTest : public testing::TestWithParam<argument_case> {};

TEST_P(TransliterateArgumentTest, BecomesItsAsciiForm) {
  const argument_case &test = GetParam();
  const wxString argument(test.argument);
  bounded_text out;
  transliterate_argument(argument, out);
  EXPECT_STREQ(out.c_str(), test.expected);
  EXPECT_EQ(out.length, static_cast<int>(std::strlen(test.expected)));
  // The wide form follows the same rules.
  EXPECT_EQ(transliterate_to_wide(argument), wxString::FromAscii(test.expected));
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, TransliterateArgumentTest,
    testing::Values(
        argument_case{"plain_option", L"--verbose", "--verbose"},
        argument_case{"umlaut_spelt_out", L"M\u00FCller", "Mueller"},
        argument_case{"ligature_and_slashed_o", L"\u00C6r\u00F8sk\u00F8bing", "AEroskobing"},
        argument_case{"accents_dropped", L"na\u00EFve caf\u00E9", "naive cafe"},
        argument_case{"euro_sign", L"\u20AC", "EU"}, argument_case{"ellipsis", L"\u2026", "..."},
        argument_case{"no_break_space", L"\u00A0", " "},
        argument_case{"greek_word_one_dot_per_letter",
                      L"\u03BA\u03B1\u03BB\u03B7\u03BC\u03AD\u03C1\u03B1", "........"},
        argument_case{"cyrillic_look_alikes", L"\u041C\u04D0\u04E7", ".Ao"},
        argument_case{"emoji", L"x\U0001F600y", "x.y"},
        argument_case{"tab_line_feed_return_kept", L"a\tb\nc\rd", "a\tb\nc\rd"},
        argument_case{"escape_and_delete", L"\x1B[0m\x7F", ".[0m."},
        argument_case{"en_dash_option", L"\u2013b", "-b"}, argument_case{"empty", L"", ""}),
    [](const testing::TestParamInfo<argument_case> &info) { return std::string(info.param.name); });

TEST(TransliterateArgumentTest, EnDashOptionIsMatchedAsTheBetaOption) {
  bounded_text out;
  transliterate_argument(wxString(L"\u2013b"), out);
  EXPECT_EQ(word_in_list(out.c_str(), "-b --beta"), 1);
}

TEST(TransliterateArgumentTest, AppendsToWhatTheBufferHolds) {
  bounded_text out;
  out.assign("name=");
  transliterate_argument(wxString(L"J\u00FCrgen"), out);
  EXPECT_STREQ(out.c_str(), "name=Juergen");
}

TEST(TransliterateArgumentTest, EmbeddedNulEndsTheArgument) {
  const wchar_t chars[] = {L'a', L'b', L'\0', L'c', L'd'};
  const wxString argument(chars, 5);
  ASSERT_EQ(argument.length(), 5u);
  bounded_text out;
  transliterate_argument(argument, out);
  EXPECT_STREQ(out.c_str(), "ab");
  EXPECT_EQ(transliterate_to_wide(argument), wxString("ab"));
}

// A wide character above U+10FFFF has no UTF-8 form; the toolkit's encoder refuses the whole
// string (and asserts, which this test silences).
TEST(TransliterateArgumentTest, ArgumentTheToolkitCannotEncodeCountsAsEmpty) {
  const wchar_t chars[] = {L'a', static_cast<wchar_t>(0x110000), L'b'};
  const wxString argument(chars, 3);
  const wxAssertHandler_t saved = wxSetAssertHandler(nullptr);
  bounded_text out;
  out.assign("kept");
  transliterate_argument(argument, out);
  const wxString wide = transliterate_to_wide(argument);
  wxSetAssertHandler(saved);
  EXPECT_STREQ(out.c_str(), "kept");
  EXPECT_EQ(out.length, 4);
  EXPECT_TRUE(wide.empty());
}

// --- Length limits ------------------------------------------------------------------------------

TEST(TransliterationLimitTest, LongArgumentKeepsItsFirst5999Characters) {
  std::string expected;
  wxString argument;
  for (int i = 0; i < 7000; ++i) {
    const char c = static_cast<char>('a' + i % 26);
    expected += c;
    argument += c;
  }
  bounded_text out;
  transliterate_argument(argument, out);
  // Single characters stop at 5999 without putting the buffer into its full state.
  EXPECT_EQ(out.length, 5999);
  EXPECT_EQ(std::string(out.c_str()), expected.substr(0, 5999));
}

TEST(TransliterationLimitTest, SpellingsFillTheBufferAndSingleCharactersAreThenRefused) {
  struct limit_case {
    const char *name;
    int leading;            // ASCII 'a's before the tail
    const wchar_t *tail;    // appended to the argument after them
    int length;             // `length` afterwards: 5999, or 6000 for the full state
    const char *ends_with;  // the end of the content
  };
  const limit_case cases[] = {
      {"spelling cut short", 5997, L"\u2026b", bounded_text::full, "a.."},
      {"spelling fits exactly", 5997, L"\u00DFb", 5999, "ass"},
      {"spelling on a buffer at 5999", 5999, L"\u00E9b", bounded_text::full, "aa"},
      {"single characters stop at 5999", 5998, L"bc", 5999, "ab"},
  };
  for (const limit_case &test : cases) {
    SCOPED_TRACE(test.name);
    wxString argument(wxT('a'), static_cast<std::size_t>(test.leading));
    argument += test.tail;
    bounded_text out;
    transliterate_argument(argument, out);
    EXPECT_EQ(out.length, test.length);
    const std::string content(out.c_str());
    ASSERT_EQ(content.size(), 5999u);
    const std::string end(test.ends_with);
    EXPECT_EQ(content.substr(content.size() - end.size()), end);
  }
}

TEST(TransliterationLimitTest, WideFormHasNoLengthLimit) {
  wxString argument;
  for (int i = 0; i < 4000; ++i) argument += wxUniChar(0x00DC);  // "Ue" each
  argument += wxT("!");
  const wxString wide = transliterate_to_wide(argument);
  ASSERT_EQ(wide.length(), 8001u);
  EXPECT_EQ(wide.substr(0, 4), wxString("UeUe"));
  EXPECT_EQ(wide.Last(), wxUniChar('!'));

  bounded_text out;
  transliterate_argument(argument, out);
  EXPECT_EQ(out.length, bounded_text::full);
  EXPECT_EQ(wide.substr(0, 5999), wxString::FromAscii(out.c_str()));
}

}  // namespace
