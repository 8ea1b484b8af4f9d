// Readers and writers of tagged line files: lines that begin with "#" and a tag
// word ("#E 1 2 3", "#A text", "#L text;", "#end"), rows of numbers, and texts
// ended by "~" or ";".
//
// Every reader takes an open C stream and a destination of a stated size, and
// never writes past it whatever the input: over-long words, lines and texts are
// cut, and the rest up to their terminator is read and dropped so that the next
// call starts after it. Unless said otherwise a reader returns 0 at the end of
// the stream (the destination untouched) and otherwise the number of characters
// stored plus one; a size below 1 reads nothing and gives 0. A stored text may
// hold NUL bytes that were in the input (only fget_long and fget_line stop at
// one), so the result, not strlen(), gives its length.
//
// The streams and buffers belong to the caller. The functions keep no state and
// may run on any thread, one thread per stream.
#ifndef VIRELAN_SUPPORT_LINE_FILE_H
#define VIRELAN_SUPPORT_LINE_FILE_H

#include <cstdio>

// Numbers in one row of fget_block() / fget_dblock().
constexpr int fget_block_size = 12;
// Longest text fget_tilde_text() and fget_semicolon_text() keep, whatever the
// destination's size.
constexpr int tilde_text_limit = 3990;
constexpr int semicolon_text_limit = 3999;

// Skips to the next "#" and reads the word after it (without the "#"), up to a
// blank, tab, line feed, carriage return (consumed) or the end of the stream. A
// word that fills the destination is reported as a possible overflow.
int fget_tag(std::FILE *stream, char *tag, int size);

// Reads up to a semicolon or NUL byte (not stored; it and the character after
// it are consumed) or the end of the stream. A text that fills the destination
// is reported as a possible overflow.
int fget_long(std::FILE *stream, char *text, int size);

// Reads a row of up to 12 integers, each as scanf's "%20d" would (blanks and
// line ends before it skipped, at most 20 characters, a value beyond the range
// of int saturated). The row ends where a line feed or carriage return directly
// follows a number (consumed), at something that is not a number (left in the
// stream), or at the end of the stream, which is reported. After a twelfth
// number the rest of its line is skipped. Entries not read are set to 0.
// Returns how many numbers were read.
int fget_block(std::FILE *stream, int (&values)[fget_block_size]);
// The same for doubles, read as "%20lf".
int fget_dblock(std::FILE *stream, double (&values)[fget_block_size]);

// Skips to the next "#" and reads the rest of that line (without the "#"), up
// to a line feed, carriage return (consumed) or the end of the stream.
int fget_hash_line(std::FILE *stream, char *text, int size);

// Reads up to a "~" that is followed neither by an upper-case letter A-Z nor by
// a second "~" (such pairs are stored as they are). The ending "~" is consumed,
// the character after it is not. At most tilde_text_limit characters are kept.
int fget_tilde_text(std::FILE *stream, char *text, int size);

// Skips one character, then reads up to a ";" (not stored; it and the
// character after it are consumed) or the end of the stream. At most
// semicolon_text_limit characters are kept. 0 when there was not even the
// character to skip.
int fget_semicolon_text(std::FILE *stream, char *text, int size);

// Reads one line (fget_line, at most 2047 characters) and returns 1 when it
// begins with `prefix`; 0 otherwise and at the end of the stream.
int fget_line_starts_with(std::FILE *stream, const char *prefix);

// 1 when `text` begins with `prefix` (case-sensitive); 0 when either is null.
int starts_with(const char *text, const char *prefix);

// Reads one row with fget_block() and stores its first 10 numbers at
// values[row * 10] onwards, not beyond `count`, where `row` is the integer at
// the start of `row_text` (the rest of the tag that introduced the row). The
// row is read whatever its number, so the stream stays in step. Returns the
// number of values stored: 0 when `row_text` does not start with an integer or
// row * 10 is negative or not below `count`.
int fget_int_row(std::FILE *stream, const char *row_text, int *values, int count);
// The same for bytes: each number keeps its low 8 bits.
int fget_byte_row(std::FILE *stream, const char *row_text, unsigned char *bytes, int count);

// Write `count` values as rows of 10: each row is `prefix` and its number
// (index / 10) followed by " " and each value, on a line of its own; after the
// last row comes one empty line. A null prefix counts as empty. 1 when every
// write succeeded.
int fput_int_rows(std::FILE *stream, const char *prefix, const int *values, int count);
int fput_byte_rows(std::FILE *stream, const char *prefix, const unsigned char *bytes, int count);

#endif  // VIRELAN_SUPPORT_LINE_FILE_H
