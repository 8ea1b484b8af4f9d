// Helpers for the processor's fixed-size text fields (internal to http/).
#ifndef VIRELAN_HTTP_TEXT_FIELDS_H
#define VIRELAN_HTTP_TEXT_FIELDS_H

#include <cstddef>
#include <cstring>

namespace http_text {

// Copies `source` into `field`, cut to the field's size less one, and zeroes
// the rest of the field. Null copies the empty text. Returns 1 when the whole
// text fitted, 0 when it was cut.
template <std::size_t N>
int copy(char (&field)[N], const char *source) {
  std::memset(field, 0, N);
  if (source == nullptr) return 1;
  std::size_t n = strnlen(source, N);
  std::size_t taken = n < N ? n : N - 1;
  std::memcpy(field, source, taken);
  return n < N ? 1 : 0;
}

// Copies the first word of `source` (up to NUL, blank, tab or line feed), cut to
// the field. Returns 1 when the whole word fitted.
template <std::size_t N>
int copy_word(char (&field)[N], const char *source) {
  std::memset(field, 0, N);
  if (source == nullptr) return 1;
  std::size_t i = 0;
  while (source[i] != '\0' && source[i] != ' ' && source[i] != '\t' && source[i] != '\n') {
    if (i < N - 1) field[i] = source[i];
    ++i;
  }
  return i < N ? 1 : 0;
}

inline char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// 1 when `text` begins with `prefix`, ignoring ASCII case.
inline int starts_with_nocase(const char *text, const char *prefix) {
  for (; *prefix != '\0'; ++prefix, ++text)
    if (lower(*text) != lower(*prefix)) return 0;
  return 1;
}

}  // namespace http_text

#endif  // VIRELAN_HTTP_TEXT_FIELDS_H
