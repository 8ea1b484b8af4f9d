#include "support/text_utilities.h"

#include <cstdlib>
#include <cstring>
#include <functional>

#include "support/bounded_text.h"
#include "support/debug_log.h"
#include "support/words.h"

namespace {

constexpr int module_helpers = 1;
constexpr int category_error = 4;
constexpr std::size_t longest_text = bounded_text::capacity - 1;

bool is_separator(char c) { return c == ' ' || c == '\t' || c == '\n'; }

const char *skip_separators(const char *text) {
  while (is_separator(*text)) ++text;
  return text;
}

std::size_t word_length(const char *word) {
  std::size_t n = 0;
  while (word[n] != '\0' && !is_separator(word[n])) ++n;
  return n;
}

// Appends `n` characters; what does not fit is dropped and the text enters the
// full state, as bounded_text::append() does.
void append_range(bounded_text &text, const char *source, std::size_t n) {
  if (text.length >= bounded_text::full) return;
  const std::size_t room = longest_text - static_cast<std::size_t>(text.length);
  const std::size_t taken = n < room ? n : room;
  std::memcpy(text.text + text.length, source, taken);
  text.length += static_cast<int>(taken);
  text.text[text.length] = '\0';
  if (taken < n) text.length = bounded_text::full;
}

bool lies_in(const char *pointer, const bounded_text &text) {
  const std::less<const char *> before;
  return !before(pointer, text.text) && before(pointer, text.text + bounded_text::capacity);
}

void error(const char *text) { debug_message(text, category_error, module_helpers); }

char *allocate_text(std::size_t length) { return static_cast<char *>(std::malloc(length + 1)); }

// The keyword editor's three changes; each returns the reply.
const char *delete_list(char **list) {
  const bool empty = *list == nullptr || **list == '\0';
  std::free(*list);
  *list = nullptr;
  return empty ? "List is already empty." : "List deleted.";
}

const char *remove_keyword(const char *keyword, char **list) {
  char *rebuilt = allocate_text(std::strlen(*list));
  if (rebuilt == nullptr) {
    error("Error in add_remove_keyword_line(), out of memory.");
    return nullptr;
  }
  std::size_t length = 0;
  for (const char *p = skip_separators(*list); *p != '\0'; p = skip_separators(p)) {
    const std::size_t n = word_length(p);
    if (!word_equal(keyword, p)) {
      if (length > 0) rebuilt[length++] = ' ';
      std::memcpy(rebuilt + length, p, n);
      length += n;
    }
    p += n;
  }
  rebuilt[length] = '\0';
  std::free(*list);
  *list = rebuilt;
  if (length == 0) {
    std::free(rebuilt);
    *list = nullptr;
  }
  return "Keyword removed.";
}

const char *add_keyword(const char *keyword, char **list) {
  std::size_t n = word_length(keyword);
  if (n > longest_text) n = longest_text;
  const bool had_list = *list != nullptr && **list != '\0';
  const std::size_t old_length = had_list ? std::strlen(*list) : 0;
  char *added = allocate_text(n + (had_list ? 1 + old_length : 0));
  if (added == nullptr) {
    error("Error in add_remove_keyword_line(), out of memory.");
    return nullptr;
  }
  std::memcpy(added, keyword, n);
  if (had_list) {
    added[n] = ' ';
    std::memcpy(added + n + 1, *list, old_length);
    n += 1 + old_length;
  }
  added[n] = '\0';
  std::free(*list);
  *list = added;
  return "Keyword added.";
}

bool keyword_listed(const char *keyword, const char *list) {
  if (list == nullptr) return false;
  for (const char *p = skip_separators(list); *p != '\0'; p = skip_separators(p + word_length(p))) {
    if (word_equal(keyword, p)) return true;
  }
  return false;
}

// The text of extract_option's three cases, written into `out` (already clear).
void take_rest(bounded_text &out, const char *first) {
  const char *rest = next_arg(first);
  if (rest != nullptr) out.append(rest);
}

void take_all_but_last(bounded_text &out, const char *text, const char *last) {
  std::size_t n = static_cast<std::size_t>(last - text);
  while (n > 0 && (text[n - 1] == ' ' || text[n - 1] == '\t')) --n;
  append_range(out, text, n);
}

void take_all_but(bounded_text &out, const char *first, const char *match) {
  for (const char *p = first; p != match; p = next_arg(p)) {
    if (p != first) append_range(out, " ", 1);
    append_range(out, p, word_length(p));
  }
  append_range(out, " ", 1);
  out.append(next_arg(match));
}

int extract(const char *text, bounded_text &out, const char *option, int flags) {
  const char *first = skip_separators(text);
  if (*first == '\0') return 0;
  if ((flags & (option_first_word | option_any_word)) &&
      word_matches_option(first, option, flags)) {
    take_rest(out, first);
    return 1;
  }
  const char *last = last_arg(first);
  if ((flags & (option_last_word | option_any_word)) && word_matches_option(last, option, flags)) {
    take_all_but_last(out, text, last);
    return 1;
  }
  if (flags & option_any_word) {
    for (const char *p = next_arg(first); p != nullptr && p != last; p = next_arg(p)) {
      if (word_matches_option(p, option, flags)) {
        take_all_but(out, first, p);
        return 1;
      }
    }
  }
  return 0;
}

// Whether the text left by a match is empty, as the dash-option helpers see it.
const char *result_of(bounded_text &out) { return out.length > 0 ? out.text : nullptr; }

}  // namespace

char *copy_text(const char *text) {
  if (text == nullptr) return nullptr;
  const std::size_t n = std::strlen(text) + 1;
  char *copy = static_cast<char *>(std::malloc(n));
  if (copy != nullptr) std::memcpy(copy, text, n);
  return copy;
}

int safe_strcpy(char *destination, const char *source, int size) {
  if (destination == nullptr) {
    error("Error in safe_strcpy(), NULL dest.");
    return 0;
  }
  if (size <= 0) {
    error("Error in safe_strcpy(), dest too short.");
    return 0;
  }
  if (source == nullptr) {
    destination[0] = '\0';
    error("Error in safe_strcpy(), NULL src.");
    return 0;
  }
  for (int i = 0; i < size; ++i) {
    destination[i] = source[i];
    if (source[i] == '\0') return 1;
  }
  destination[size - 1] = '\0';
  debug_message_about("Error in safe_strcpy(), src overflow. String was: ->", source, "<-",
                      category_error, module_helpers);
  return 0;
}

const char *add_remove_keyword_line(const char *text, char **list) {
  if (text == nullptr || list == nullptr) {
    error("Error in add_remove_keyword_line(), null dest?");
    return nullptr;
  }
  const char *keyword = skip_separators(text);
  if (*keyword == '\0') return nullptr;
  if (word_equal(keyword, "NULL")) return delete_list(list);
  if (keyword_listed(keyword, *list)) return remove_keyword(keyword, list);
  return add_keyword(keyword, list);
}

int extract_option(const char *text, bounded_text &out, const char *option, int flags) {
  if (text == nullptr || option == nullptr) {
    out.clear();
    return 0;
  }
  if (lies_in(text, out) || lies_in(option, out)) {
    // Clearing `out` would wipe the input; work on copies and give the text
    // back when nothing matched.
    bounded_text text_copy;
    bounded_text option_copy;
    text_copy.assign(text);
    option_copy.assign(option);
    out.clear();
    if (extract(text_copy.text, out, option_copy.text, flags)) return 1;
    out = text_copy;
    return 0;
  }
  out.clear();
  return extract(text, out, option, flags);
}

const char *extract_dash_option(const char *text, bounded_text &out, const char *option,
                                int *found) {
  if (found != nullptr) *found = 0;
  if (text == nullptr || *text == '\0') return nullptr;
  if (!extract_option(text, out, option, option_any_word | word_option_abbreviate)) return text;
  if (found != nullptr) *found = 1;
  return result_of(out);
}

const char *extract_force_option(const char *text, bounded_text &out, int *found) {
  if (found != nullptr) *found = 0;
  if (text == nullptr || *text == '\0') return nullptr;
  if (extract_option(text, out, "force", option_last_word)) {
    if (found != nullptr) *found = 1;
    return result_of(out);
  }
  return extract_dash_option(text, out, "-force", found);
}

int remove_words(const char *text, bounded_text &out, const char *words) {
  bounded_text current;
  bounded_text list;
  current.assign(text != nullptr ? text : "");
  list.assign(words != nullptr ? words : "");
  int removed = 0;
  bounded_text next;
  for (const char *w = skip_separators(list.text); *w != '\0'; w = skip_separators(w)) {
    if (extract(current.text, next, w, option_any_word)) {
      current = next;
      ++removed;
    }
    next.clear();
    w += word_length(w);
  }
  out = current;
  return removed;
}

int wildcard_match(const char *text, const char *pattern) {
  if (text == nullptr || pattern == nullptr) return 0;
  // Greedy scan that remembers only the latest "*": on a mismatch it lets that
  // star take one more character and retries from there. An earlier star never
  // needs to take more, since the latest one can absorb anything it could, so
  // no further backtracking (and no exponential blow-up) is needed.
  const char *star = nullptr;
  const char *resume = nullptr;
  while (*text != '\0') {
    if (*pattern == '*') {
      star = pattern++;
      resume = text;
    } else if (*pattern == *text) {
      ++pattern;
      ++text;
    } else if (star != nullptr) {
      pattern = star + 1;
      text = ++resume;
    } else {
      return 0;
    }
  }
  while (*pattern == '*') ++pattern;
  return *pattern == '\0' ? 1 : 0;
}
