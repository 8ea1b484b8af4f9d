// Feeds arbitrary bytes to fget_line with a buffer size taken from the first
// byte, and checks what every reader of our text files relies on: nothing is
// written past the buffer, the line is terminated, its length matches the
// result, and the stream is consumed to its end.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "support/debug_log.h"
#include "support/line_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  if (size == 0) return 0;
  debug_messages_disable();              // the overflow warning would only fill the log
  const int buffer_size = data[0] % 64;  // 0 too: it must read nothing
  ++data;
  --size;
  if (size == 0) return 0;
  std::FILE *stream = fmemopen(const_cast<std::uint8_t *>(data), size, "rb");
  if (stream == nullptr) return 0;
  constexpr int guard = 16;
  std::vector<char> buffer(static_cast<std::size_t>(buffer_size) + guard, '\x5A');
  std::size_t lines = 0;
  int result;
  while ((result = fget_line(stream, buffer.data(), buffer_size)) != 0) {
    if (buffer_size < 1 || result < 1 || result > buffer_size) std::abort();
    if (std::strlen(buffer.data()) != static_cast<std::size_t>(result - 1)) std::abort();
    for (std::size_t i = buffer_size; i < buffer.size(); ++i) {
      if (buffer[i] != '\x5A') std::abort();
    }
    if (++lines > size + 1) std::abort();  // every call must make progress
  }
  std::fclose(stream);
  return 0;
}
