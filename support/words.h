// Word scanning and matching over blank-separated texts.
//
// A word ends at NUL, blank, tab or line feed (a carriage return is an ordinary
// character). Only the ASCII letters A-Z are folded to lower case, and every
// comparison gives up after 400 characters: two words that agree on their first
// 400 characters count as different. None of these functions allocates or
// modifies its input; all are safe to call from any thread.
#ifndef VIRELAN_SUPPORT_WORDS_H
#define VIRELAN_SUPPORT_WORDS_H

// Longest stretch any comparison looks at.
constexpr int word_compare_limit = 400;

// 1 when the first word of `a` equals the first word of `b` (case folded).
// Neither may be null.
int word_equal(const char *a, const char *b);
// word_equal, or 0 when either is null.
int word_equal_nonnull(const char *a, const char *b);
// 1 when the first word of `word` equals one of the words of `list`.
int word_in_list(const char *word, const char *list);
// The length of the first word of `word` when `text` begins with it (case
// folded), else 0. `text` may go on with anything.
int word_prefix_length(const char *word, const char *text);
// The start of the word after the first one, or null when there is none.
const char *next_arg(const char *text);
// Like next_arg, but only blanks separate words and a line feed ends the text.
const char *next_arg_eol(const char *text);
// The start of the last word (the text itself when there is only one).
const char *last_arg(const char *text);
// 1 when the text starts like a decimal integer ("12", "-3", "+7"); the value,
// read like strtol and saturated to the range of int, goes to `out` if given.
int parse_integer(const char *text, int *out);

// The same family, for command and keyword matching elsewhere.
int word_abbreviation_length(const char *abbreviation, const char *word, int minimum);
int list_has_word_with_prefix(const char *list, const char *word);
int list_has_all_prefixes(const char *list, const char *words);
int list_has_abbreviation(const char *abbreviation, const char *list, int minimum);
int list_contains_word(const char *list, const char *word);
int list_contains_all_words(const char *list, const char *words);
// Flag for word_matches_option: accept abbreviations (a prefix of two or more
// characters) instead of the whole word.
constexpr int word_option_abbreviate = 8;
int word_matches_option(const char *word, const char *option, int flags);
int option_equal(const char *a, const char *b);

#endif  // VIRELAN_SUPPORT_WORDS_H
