// Base64 in the standard alphabet of RFC 4648, with "=" filling the last group.
// The HTTP request writer uses the encoder for "Authorization: Basic" lines.
//
// Plain functions without state, safe from any thread; the destination belongs
// to the caller and is never written past its stated size.
#ifndef VIRELAN_SUPPORT_BASE64_H
#define VIRELAN_SUPPORT_BASE64_H

class bounded_text;

// Appends the encoding of `length` bytes. 1 when everything fitted, 0 when the
// text was cut at 5999 characters or `bytes` is null. A length of 0 or less
// appends nothing (1).
int base64_append(bounded_text &text, const unsigned char *bytes, int length);
// The same for the characters of a NUL-terminated text (null: 0).
int base64_append_text(bounded_text &text, const char *source);
// Decodes `text` into `destination` (of `size` bytes) until "=" or the end of
// the text. Characters outside the alphabet count as the value 0. Returns the
// bytes written, or 0 when the destination filled before the text ended.
int base64_decode(unsigned char *destination, int size, const char *text);
// Decodes `source` and appends the bytes to `text`. 1 unless the result was cut
// (or had to stop at a zero byte, which a text cannot hold).
int base64_decode_append(bounded_text &text, const char *source);

#endif  // VIRELAN_SUPPORT_BASE64_H
