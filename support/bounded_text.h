// bounded_text: a fixed 6000-byte text buffer with a length, used for every
// path, file name and message the launcher assembles.
//
// Appends never write outside the array and never allocate: text that does not
// fit is dropped. The content is at most 5999 characters and is always NUL
// terminated. `length` is 0..5999, or 6000 (`bounded_text::full`) once an
// append() ran out of room; the content then holds exactly 5999 characters.
// append_char() has a stricter limit: it never produces the full state, so a
// buffer holding 5999 characters refuses single characters silently.
//
// A bounded_text is a plain value owned by whoever declares it; it has no lock
// and belongs to one thread at a time. Its destructor overwrites the content
// with "dead" so that a buffer read after its lifetime (a process-wide path
// during exit, say) shows that instead of a stale value.
#ifndef VIRELAN_SUPPORT_BOUNDED_TEXT_H
#define VIRELAN_SUPPORT_BOUNDED_TEXT_H

#include <cstddef>
#include <cstring>

class bounded_text {
 public:
  static constexpr int capacity = 6000;  // bytes, terminator included
  static constexpr int full = 6000;      // `length` after an append ran out of room

  bounded_text() : length(0) { text[0] = '\0'; }
  bounded_text(const bounded_text &other) = default;
  bounded_text &operator=(const bounded_text &other) = default;
  ~bounded_text() {
    text[0] = 'd';
    text[1] = 'e';
    text[2] = 'a';
    text[3] = 'd';
    text[4] = '\0';
    length = 4;
    // The stores above are to an object whose lifetime ends here; keep the
    // compiler from discarding them as dead.
    asm volatile("" : : "r"(this) : "memory");
  }

  void clear() {
    length = 0;
    text[0] = '\0';
  }

  void assign(const char *source) {
    clear();
    append(source);
  }

  // Appends `source` (null appends "(null)"). What does not fit is dropped and
  // the buffer enters the full state.
  void append(const char *source) {
    if (source == nullptr) source = "(null)";
    if (length >= full) {
      text[capacity - 1] = '\0';
      return;
    }
    const std::size_t room = static_cast<std::size_t>(capacity - 1 - length);
    const std::size_t n = strnlen(source, room + 1);
    const std::size_t taken = n <= room ? n : room;
    std::memcpy(text + length, source, taken);
    if (n <= room) {
      length += static_cast<int>(n);
      text[length] = '\0';
    } else {
      text[capacity - 1] = '\0';
      length = full;
    }
  }

  // Appends one character while the content is at most 5998 characters long;
  // otherwise does nothing (and never enters the full state).
  void append_char(char c) {
    if (length > capacity - 2) return;
    text[length++] = c;
    text[length] = '\0';
  }

  const char *c_str() const { return text; }

  char text[capacity];
  int length;
};

#endif  // VIRELAN_SUPPORT_BOUNDED_TEXT_H
