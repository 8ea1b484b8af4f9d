// String helpers: a bounded copy, a heap copy, a keyword-list editor, option
// extraction from blank-separated word lists, and a wildcard match.
//
// Words are as in support/words.h: separated by blanks, tabs and line feeds,
// compared with ASCII case folding. Results that are texts go into a caller's
// bounded_text and are cut at its 5999 characters. Reports go through
// debug_message() (category 4, module 1).
//
// Plain functions without state, safe on any thread; the buffers belong to
// the caller.
#ifndef VIRELAN_SUPPORT_TEXT_UTILITIES_H
#define VIRELAN_SUPPORT_TEXT_UTILITIES_H

class bounded_text;

// Copies `source` with its terminator into `destination` of `size` bytes. 1
// when it all fitted. Otherwise 0 with a report: a null destination or a size
// below 1 (nothing written), a null source (the destination becomes empty), or
// a source too long (its first size - 1 characters are kept, terminated).
int safe_strcpy(char *destination, const char *source, int size);

// A malloc'ed copy of `text` that the caller frees with free(); null for a
// null text or when memory runs out.
char *copy_text(const char *text);

// Edits a keyword list, a heap text (malloc) of words joined by single blanks
// or null when empty, through `list`, and returns a reply for the user:
// - first word of `text` "NULL" (any case): the list is freed and becomes null,
//   "List deleted." ("List is already empty." when it was);
// - a word the list holds: every copy of it is taken out, "Keyword removed."
//   (a list left empty becomes null);
// - another word: it goes to the front of the list (cut at 5999 characters),
//   "Keyword added.".
// Null `text` or `list` is reported and gives a null reply; so does a text
// without a word or a list that cannot be allocated, with the list unchanged.
const char *add_remove_keyword_line(const char *text, char **list);

// Flags of extract_option. word_option_abbreviate (8, words.h) may be added to
// accept abbreviations of the option.
constexpr int option_first_word = 1;
constexpr int option_last_word = 2;
constexpr int option_any_word = 4;  // first, last or any word between

// Looks for a word that matches `option` (word_matches_option, same flags) and
// puts the text without it into `out` (cleared first), returning 1:
// - as the first word: the text after it (from its next word on);
// - as the last word: the text before it, without trailing blanks and tabs;
// - as a word between: the words before it joined by single blanks, a blank,
//   and the text after it.
// 0 when nothing matched or an input is null. `text` may lie in `out`; when
// nothing matched, `out` then keeps it.
int extract_option(const char *text, bounded_text &out, const char *option, int flags);

// Looks for `option` anywhere in the text, abbreviations accepted (flags 12).
// Found: *found = 1 and the result is the text without it in `out`, or null
// when nothing is left. Not found: *found = 0 and the result is `text` itself.
// A null or empty text gives null. `found` may be null.
const char *extract_dash_option(const char *text, bounded_text &out, const char *option,
                                int *found);

// "force" as the last word, else "-force" as extract_dash_option finds it;
// results as for extract_dash_option.
const char *extract_force_option(const char *text, bounded_text &out, int *found);

// Copies `text` to `out` and then takes out, for each word of `words` in turn,
// the first occurrence of it found as extract_option (flag 4) looks. Returns
// the number of words taken out.
int remove_words(const char *text, bounded_text &out, const char *words);

// 1 when `pattern` matches the whole of `text`: "*" matches any run of
// characters (none too), every other character itself, case-sensitive. Takes
// time proportional to at most the product of the two lengths. 0 when either
// is null.
int wildcard_match(const char *text, const char *pattern);

#endif  // VIRELAN_SUPPORT_TEXT_UTILITIES_H
