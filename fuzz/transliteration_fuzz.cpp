// Arbitrary bytes through the argument transliteration. The toolkit only ever hands over valid
// UTF-8, but the decoder must stay inside the string and the output must stay printable ASCII
// within the buffer's limit whatever the bytes are.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "launcher/transliteration.h"

namespace {

bool is_allowed(char c) { return (c >= 32 && c <= 126) || c == '\t' || c == '\n' || c == '\r'; }

void append_unlimited(void *user, const char *text, bool) {
  *static_cast<std::string *>(user) += text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  std::vector<char> bytes(data, data + size);
  bytes.push_back('\0');
  const char *const text = bytes.data();
  const char *const end = text + std::strlen(text);

  // Each step consumes one to four bytes and the walk ends exactly at the first NUL.
  const char *p = text;
  std::uint32_t c = 0;
  for (const char *next; (next = decode_utf8_char(p, &c)) != nullptr; p = next) {
    if (next <= p || next - p > 4 || next > end) std::abort();
  }
  if (p != end) std::abort();

  bounded_text out;
  transliterate_utf8(text, out);
  const std::size_t n = std::strlen(out.c_str());
  if (n > 5999) std::abort();
  if (out.length != bounded_text::full && static_cast<std::size_t>(out.length) != n) std::abort();
  for (std::size_t i = 0; i < n; ++i) {
    if (!is_allowed(out.text[i])) std::abort();
  }

  // Without a limit the same walk gives the same text; the buffer holds its first 5999 characters.
  std::string unlimited;
  transliterate_utf8_each(text, append_unlimited, &unlimited);
  if (unlimited.compare(0, 5999, out.c_str()) != 0) std::abort();
  if (unlimited.size() <= 5999 && static_cast<std::size_t>(out.length) != unlimited.size()) {
    std::abort();
  }

  // Short inputs reach the limit too when the buffer is nearly full already.
  constexpr std::size_t prefill = 5990;
  static const std::string filler(prefill, 'x');
  bounded_text near_full;
  near_full.append(filler.c_str());
  transliterate_utf8(text, near_full);
  const std::size_t m = std::strlen(near_full.c_str());
  if (m > 5999) std::abort();
  if (near_full.length != bounded_text::full && static_cast<std::size_t>(near_full.length) != m) {
    std::abort();
  }
  if (unlimited.compare(0, m - prefill, near_full.c_str() + prefill) != 0) std::abort();
  if (m < 5999 && m - prefill != unlimited.size()) std::abort();
  return 0;
}
