#include "support/base64.h"

#include <cstring>

#include "support/bounded_text.h"

namespace {

const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int value_of(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return 0;
}

// Appends one encoded character; 0 once the text is at its limit.
int put(bounded_text &text, char c) {
  if (text.length >= bounded_text::capacity - 1) return 0;
  text.append_char(c);
  return 1;
}

}  // namespace

int base64_append(bounded_text &text, const unsigned char *bytes, int length) {
  if (bytes == nullptr) return 0;
  for (int i = 0; i < length; i += 3) {
    unsigned group = static_cast<unsigned>(bytes[i]) << 16;
    int n = length - i < 3 ? length - i : 3;
    if (n > 1) group |= static_cast<unsigned>(bytes[i + 1]) << 8;
    if (n > 2) group |= bytes[i + 2];
    char out[4] = {alphabet[(group >> 18) & 63], alphabet[(group >> 12) & 63],
                   n > 1 ? alphabet[(group >> 6) & 63] : '=', n > 2 ? alphabet[group & 63] : '='};
    for (char c : out)
      if (!put(text, c)) return 0;
  }
  return 1;
}

int base64_append_text(bounded_text &text, const char *source) {
  if (source == nullptr) return 0;
  size_t n = std::strlen(source);
  if (n > 0x7fffffff) n = 0x7fffffff;
  return base64_append(text, reinterpret_cast<const unsigned char *>(source), static_cast<int>(n));
}

namespace {

// The decoder behind both entry points: bytes written, with `*cut` set when the
// destination filled before the text ended.
int decode(unsigned char *destination, int size, const char *text, bool *cut) {
  *cut = false;
  int written = 0;
  unsigned bits = 0;
  int bit_count = 0;
  for (const char *p = text; *p != '\0' && *p != '='; ++p) {
    bits = ((bits << 6) | static_cast<unsigned>(value_of(*p))) & 0xffffu;
    bit_count += 6;
    if (bit_count < 8) continue;
    bit_count -= 8;
    if (written >= size) {
      *cut = true;
      return written;
    }
    destination[written++] = static_cast<unsigned char>((bits >> bit_count) & 0xff);
  }
  return written;
}

}  // namespace

int base64_decode(unsigned char *destination, int size, const char *text) {
  if (destination == nullptr || text == nullptr) return 0;
  bool cut;
  int written = decode(destination, size, text, &cut);
  return cut ? 0 : written;
}

int base64_decode_append(bounded_text &text, const char *source) {
  if (source == nullptr) return 0;
  unsigned char bytes[bounded_text::capacity];
  bool cut;
  int count = decode(bytes, static_cast<int>(sizeof bytes), source, &cut);
  for (int i = 0; i < count; ++i) {
    // A text cannot hold a zero byte; what follows one is lost, so it counts as cut.
    if (bytes[i] == 0 || text.length >= bounded_text::capacity - 1) return 0;
    text.append_char(static_cast<char>(bytes[i]));
  }
  return cut ? 0 : 1;
}
