// The toolkit side of the argument transliteration: wide strings in, through the toolkit's UTF-8
// encoding, to the byte-level walk of transliteration.cpp.
#include <wx/string.h>

#include "launcher/transliteration.h"

namespace {

// The toolkit reports a string it cannot encode (a value above U+10FFFF, say) with an empty or a
// null buffer; both read as an empty argument.
const char *utf8_or_empty(const wxScopedCharBuffer &utf8) {
  return utf8.data() != nullptr ? utf8.data() : "";
}

void append_to_wide(void *user, const char *text, bool) {
  *static_cast<wxString *>(user) += wxString::FromAscii(text);
}

}  // namespace

void transliterate_argument(const wxString &argument, bounded_text &out) {
  const wxScopedCharBuffer utf8 = argument.utf8_str();
  transliterate_utf8(utf8_or_empty(utf8), out);
}

wxString transliterate_to_wide(const wxString &argument) {
  const wxScopedCharBuffer utf8 = argument.utf8_str();
  wxString result;
  transliterate_utf8_each(utf8_or_empty(utf8), append_to_wide, &result);
  return result;
}
