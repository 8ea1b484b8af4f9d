// Feeds arbitrary bytes to every reader of tagged line files with small
// destinations followed by guard bytes, and checks what their callers rely on:
// nothing is written past a destination, a stored text is terminated inside
// it, results stay in range, and every call that reports a text has consumed
// input (so a loop over the stream ends). Then the bytes are read as an extra
// list, written back and read again, which must give the same records.
//
// The first input byte chooses the destination size (0..39), the second the
// order in which the mixed pass calls the readers and the size of the row array.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "support/debug_log.h"
#include "support/extra_desc.h"
#include "support/line_file.h"

namespace {

constexpr char guard_byte = '\x5A';
constexpr int guard_size = 16;

void check(bool condition) {
  if (!condition) std::abort();
}

std::FILE *open_bytes(const std::uint8_t *data, std::size_t size) {
  return fmemopen(const_cast<std::uint8_t *>(data), size, "rb");
}

using text_reader = int (*)(std::FILE *, char *, int);
const text_reader text_readers[] = {fget_tag, fget_long, fget_hash_line, fget_tilde_text,
                                    fget_semicolon_text};

// One call of a text reader into a guarded destination; returns its result.
int read_guarded(text_reader read, std::FILE *stream, std::vector<char> &buffer, int size) {
  std::fill(buffer.begin(), buffer.end(), guard_byte);
  const long before = std::ftell(stream);
  const int result = read(stream, buffer.data(), size);
  for (std::size_t i = static_cast<std::size_t>(size); i < buffer.size(); ++i) {
    check(buffer[i] == guard_byte);
  }
  check(result >= 0 && result <= (size > 0 ? size : 0));
  if (result > 0) {
    check(buffer[static_cast<std::size_t>(result) - 1] == '\0');
    check(std::ftell(stream) > before);
  }
  return result;
}

template <typename Number>
void read_block_guarded(std::FILE *stream) {
  struct {
    Number values[fget_block_size];
    Number guard[4];
  } row;
  std::memset(&row, 0x5A, sizeof row);
  const auto pattern = row.guard[0];
  int count;
  if constexpr (sizeof(Number) == sizeof(int)) {
    count = fget_block(stream, row.values);
  } else {
    count = fget_dblock(stream, row.values);
  }
  check(count >= 0 && count <= fget_block_size);
  for (int i = count; i < fget_block_size; ++i) check(row.values[i] == 0);
  for (const Number &g : row.guard) check(std::memcmp(&g, &pattern, sizeof g) == 0);
}

template <typename Value, typename Reader>
void read_row_guarded(std::FILE *stream, const char *row_text, int count, Reader read) {
  std::vector<Value> values(static_cast<std::size_t>(count) + guard_size, Value(0x5A));
  const int stored = read(stream, row_text, values.data(), count);
  check(stored >= 0 && stored <= 10 && stored <= count);
  for (std::size_t i = static_cast<std::size_t>(count); i < values.size(); ++i) {
    check(values[i] == Value(0x5A));
  }
}

std::string describe(const extra_desc *list) {
  std::string d;
  for (const extra_desc *r = list; r != nullptr; r = r->next) {
    d += std::to_string(r->e1) + " " + std::to_string(r->e2) + " " + std::to_string(r->e3);
    for (const char *t : {r->a_text, r->s_text, r->l_text}) {
      d += t != nullptr ? "|" + std::string(t) : "|-";
    }
    d += "\n";
  }
  return d;
}

// Reads an extra list, writes it and reads the result: the same records.
void extra_list_round_trip(const std::uint8_t *data, std::size_t size) {
  std::FILE *in = open_bytes(data, size);
  if (in == nullptr) return;
  extra_desc *list = nullptr;
  const int count = fget_extra_list(in, &list);
  std::fclose(in);
  int records = 0;
  for (const extra_desc *r = list; r != nullptr; r = r->next) ++records;
  check(count == records);

  char *written = nullptr;
  std::size_t written_size = 0;
  std::FILE *out = open_memstream(&written, &written_size);
  check(out != nullptr && fput_extra_list(out, list) == 1);
  std::fclose(out);
  std::FILE *again = open_bytes(reinterpret_cast<const std::uint8_t *>(written), written_size);
  extra_desc *copy = nullptr;
  check(fget_extra_list(again, &copy) == count);
  std::fclose(again);
  std::free(written);
  check(describe(copy) == describe(list));
  extra_list_free(&copy);
  extra_list_free(&list);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  if (size < 3) return 0;
  debug_messages_disable();  // the overflow and end-of-stream reports would only fill the log
  const int buffer_size = data[0] % 40;
  unsigned order = data[1];
  const int row_count = data[1] % 32;
  data += 2;
  size -= 2;
  std::vector<char> buffer(static_cast<std::size_t>(buffer_size) + guard_size);

  // Each text reader alone, to the end of the stream.
  for (text_reader read : text_readers) {
    std::FILE *stream = open_bytes(data, size);
    if (stream == nullptr) return 0;
    std::size_t calls = 0;
    while (read_guarded(read, stream, buffer, buffer_size) != 0) check(++calls <= size);
    std::fclose(stream);
  }

  // All readers interleaved on one stream, as a file of mixed records is read.
  std::FILE *stream = open_bytes(data, size);
  if (stream == nullptr) return 0;
  char row_text[8];
  std::strcpy(row_text, "0");
  for (std::size_t step = 0; step < 4 * size + 16 && !std::feof(stream); ++step) {
    order = order * 1103515245u + 12345u;
    switch ((order >> 16) % 10) {
      case 0:
      case 1:
      case 2:
      case 3:
      case 4:
        read_guarded(text_readers[(order >> 16) % 5], stream, buffer, buffer_size);
        break;
      case 5:
        read_block_guarded<int>(stream);
        break;
      case 6:
        read_block_guarded<double>(stream);
        break;
      case 7:
        // The row number comes from the input, as it does after a tag.
        if (fget_tag(stream, row_text, sizeof row_text) == 0) std::strcpy(row_text, "0");
        read_row_guarded<int>(stream, row_text, row_count, fget_int_row);
        break;
      case 8:
        read_row_guarded<unsigned char>(stream, row_text, row_count, fget_byte_row);
        break;
      default:
        fget_line_starts_with(stream, "#E");
        break;
    }
  }
  std::fclose(stream);

  extra_list_round_trip(data, size);

  std::FILE *pairs = open_bytes(data, size);
  if (pairs != nullptr) {
    extra_desc *list = nullptr;
    fget_pair_list(pairs, &list);
    extra_list_free(&list);
    std::fclose(pairs);
  }
  return 0;
}
