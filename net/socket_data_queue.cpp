#include "net/socket_data_queue.h"

#include <cstring>
#include <mutex>
#include <new>

#include "support/bounded_text.h"
#include "support/debug_log.h"

namespace {

constexpr int module_network = 2;

// The pool: free buffers linked through `next`. The launcher uses queues from
// the updater thread only, but the tools and tests run several at once, so the
// few pointer moves below happen under a lock.
std::mutex pool_mutex;
private_socket_queue_buffer *pool_head = nullptr;
int pool_count = 0;

void warn(const char *text) { debug_message(text, 4, module_network); }

}  // namespace

static_assert(sizeof(private_socket_queue_buffer) == 4084 || sizeof(void *) != 4,
              "a queue buffer is 4084 bytes on 32-bit targets");

private_socket_queue_buffer *private_socket_queue_buffer::get_buffer() {
  private_socket_queue_buffer *buffer = nullptr;
  {
    std::lock_guard<std::mutex> lock(pool_mutex);
    if (pool_head != nullptr) {
      buffer = pool_head;
      pool_head = buffer->next;
      --pool_count;
    }
  }
  if (buffer == nullptr) buffer = new (std::nothrow) private_socket_queue_buffer;
  if (buffer == nullptr) return nullptr;
  buffer->fill = 0;
  buffer->read_position = 0;
  buffer->next = nullptr;
  buffer->data[0] = 0;
  return buffer;
}

void private_socket_queue_buffer::return_buffer(private_socket_queue_buffer *buffer) {
  if (buffer == nullptr) return;
  std::lock_guard<std::mutex> lock(pool_mutex);
  buffer->next = pool_head;
  pool_head = buffer;
  ++pool_count;
}

int private_socket_queue_buffer::pool_size() {
  std::lock_guard<std::mutex> lock(pool_mutex);
  return pool_count;
}

void private_socket_queue_buffer::drain_pool() {
  private_socket_queue_buffer *list;
  {
    std::lock_guard<std::mutex> lock(pool_mutex);
    list = pool_head;
    pool_head = nullptr;
    pool_count = 0;
  }
  while (list != nullptr) {
    private_socket_queue_buffer *next = list->next;
    delete list;
    list = next;
  }
}

int vorn_socket_data_queue::try_create_new_buffer() {
  if (max_buffers > 0 && buffer_count >= max_buffers) {
    limit_reached = 1;
    return 0;
  }
  private_socket_queue_buffer *buffer = private_socket_queue_buffer::get_buffer();
  if (buffer == nullptr) {
    debug_message(
        "Error in vorn_socket_data_queue::try_create_new_buffer(), memory allocation fail in "
        "private_socket_queue_buffer::get_buffer().",
        1, module_network);
    return 0;
  }
  limit_reached = 0;
  if (head == nullptr) {
    head = buffer;
  } else {
    private_socket_queue_buffer *last = head;
    while (last->next != nullptr) last = last->next;
    last->next = buffer;
  }
  tail = buffer;
  ++buffer_count;
  return 1;
}

int vorn_socket_data_queue::put_char(char c) {
  if (tail == nullptr && !try_create_new_buffer()) return 0;
  tail->data[tail->fill++] = c;
  if (tail->fill >= private_socket_queue_buffer::data_size) tail = nullptr;
  return 1;
}

int vorn_socket_data_queue::put_data(const char *data, int length) {
  if (data == nullptr) return 0;
  int stored = 0;
  // Whole spans at a time; the effect is that of put_char per byte.
  while (stored < length) {
    if (tail == nullptr && !try_create_new_buffer()) break;
    int room = private_socket_queue_buffer::data_size - tail->fill;
    int n = length - stored < room ? length - stored : room;
    std::memcpy(tail->data + tail->fill, data + stored, static_cast<size_t>(n));
    tail->fill += n;
    stored += n;
    if (tail->fill >= private_socket_queue_buffer::data_size) tail = nullptr;
  }
  return stored;
}

int vorn_socket_data_queue::put_text(const char *text) {
  if (text == nullptr) return 0;
  size_t n = std::strlen(text);
  if (n > 0x7fffffff) n = 0x7fffffff;
  return put_data(text, static_cast<int>(n));
}

int vorn_socket_data_queue::advance_after_read_out(const char *operation) {
  private_socket_queue_buffer *done = head;
  if (done->read_position >= private_socket_queue_buffer::data_size) {
    head = done->next;
    if (tail == done) tail = nullptr;
    private_socket_queue_buffer::return_buffer(done);
    --buffer_count;
    limit_reached = 0;
    return 1;
  }
  // A partly filled buffer is the one still being written: it stays.
  if (done->next != nullptr) {
    bounded_text message;
    message.append("Warning in vorn_socket_data_queue::");
    message.append(operation);
    message.append("(), more buffers in list than expected.");
    warn(message.c_str());
  }
  return 0;
}

int vorn_socket_data_queue::read_block(char *destination, int size) {
  if (head == nullptr || destination == nullptr || size <= 0) return 0;
  if (head->read_position == head->fill) {
    if (head->next != nullptr)
      warn(
          "Warning in vorn_socket_data_queue::read_block(), top buffer empty in list of other "
          "buffers.");
    return 0;
  }
  int copied = 0;
  while (copied < size && head != nullptr) {
    int available = head->fill - head->read_position;
    int n = size - copied < available ? size - copied : available;
    std::memcpy(destination + copied, head->data + head->read_position, static_cast<size_t>(n));
    head->read_position += n;
    copied += n;
    if (head->read_position < head->fill) break;
    if (!advance_after_read_out("read_block")) break;
  }
  return copied;
}

int vorn_socket_data_queue::get_line(bounded_text &destination) {
  destination.clear();
  if (head == nullptr) return 0;
  if (head->read_position == head->fill) {
    if (head->next != nullptr)
      warn(
          "Warning in vorn_socket_data_queue::get_line(), top buffer empty in list of other "
          "buffers.");
    return 0;
  }
  while (head != nullptr && head->read_position < head->fill) {
    char c = head->data[head->read_position];
    if (c != '\n' && destination.length >= bounded_text::capacity - 1) {
      warn("Warning in vorn_socket_data_queue::get_line(), dest buffer full.");
      break;
    }
    ++head->read_position;
    if (c != '\n') destination.append_char(c);
    bool more = true;
    if (head->read_position == head->fill) more = advance_after_read_out("get_line");
    if (c == '\n' || !more) break;
  }
  return destination.length;
}

int vorn_socket_data_queue::copy_text_without_remove(bounded_text &destination) {
  if (head == nullptr) return 1;
  if (head->read_position == head->fill) {
    if (head->next != nullptr) {
      warn(
          "Warning in vorn_socket_data_queue::copy_text_without_remove(), top buffer empty in "
          "list of other buffers.");
    }
    return 0;
  }
  destination.clear();
  for (private_socket_queue_buffer *b = head; b != nullptr; b = b->next) {
    for (int i = b->read_position; i < b->fill; ++i) {
      if (b->data[i] == 0) {
        warn(
            "Warning in vorn_socket_data_queue::copy_text_without_remove(), bailing on data "
            "zero.");
        return 0;
      }
      if (destination.length >= bounded_text::capacity - 1) {
        warn("Warning in vorn_socket_data_queue::copy_text_without_remove(), dest buffer full.");
        return 0;
      }
      destination.append_char(b->data[i]);
    }
  }
  return 1;
}

int vorn_socket_data_queue::bytes_available() {
  if (head == nullptr) return 0;
  if (head->read_position == head->fill && head->next != nullptr) {
    warn(
        "Warning in vorn_socket_data_queue::read_block(), top buffer empty in list of other "
        "buffers.");
    return 0;
  }
  long long sum = 0;
  for (private_socket_queue_buffer *b = head; b != nullptr; b = b->next)
    sum += b->fill - b->read_position;
  return sum > 0x7fffffff ? 0x7fffffff : static_cast<int>(sum);
}

int vorn_socket_data_queue::get_remaining_space() {
  // A queue without limit (max_buffers 0 or less) has no bound to report.
  if (max_buffers <= 0) return -1;
  long long used = 0;
  for (private_socket_queue_buffer *b = head; b != nullptr; b = b->next) used += b->fill;
  long long space =
      static_cast<long long>(max_buffers) * private_socket_queue_buffer::data_size - used;
  if (space < 0) {
    warn("Warning in vorn_socket_data_queue::get_remaining_space(), negative available space?");
    return 0;
  }
  return space > 0x7fffffff ? 0x7fffffff : static_cast<int>(space);
}

int vorn_socket_data_queue::is_empty() {
  if (head == nullptr) return 1;
  if (head->next != nullptr) return 0;
  return head->read_position == head->fill ? 1 : 0;
}

void vorn_socket_data_queue::clear() {
  release_buffers();
  limit_reached = 0;
}

void vorn_socket_data_queue::release_buffers() {
  while (head != nullptr) {
    private_socket_queue_buffer *next = head->next;
    private_socket_queue_buffer::return_buffer(head);
    head = next;
  }
  // No pointer into the pool may stay behind: the queue is empty and usable.
  tail = nullptr;
  buffer_count = 0;
}
