// Reduction of command-line arguments to printable ASCII. The launcher works with 8-bit C text
// everywhere (option matching, paths, log lines), while the toolkit hands over its arguments as
// wide strings; start-up passes each one through transliterate_argument().
//
// Each code point of the argument's UTF-8 form is kept when it is printable ASCII, tab, line feed
// or carriage return; any other control character becomes "."; a code point beyond ASCII becomes
// its spelling from ascii_transliteration() ("Ae" for U+00C4, "-" for an en dash) or "." when the
// table has none. Decoding stops at the first NUL (and at a decoded value of 0).
//
// The output goes to a caller's bounded_text and is only ever appended, never cleared. Kept and
// substituted characters go in through append_char(), table spellings through append(), so a
// long argument ends at 5999 characters, and a spelling cut short puts the buffer into its full
// state, which refuses all further characters.
//
// All functions are free of state and touch nothing but their arguments: any thread may call
// them. Only transliteration_wx.cpp depends on the toolkit; wxString is merely named here, so the
// byte-level part can be built and fuzzed without it.
#ifndef VIRELAN_LAUNCHER_TRANSLITERATION_H
#define VIRELAN_LAUNCHER_TRANSLITERATION_H

#include <cstdint>

#include "support/bounded_text.h"

class wxString;

// Decodes one UTF-8 sequence at `p` into `*out` and returns the position after it, or null at
// the terminating NUL (with `*out` 0; a null `p` counts as the end too). Never looks past the
// NUL: a sequence stops at the first byte that is not a continuation byte, keeping the partial
// value, and decoding resumes at that byte. A lone continuation byte gives its low six bits and
// the bytes 0xF8 to 0xFF give '.'. Overlong forms, surrogates and values above U+10FFFF are
// passed through as decoded.
const char *decode_utf8_char(const char *p, std::uint32_t *out);

// The ASCII spelling of code point `c` (one to five printable characters, static storage), or
// null when it has none. ASCII itself, U+007F included, has none.
const char *ascii_transliteration(std::uint32_t c);

// Receives the ASCII form of one code point. With `from_table` set, `text` is a table spelling
// (one to five printable characters, appended as a whole); otherwise it is one kept or
// substituted character: printable, tab, line feed or carriage return.
typedef void (*ascii_form_sink)(void *user, const char *text, bool from_table);

// Walks the NUL-terminated `utf8` (null counts as empty) and hands the ASCII form of each code
// point to `sink`, in order.
void transliterate_utf8_each(const char *utf8, ascii_form_sink sink, void *user);

// Appends the ASCII form of the NUL-terminated `utf8` (null counts as empty) to `out`.
void transliterate_utf8(const char *utf8, bounded_text &out);

// Appends the ASCII form of `argument` to `out`. An argument that the toolkit cannot encode as
// UTF-8 appends nothing. Needs <wx/string.h> at the call site.
void transliterate_argument(const wxString &argument, bounded_text &out);

// The same reduction into a new wide string, without a length limit.
wxString transliterate_to_wide(const wxString &argument);

#endif  // VIRELAN_LAUNCHER_TRANSLITERATION_H
