#include "support/extra_desc.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>

#include "support/bulk_allocator.h"
#include "support/debug_log.h"
#include "support/line_file.h"
#include "support/line_reader.h"
#include "support/text_utilities.h"
#include "support/words.h"

// On the 32-bit target a record is the 28 bytes the pool was sized for; the
// pool takes sizeof, so wider pointers only mean fewer records per block.
static_assert(sizeof(void *) != 4 || sizeof(extra_desc) == 28, "extra_desc layout");

namespace {

constexpr int module_helpers = 1;
constexpr int line_size = 16384;
constexpr int tilde_buffer_size = tilde_text_limit + 1;

std::mutex pool_mutex;
vorn_bulk_pool pool{nullptr, "struct extra_desc", 65536, static_cast<int>(sizeof(extra_desc))};

// Replaces *slot by a copy of `text`; false when memory ran out (the old text
// is then gone too, so the record never keeps a stale value).
bool replace_text(char **slot, const char *text) {
  std::free(*slot);
  *slot = copy_text(text);
  return *slot != nullptr;
}

// Items of a record in the order they may follow each other inside it.
int item_rank(char letter) {
  switch (letter) {
    case 'E':
      return 0;
    case 'A':
      return 1;
    case 'S':
      return 2;
    case 'L':
      return 3;
    default:
      return -1;
  }
}

// Whether an item `letter` read after the item `previous` (0 when none) opens a
// new record rather than joining the current one.
bool starts_record(char previous, char letter) {
  return previous == 0 || item_rank(previous) >= item_rank(letter);
}

using buffer = std::unique_ptr<char[]>;

extra_desc *last_of(extra_desc *list) {
  if (list == nullptr) return nullptr;
  while (list->next != nullptr) list = list->next;
  return list;
}

}  // namespace

extra_desc *extra_desc_new() {
  void *record;
  {
    std::lock_guard<std::mutex> hold(pool_mutex);
    record = pool.take();
  }
  return new (record) extra_desc{0, 0, 0, nullptr, nullptr, nullptr, nullptr};
}

void extra_desc_free(extra_desc *record) {
  if (record == nullptr) return;
  std::free(record->s_text);
  std::free(record->l_text);
  std::free(record->a_text);
  std::lock_guard<std::mutex> hold(pool_mutex);
  pool.give_back(record);
}

void extra_list_free(extra_desc **list) {
  if (list == nullptr) return;
  extra_desc *record = *list;
  *list = nullptr;
  while (record != nullptr) {
    extra_desc *next = record->next;
    extra_desc_free(record);
    record = next;
  }
}

int extra_list_copy(extra_desc **destination, const extra_desc *source) {
  if (destination == nullptr) return 0;
  extra_desc *copy = nullptr;
  extra_desc **tail = &copy;
  for (const extra_desc *r = source; r != nullptr; r = r->next) {
    extra_desc *c = extra_desc_new();
    *tail = c;
    tail = &c->next;
    c->e1 = r->e1;
    c->e2 = r->e2;
    c->e3 = r->e3;
    c->s_text = copy_text(r->s_text);
    c->l_text = copy_text(r->l_text);
    c->a_text = copy_text(r->a_text);
    if ((r->s_text != nullptr && c->s_text == nullptr) ||
        (r->l_text != nullptr && c->l_text == nullptr) ||
        (r->a_text != nullptr && c->a_text == nullptr)) {
      extra_list_free(&copy);
      return 0;
    }
  }
  extra_list_free(destination);
  *destination = copy;
  return 1;
}

int extra_list_append(extra_desc **list, extra_desc *records) {
  if (list == nullptr) return 0;
  if (records == nullptr) return 1;
  extra_desc *last = last_of(*list);
  if (last == nullptr) {
    *list = records;
    return 1;
  }
  // Two singly linked chains share records exactly when they end in the same one.
  if (last_of(records) == last) {
    debug_message("Error in extra_list_append(), records already in the list.", 4, module_helpers);
    return 0;
  }
  last->next = records;
  return 1;
}

int fget_extra_list(std::FILE *stream, extra_desc **list) {
  if (list == nullptr) return 0;
  extra_list_free(list);
  if (stream == nullptr) return 0;
  buffer tag(new (std::nothrow) char[line_size]);
  buffer line(new (std::nothrow) char[line_size]);
  if (tag == nullptr || line == nullptr) {
    debug_message("Error in fget_extra_list(), out of memory.", 2, module_helpers);
    return 0;
  }
  int records = 0;
  extra_desc **tail = list;
  extra_desc *current = nullptr;
  char previous = 0;
  if (!fget_tag(stream, tag.get(), line_size)) return 0;
  while (!word_equal_nonnull(tag.get(), "end")) {
    const char letter = tag[0];
    if (item_rank(letter) < 0) {
      debug_message_about("Error in fget_extra_list(), invalid tag '", tag.get(), "' found.", 2,
                          module_helpers);
      break;
    }
    if (starts_record(previous, letter)) {
      current = extra_desc_new();
      *tail = current;
      tail = &current->next;
      ++records;
    }
    previous = letter;
    bool stored = true;
    if (letter == 'E') {
      int numbers[fget_block_size];
      fget_block(stream, numbers);
      current->e1 = numbers[0];
      current->e2 = numbers[1];
      current->e3 = numbers[2];
    } else {
      char **slot = letter == 'A'   ? &current->a_text
                    : letter == 'S' ? &current->s_text
                                    : &current->l_text;
      const int read = letter == 'L' ? fget_long(stream, line.get(), line_size)
                                     : fget_line(stream, line.get(), line_size);
      if (read != 0) stored = replace_text(slot, line.get());
    }
    if (!stored) {
      debug_message("Error in fget_extra_list(), out of memory.", 2, module_helpers);
      break;
    }
    if (!fget_tag(stream, tag.get(), line_size)) break;
  }
  return records;
}

int fget_pair_list(std::FILE *stream, extra_desc **list) {
  if (list == nullptr) return 0;
  extra_list_free(list);
  if (stream == nullptr) return 0;
  buffer line(new (std::nothrow) char[line_size]);
  buffer text(new (std::nothrow) char[tilde_buffer_size]);
  if (line == nullptr || text == nullptr) {
    debug_message("Error in fget_pair_list(), out of memory.", 2, module_helpers);
    return 0;
  }
  int records = 0;
  extra_desc **tail = list;
  while (fget_hash_line(stream, line.get(), line_size)) {
    if (word_equal(line.get(), "END")) break;
    extra_desc *record = extra_desc_new();
    *tail = record;
    tail = &record->next;
    ++records;
    bool stored = replace_text(&record->s_text, line.get());
    if (stored && fget_tilde_text(stream, text.get(), tilde_buffer_size)) {
      stored = replace_text(&record->l_text, text.get());
    }
    if (!stored) {
      debug_message("Error in fget_pair_list(), out of memory.", 2, module_helpers);
      break;
    }
  }
  return records;
}

int fput_extra_list(std::FILE *stream, const extra_desc *list) {
  if (stream == nullptr) return 0;
  bool ok = true;
  char previous = 0;
  for (const extra_desc *r = list; r != nullptr; r = r->next) {
    const char first_text = r->a_text != nullptr   ? 'A'
                            : r->s_text != nullptr ? 'S'
                            : r->l_text != nullptr ? 'L'
                                                   : 0;
    const bool zeros = r->e1 == 0 && r->e2 == 0 && r->e3 == 0;
    if (first_text == 0 || !zeros || !starts_record(previous, first_text)) {
      ok &= std::fprintf(stream, "#E %d %d %d\n", r->e1, r->e2, r->e3) >= 0;
      previous = 'E';
    }
    if (r->a_text != nullptr) {
      ok &= std::fprintf(stream, "#A %s\n", r->a_text) >= 0;
      previous = 'A';
    }
    if (r->s_text != nullptr) {
      ok &= std::fprintf(stream, "#S %s\n", r->s_text) >= 0;
      previous = 'S';
    }
    if (r->l_text != nullptr) {
      ok &= std::fprintf(stream, "#L %s;\n", r->l_text) >= 0;
      previous = 'L';
    }
  }
  ok &= std::fputs("#end\n", stream) >= 0;
  return ok ? 1 : 0;
}
