#include "support/line_reader.h"

#include "support/debug_log.h"

int fget_line(std::FILE *stream, char *destination, int size) {
  if (stream == nullptr || destination == nullptr || size < 1) return 0;
  int c = std::getc(stream);
  if (c == EOF) return 0;
  int stored = 0;
  while (c != EOF && c != '\n' && c != '\r' && c != '\0') {
    if (stored < size - 1) destination[stored++] = static_cast<char>(c);
    c = std::getc(stream);
  }
  destination[stored] = '\0';
  if (stored == size - 1) {
    debug_message("Warning in fget_line(), string overflow.  String was:", 2, 1);
    debug_message(destination, 2, 1);
  }
  return stored + 1;
}
