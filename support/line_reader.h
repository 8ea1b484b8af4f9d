// fget_line: reads one text line from a C stream into a caller's buffer.
//
// A line ends at a line feed, a carriage return, a NUL byte or the end of the
// stream; the terminator is consumed and not stored, so a CR LF pair gives the
// line and then an empty line. At most size - 1 characters are stored and the
// rest of a longer line is read and dropped; a line that fills the buffer is
// reported as a possible overflow. The buffer is always NUL terminated when a
// line was read, and nothing is ever written past `size` bytes.
//
// The stream belongs to the caller; one thread at a time.
#ifndef VIRELAN_SUPPORT_LINE_READER_H
#define VIRELAN_SUPPORT_LINE_READER_H

#include <cstdio>

// 0 at the end of the stream (the buffer untouched), otherwise the number of
// characters stored plus one (1 for an empty line). A size below 1 reads
// nothing and gives 0.
int fget_line(std::FILE *stream, char *destination, int size);

#endif  // VIRELAN_SUPPORT_LINE_READER_H
