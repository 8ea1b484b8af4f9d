#include "support/line_file.h"

#include <climits>

#include "support/debug_log.h"
#include "support/line_reader.h"
#include "support/words.h"

namespace {

constexpr int module_helpers = 1;
constexpr int category_warning = 2;

// Collects characters into a caller's buffer, keeping at most `limit` of them
// and dropping the rest, so the reader can go on to its terminator.
class bounded_store {
 public:
  bounded_store(char *destination, int limit) : destination_(destination), limit_(limit) {}
  void put(int c) {
    if (stored_ < limit_) destination_[stored_++] = static_cast<char>(c);
  }
  // Terminates the text and gives the reader's result.
  int finish() {
    destination_[stored_] = '\0';
    return stored_ + 1;
  }
  bool filled() const { return stored_ == limit_; }

 private:
  char *destination_;
  int limit_;
  int stored_ = 0;
};

int smaller(int a, int b) { return a < b ? a : b; }

// Consumes everything up to and including the next "#"; false at the end of
// the stream.
bool skip_past_hash(std::FILE *stream) {
  int c;
  while ((c = std::getc(stream)) != EOF) {
    if (c == '#') return true;
  }
  return false;
}

void report_overflow(const char *warning, const char *text) {
  debug_message(warning, category_warning, module_helpers);
  debug_message(text, category_warning, module_helpers);
}

bool is_line_end(int c) { return c == '\n' || c == '\r'; }

bool is_scanf_space(int c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

enum class number_result { read, not_a_number, end_of_stream };

// One "%20d" conversion. Done by hand because scanf's behaviour is undefined
// for a number that does not fit in an int, and a file may hold anything.
number_result read_int(std::FILE *stream, int *value) {
  int c;
  do {
    c = std::getc(stream);
  } while (is_scanf_space(c));
  if (c == EOF) return number_result::end_of_stream;
  int width = 20;
  bool negative = false;
  if (c == '-' || c == '+') {
    negative = c == '-';
    --width;
    c = std::getc(stream);
    if (c == EOF) return number_result::end_of_stream;
  }
  if (c < '0' || c > '9') {
    std::ungetc(c, stream);
    return number_result::not_a_number;
  }
  constexpr long long beyond = static_cast<long long>(INT_MAX) + 1;
  long long magnitude = 0;
  while (width > 0 && c >= '0' && c <= '9') {
    magnitude = magnitude * 10 + (c - '0');
    if (magnitude > beyond) magnitude = beyond;
    --width;
    c = std::getc(stream);
  }
  if (c != EOF) std::ungetc(c, stream);
  if (negative) {
    *value = static_cast<int>(-magnitude);  // -beyond is INT_MIN
  } else {
    *value = magnitude > INT_MAX ? INT_MAX : static_cast<int>(magnitude);
  }
  return number_result::read;
}

number_result read_double(std::FILE *stream, double *value) {
  const int converted = std::fscanf(stream, "%20lf", value);
  if (converted == EOF) return number_result::end_of_stream;
  return converted == 1 ? number_result::read : number_result::not_a_number;
}

// The row logic shared by fget_block and fget_dblock.
template <typename Number, typename Reader>
int read_row(std::FILE *stream, Number (&values)[fget_block_size], Reader read_one,
             const char *eof_report) {
  for (Number &v : values) v = 0;
  if (stream == nullptr) return 0;
  int count = 0;
  while (count < fget_block_size) {
    Number value;
    const number_result r = read_one(stream, &value);
    if (r == number_result::end_of_stream) {
      debug_message(eof_report, category_warning, module_helpers);
      break;
    }
    if (r == number_result::not_a_number) break;
    values[count++] = value;
    int c = std::getc(stream);
    if (is_line_end(c)) break;
    if (count == fget_block_size) {
      while (c != EOF && !is_line_end(c)) c = std::getc(stream);
      break;
    }
    if (c != EOF) std::ungetc(c, stream);
  }
  return count;
}

// The row number at the start of `row_text` as the index of the row's first
// value, or -1 when there is none or it lies outside 0..count-1. Computed wide:
// row * 10 of a large row number does not fit in an int.
long long row_start(const char *row_text, int count) {
  int row;
  if (!parse_integer(row_text, &row)) return -1;
  const long long first = static_cast<long long>(row) * 10;
  if (first < 0 || first >= count) return -1;
  return first;
}

template <typename Value>
int read_numbered_row(std::FILE *stream, const char *row_text, Value *values, int count) {
  if (stream == nullptr) return 0;
  int block[fget_block_size];
  fget_block(stream, block);
  if (values == nullptr) return 0;
  const long long first = row_start(row_text, count);
  if (first < 0) return 0;
  const int stored = static_cast<int>(count - first < 10 ? count - first : 10);
  for (int i = 0; i < stored; ++i) values[first + i] = static_cast<Value>(block[i]);
  return stored;
}

template <typename Value>
int write_rows(std::FILE *stream, const char *prefix, const Value *values, int count) {
  if (stream == nullptr || (values == nullptr && count > 0)) return 0;
  if (prefix == nullptr) prefix = "";
  bool ok = true;
  for (long long first = 0; first < count; first += 10) {
    ok &= std::fprintf(stream, "%s%d", prefix, static_cast<int>(first / 10)) >= 0;
    for (long long i = first; i < first + 10 && i < count; ++i) {
      ok &= std::fprintf(stream, " %d", static_cast<int>(values[i])) >= 0;
    }
    ok &= std::fputc('\n', stream) != EOF;
  }
  ok &= std::fputc('\n', stream) != EOF;
  return ok ? 1 : 0;
}

}  // namespace

int fget_tag(std::FILE *stream, char *tag, int size) {
  if (stream == nullptr || tag == nullptr || size < 1) return 0;
  if (!skip_past_hash(stream)) return 0;
  bounded_store store(tag, size - 1);
  int c;
  while ((c = std::getc(stream)) != EOF && c != ' ' && c != '\t' && !is_line_end(c)) store.put(c);
  const int result = store.finish();
  if (store.filled()) report_overflow("Warning in fget_tag(), string overflow.  String was:", tag);
  return result;
}

int fget_long(std::FILE *stream, char *text, int size) {
  if (stream == nullptr || text == nullptr || size < 1) return 0;
  int c = std::getc(stream);
  if (c == EOF) return 0;
  bounded_store store(text, size - 1);
  while (c != EOF && c != ';' && c != '\0') {
    store.put(c);
    c = std::getc(stream);
  }
  if (c != EOF) std::getc(stream);
  const int result = store.finish();
  if (store.filled()) {
    report_overflow("Warning in fget_long(), string overflow.  String was:", text);
  }
  return result;
}

int fget_block(std::FILE *stream, int (&values)[fget_block_size]) {
  return read_row(stream, values, read_int, "Error in fget_block(), EOF encountered.");
}

int fget_dblock(std::FILE *stream, double (&values)[fget_block_size]) {
  return read_row(stream, values, read_double, "Error in fget_dblock(), EOF encountered.");
}

int fget_hash_line(std::FILE *stream, char *text, int size) {
  if (stream == nullptr || text == nullptr || size < 1) return 0;
  if (!skip_past_hash(stream)) return 0;
  bounded_store store(text, size - 1);
  int c;
  while ((c = std::getc(stream)) != EOF && !is_line_end(c)) store.put(c);
  return store.finish();
}

int fget_tilde_text(std::FILE *stream, char *text, int size) {
  if (stream == nullptr || text == nullptr || size < 1) return 0;
  int c = std::getc(stream);
  if (c == EOF) return 0;
  bounded_store store(text, smaller(size - 1, tilde_text_limit));
  for (; c != EOF; c = std::getc(stream)) {
    if (c == '~') {
      const int after = std::getc(stream);
      if (after == '~' || (after >= 'A' && after <= 'Z')) {
        store.put(c);
        store.put(after);
        continue;
      }
      if (after != EOF) std::ungetc(after, stream);
      break;
    }
    store.put(c);
  }
  return store.finish();
}

int fget_semicolon_text(std::FILE *stream, char *text, int size) {
  if (stream == nullptr || text == nullptr || size < 1) return 0;
  if (std::getc(stream) == EOF) return 0;
  bounded_store store(text, smaller(size - 1, semicolon_text_limit));
  int c;
  while ((c = std::getc(stream)) != EOF && c != ';') store.put(c);
  if (c == ';') std::getc(stream);
  return store.finish();
}

int fget_line_starts_with(std::FILE *stream, const char *prefix) {
  char line[2048];
  if (fget_line(stream, line, sizeof line) == 0) return 0;
  return starts_with(line, prefix);
}

int starts_with(const char *text, const char *prefix) {
  if (text == nullptr || prefix == nullptr) return 0;
  for (; *prefix != '\0'; ++prefix, ++text) {
    if (*text != *prefix) return 0;
  }
  return 1;
}

int fget_int_row(std::FILE *stream, const char *row_text, int *values, int count) {
  return read_numbered_row(stream, row_text, values, count);
}

int fget_byte_row(std::FILE *stream, const char *row_text, unsigned char *bytes, int count) {
  return read_numbered_row(stream, row_text, bytes, count);
}

int fput_int_rows(std::FILE *stream, const char *prefix, const int *values, int count) {
  return write_rows(stream, prefix, values, count);
}

int fput_byte_rows(std::FILE *stream, const char *prefix, const unsigned char *bytes, int count) {
  return write_rows(stream, prefix, bytes, count);
}
