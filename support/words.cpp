#include "support/words.h"

#include <cerrno>
#include <climits>
#include <cstdlib>

#include "support/debug_log.h"

namespace {

inline bool is_separator(char c) { return c == ' ' || c == '\t' || c == '\n'; }
inline bool ends_word(char c) { return c == '\0' || is_separator(c); }

inline char fold(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// The comparison form of a character: folded, with word ends turned into NUL.
inline char compare_form(char c) { return ends_word(c) ? '\0' : fold(c); }

inline bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Length of the first word of `text`, or word_compare_limit when it is longer.
int word_length(const char *text) {
  int n = 0;
  while (n < word_compare_limit && !ends_word(text[n])) ++n;
  return n;
}

}  // namespace

int word_equal(const char *a, const char *b) {
  for (int i = 0; i < word_compare_limit; ++i) {
    const char ca = compare_form(a[i]);
    const char cb = compare_form(b[i]);
    if (ca != cb) return 0;
    if (ca == '\0') return 1;
  }
  return 0;
}

int word_equal_nonnull(const char *a, const char *b) {
  if (a == nullptr || b == nullptr) return 0;
  return word_equal(a, b);
}

int word_in_list(const char *word, const char *list) {
  if (word == nullptr || list == nullptr) return 0;
  for (const char *p = list; p != nullptr; p = next_arg(p)) {
    if (word_equal(word, p)) return 1;
  }
  return 0;
}

int word_prefix_length(const char *word, const char *text) {
  if (word == nullptr || text == nullptr) return 0;
  if (fold(word[0]) != fold(text[0])) return 0;
  // An empty word has nothing to be a prefix of; looking further would read
  // past its end.
  if (word[0] == '\0') return 0;
  for (int i = 1; i < word_compare_limit; ++i) {
    if (ends_word(word[i])) return i;
    if (fold(word[i]) != fold(text[i])) return 0;
  }
  return 0;
}

const char *next_arg(const char *text) {
  if (text == nullptr) {
    debug_message("Error in next_arg(), NULL pointer passed in.", 256, 1);
    return nullptr;
  }
  const char *p = text;
  while (is_separator(*p)) ++p;
  if (*p == '\0') return nullptr;
  while (!ends_word(*p)) ++p;
  while (is_separator(*p)) ++p;
  return *p == '\0' ? nullptr : p;
}

const char *next_arg_eol(const char *text) {
  if (text == nullptr) {
    debug_message("Error in next_arg_eol(), NULL pointer passed in.", 256, 1);
    return nullptr;
  }
  const char *p = text;
  while (*p == ' ') ++p;
  if (*p == '\0' || *p == '\n') return nullptr;
  while (*p != '\0' && *p != ' ' && *p != '\n') ++p;
  while (*p == ' ') ++p;
  return (*p == '\0' || *p == '\n') ? nullptr : p;
}

const char *last_arg(const char *text) {
  if (text == nullptr) {
    debug_message("Error in last_arg(), NULL pointer passed in.", 256, 1);
    return nullptr;
  }
  const char *last = text;
  for (const char *p = next_arg(text); p != nullptr; p = next_arg(p)) last = p;
  return last;
}

int parse_integer(const char *text, int *out) {
  if (text == nullptr) return 0;
  const char c = text[0];
  if (!(is_digit(c) || c == '+' || (c == '-' && is_digit(text[1])))) return 0;
  errno = 0;
  long value = std::strtol(text, nullptr, 10);
  // long is wider than int here; saturate like the conversion does where the two
  // are the same size, instead of keeping the low bits of a huge number.
  if (value > INT_MAX) value = INT_MAX;
  if (value < INT_MIN) value = INT_MIN;
  if (out != nullptr) *out = static_cast<int>(value);
  return 1;
}

int word_abbreviation_length(const char *abbreviation, const char *word, int minimum) {
  if (abbreviation == nullptr || word == nullptr) return 0;
  const int length = word_length(abbreviation);
  if (length == 0 || length >= word_compare_limit) return 0;
  for (int i = 0; i < length; ++i) {
    if (fold(abbreviation[i]) != fold(word[i]) || ends_word(word[i])) return 0;
  }
  if (minimum > 0 && length < minimum && !ends_word(word[length])) return 0;
  return length;
}

int list_has_word_with_prefix(const char *list, const char *word) {
  if (list == nullptr || word == nullptr) return 0;
  for (const char *p = list; p != nullptr; p = next_arg(p)) {
    if (word_prefix_length(word, p)) return 1;
  }
  return 0;
}

int list_has_all_prefixes(const char *list, const char *words) {
  if (list == nullptr || words == nullptr) return 0;
  for (const char *w = words; w != nullptr; w = next_arg(w)) {
    if (!list_has_word_with_prefix(list, w)) return 0;
  }
  return 1;
}

int list_has_abbreviation(const char *abbreviation, const char *list, int minimum) {
  if (abbreviation == nullptr || list == nullptr) return 0;
  for (const char *p = list; p != nullptr; p = next_arg(p)) {
    if (word_abbreviation_length(abbreviation, p, minimum)) return 1;
  }
  return 0;
}

int list_contains_word(const char *list, const char *word) { return word_in_list(word, list); }

int list_contains_all_words(const char *list, const char *words) {
  if (list == nullptr || words == nullptr) return 0;
  for (const char *w = words; w != nullptr; w = next_arg(w)) {
    if (!word_in_list(w, list)) return 0;
  }
  return 1;
}

int word_matches_option(const char *word, const char *option, int flags) {
  if (word == nullptr || option == nullptr) return 0;
  if (option[0] == '-') {
    if (word[0] != '\0' && word_equal(word + 1, option)) return 1;
    if (flags & word_option_abbreviate) return word_abbreviation_length(word, option, 2) ? 1 : 0;
    return word_equal(word, option);
  }
  if (flags & word_option_abbreviate) return word_prefix_length(word, option) ? 1 : 0;
  return word_equal(word, option);
}

int option_equal(const char *a, const char *b) {
  if (a == nullptr || b == nullptr) return 0;
  int dashes = 0;
  while (dashes < word_compare_limit && b[dashes] == '-') ++dashes;
  const int wanted = dashes == 0 ? 1 : dashes;
  for (int i = 0; i < wanted; ++i) {
    if (a[i] != '-') return 0;
  }
  if (a[wanted] == '-') return 0;
  const char *pa = a + wanted;
  const char *pb = b + dashes;
  for (int i = 0; i < word_compare_limit; ++i) {
    if (pa[i] == '\0' || pa[i] == ' ') return 1;
    if (pa[i] != pb[i]) return 0;
  }
  return 0;
}
