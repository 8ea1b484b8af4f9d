// Base64: the RFC 4648 vectors both ways, every byte value, and the edges where
// a destination is too small: the encoder's 5999-character text and the
// decoder's byte count.
#include "support/base64.h"

#include <gtest/gtest.h>

#include <string>

#include "support/bounded_text.h"

namespace {

const unsigned char *bytes_of(const std::string &s) {
  return reinterpret_cast<const unsigned char *>(s.data());
}

std::string encode(const std::string &bytes) {
  bounded_text text;
  EXPECT_EQ(base64_append(text, bytes_of(bytes), static_cast<int>(bytes.size())), 1);
  return std::string(text.text, text.length);
}

// Decodes into a destination of `size` bytes followed by guard bytes; fails the
// test when a guard was touched. `*result` receives base64_decode's result.
std::string decode(const char *text, int size, int *result) {
  std::string buffer(static_cast<size_t>(size) + 8, '\x5a');
  *result = base64_decode(reinterpret_cast<unsigned char *>(&buffer[0]), size, text);
  EXPECT_EQ(buffer.substr(static_cast<size_t>(size)), std::string(8, '\x5a'))
      << "written past the destination";
  return buffer.substr(0, *result > 0 ? static_cast<size_t>(*result) : 0);
}

// RFC 4648, section 10.
struct Vector {
  const char *plain;
  const char *encoded;
};
const Vector rfc_vectors[] = {
    {"", ""},
    {"f", "Zg=="},
    {"fo", "Zm8="},
    {"foo", "Zm9v"},
    {"foob", "Zm9vYg=="},
    {"fooba", "Zm9vYmE="},
    {"foobar", "Zm9vYmFy"},
};

TEST(Base64Test, RfcVectorsEncodeAndDecodeBothWays) {
  for (const Vector &v : rfc_vectors) {
    SCOPED_TRACE(v.plain);
    bounded_text text;
    text.append("x:");  // appends, never replaces
    EXPECT_EQ(base64_append_text(text, v.plain), 1);
    EXPECT_EQ(std::string(text.c_str()), std::string("x:") + v.encoded);

    int result;
    const std::string plain = decode(v.encoded, 16, &result);
    EXPECT_EQ(result, static_cast<int>(std::string(v.plain).size()));
    EXPECT_EQ(plain, v.plain);

    bounded_text decoded;
    EXPECT_EQ(base64_decode_append(decoded, v.encoded), 1);
    EXPECT_EQ(std::string(decoded.c_str()), v.plain);
  }
}

TEST(Base64Test, BinaryBytesEncodeByTheirBits) {
  const struct {
    std::string bytes;
    const char *encoded;
  } cases[] = {
      {std::string("\x00", 1), "AA=="},         {std::string("\xff", 1), "/w=="},
      {std::string("\x00\x00\x00", 3), "AAAA"}, {std::string("\xff\xff\xff", 3), "////"},
      {std::string("\xfb\xff", 2), "+/8="},     {std::string("\x00\xff\x00\xff", 4), "AP8A/w=="},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.encoded);
    EXPECT_EQ(encode(c.bytes), c.encoded);
    int result;
    EXPECT_EQ(decode(c.encoded, 8, &result), c.bytes);
    EXPECT_EQ(result, static_cast<int>(c.bytes.size()));
  }
}

TEST(Base64Test, EveryByteValueSurvivesARoundTrip) {
  std::string all;
  for (int i = 0; i < 256; ++i) all.push_back(static_cast<char>(i));
  for (size_t length : {all.size(), all.size() - 1, all.size() - 2}) {
    SCOPED_TRACE(length);
    const std::string bytes = all.substr(0, length);
    const std::string encoded = encode(bytes);
    EXPECT_EQ(encoded.size(), (length + 2) / 3 * 4);
    int result;
    EXPECT_EQ(decode(encoded.c_str(), 256, &result), bytes);
  }
}

TEST(Base64Test, EncodingStopsAt5999CharactersAndSaysSo) {
  const struct {
    int already;  // characters in the text before the append
    int bytes;    // bytes encoded
    int result;
    int length;  // of the text afterwards
  } cases[] = {
      {5995, 3, 1, 5999},                      // the last group fits exactly
      {5996, 3, 0, 5999},                      // one character short
      {5998, 1, 0, 5999}, {5999, 1, 0, 5999},  // already at the limit
      {0, 4500, 0, 5999},                      // 6000 characters of output
      {0, 4497, 1, 5996},
  };
  const std::string source(4500, '\x81');
  for (const auto &c : cases) {
    SCOPED_TRACE(std::to_string(c.already) + " + " + std::to_string(c.bytes));
    bounded_text text;
    for (int i = 0; i < c.already; ++i) text.append_char('.');
    EXPECT_EQ(base64_append(text, bytes_of(source), c.bytes), c.result);
    EXPECT_EQ(text.length, c.length);
    EXPECT_EQ(std::string(text.c_str()).size(), static_cast<size_t>(c.length));
    EXPECT_EQ(text.text[text.length], '\0');
  }
}

TEST(Base64Test, NothingToEncodeAppendsNothing) {
  bounded_text text;
  text.append("k");
  EXPECT_EQ(base64_append(text, bytes_of("abc"), 0), 1);
  EXPECT_EQ(base64_append(text, bytes_of("abc"), -5), 1);
  EXPECT_EQ(base64_append(text, nullptr, 3), 0);
  EXPECT_EQ(base64_append_text(text, nullptr), 0);
  EXPECT_STREQ(text.c_str(), "k");
}

TEST(Base64Test, ADestinationTooSmallGetsNoByteBeyondItsSize) {
  const struct {
    const char *text;
    int size;
    int result;
    const char *bytes;
  } cases[] = {
      {"Zm9vYmFy", 5, 0, ""},  // six bytes into five
      {"Zm9vYmFy", 1, 0, ""},     {"Zm9vYmFy", 0, 0, ""}, {"Zm9vYmFy", 6, 6, "foobar"},
      {"Zm9vYg==", 4, 4, "foob"},  // the "=" ends the text before the space runs out
      {"Zm9vYg", 4, 4, "foob"},    // so do the leftover bits without padding
      {"Zm9vYmFyYg", 6, 0, ""},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(std::string(c.text) + " into " + std::to_string(c.size));
    int result;
    const std::string bytes = decode(c.text, c.size, &result);
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(bytes, c.bytes);
  }
}

TEST(Base64Test, CharactersOutsideTheAlphabetCountAsZero) {
  const struct {
    const char *text;
    const char *same_as;
  } cases[] = {
      {"Z!9v", "ZA9v"},
      {"-_-_", "AAAA"},  // the URL-safe alphabet is not this one
      {"Zm 9", "ZmA9"},
      {"\xc3\xa9xy", "AAxy"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.text);
    int result, expected_result;
    const std::string bytes = decode(c.text, 8, &result);
    EXPECT_EQ(bytes, decode(c.same_as, 8, &expected_result));
    EXPECT_EQ(result, expected_result);
    EXPECT_EQ(result, 3);
  }
}

TEST(Base64Test, DecodeAppendRestoresWhatWasEncoded) {
  const std::string plain = "user:p\xc3\xa4ssw\xc3\xb6rd with blanks & symbols +/=";
  bounded_text encoded;
  ASSERT_EQ(base64_append_text(encoded, plain.c_str()), 1);
  bounded_text decoded;
  decoded.append("> ");
  EXPECT_EQ(base64_decode_append(decoded, encoded.c_str()), 1);
  EXPECT_EQ(std::string(decoded.c_str()), "> " + plain);
}

TEST(Base64Test, DecodeAppendReportsWhatATextCannotHold) {
  const struct {
    const char *name;
    std::string prefix;
    std::string source;
    std::string expected;
  } cases[] = {
      {"a zero byte ends the text", "", "YQBi", "a"},
      {"the text fills up", std::string(5998, '.'), "YWJj", std::string(5998, '.') + "a"},
      {"a full text takes nothing", std::string(5999, '.'), "YQ==", std::string(5999, '.')},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    bounded_text text;
    for (char ch : c.prefix) text.append_char(ch);
    EXPECT_EQ(base64_decode_append(text, c.source.c_str()), 0);
    EXPECT_EQ(std::string(text.c_str()), c.expected);
    EXPECT_LE(text.length, 5999);
  }
  bounded_text untouched;
  EXPECT_EQ(base64_decode_append(untouched, nullptr), 0);
  EXPECT_EQ(untouched.length, 0);
}

}  // namespace
