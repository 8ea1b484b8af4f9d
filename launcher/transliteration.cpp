// The toolkit-free part of the argument transliteration: UTF-8 decoding, the spelling table and
// the walk that both output forms share.
#include "launcher/transliteration.h"

#include <cstddef>

namespace {

struct transliteration_block {
  std::uint32_t first;  // code point of texts[0]
  std::size_t count;
  const char *const *texts;
};

constexpr const char *none = nullptr;

#include "launcher/ascii_transliteration_table.inc"

bool is_continuation(unsigned char b) { return (b & 0xC0) == 0x80; }

// Folds up to `count` continuation bytes after the lead byte into `*out`; returns the position
// after the last one taken. A NUL is no continuation byte, so this never reads past the end.
const char *take_continuations(const char *p, int count, std::uint32_t *out) {
  ++p;
  for (int i = 0; i < count; ++i, ++p) {
    const unsigned char b = static_cast<unsigned char>(*p);
    if (!is_continuation(b)) break;
    *out = (*out << 6) | (b & 0x3Fu);
  }
  return p;
}

void append_to_bounded_text(void *user, const char *text, bool from_table) {
  bounded_text &out = *static_cast<bounded_text *>(user);
  // A single character must not tip the buffer into its full state; a spelling may.
  if (from_table) {
    out.append(text);
  } else {
    out.append_char(text[0]);
  }
}

}  // namespace

const char *decode_utf8_char(const char *p, std::uint32_t *out) {
  *out = 0;
  if (p == nullptr) return nullptr;
  const unsigned char b0 = static_cast<unsigned char>(*p);
  if (b0 == 0) return nullptr;
  if (b0 < 0x80) {
    *out = b0;
    return p + 1;
  }
  if (b0 < 0xC0) {
    *out = b0 & 0x3Fu;
    return p + 1;
  }
  if (b0 < 0xE0) {
    *out = b0 & 0x1Fu;
    return take_continuations(p, 1, out);
  }
  if (b0 < 0xF0) {
    *out = b0 & 0x0Fu;
    return take_continuations(p, 2, out);
  }
  if (b0 < 0xF8) {
    *out = b0 & 0x07u;
    return take_continuations(p, 3, out);
  }
  *out = '.';
  return p + 1;
}

const char *ascii_transliteration(std::uint32_t c) {
  for (const transliteration_block &block : transliteration_blocks) {
    if (c >= block.first && c - block.first < block.count) return block.texts[c - block.first];
  }
  return nullptr;
}

void transliterate_utf8_each(const char *utf8, ascii_form_sink sink, void *user) {
  std::uint32_t c = 0;
  const char *p = utf8;
  while ((p = decode_utf8_char(p, &c)) != nullptr && c != 0) {
    if (c == '\t' || c == '\n' || c == '\r' || (c >= 32 && c <= 126)) {
      const char kept[2] = {static_cast<char>(c), '\0'};
      sink(user, kept, false);
    } else if (c < 127) {
      sink(user, ".", false);
    } else if (const char *text = ascii_transliteration(c)) {
      sink(user, text, true);
    } else {
      sink(user, ".", false);
    }
  }
}

void transliterate_utf8(const char *utf8, bounded_text &out) {
  transliterate_utf8_each(utf8, append_to_bounded_text, &out);
}
