// vorn_socket_data_queue: a first-in, first-out byte queue made of a chain of
// fixed-size buffers, for data waiting to go out on a socket (the HTTP
// processor's send queue) or just read from one. The queue never touches a
// socket itself.
//
// Edge rules:
// - A write to a queue that has reached `max_buffers` stores nothing and
//   returns 0 (put_char) or the count stored so far (put_data, put_text), and
//   sets `limit_reached`; the caller decides what a short write means.
// - Every buffer but the last one in the chain is full. A full buffer goes back
//   to the pool as soon as its last byte has been read; the last, partly filled
//   buffer stays in place after it has been read out and is written on.
// - Inconsistencies of the chain are reported in the log and end the read; the
//   queue does not repair itself.
//
// Ownership and threads: the queue owns the buffers in its chain and hands them
// back to a process-wide pool, never to the heap, so a steady flow allocates
// nothing after the first buffers. A queue belongs to one thread at a time; the
// pool is shared by every queue of the process and guarded by a mutex, so
// queues of different threads may come and go at the same time.
#ifndef VIRELAN_NET_SOCKET_DATA_QUEUE_H
#define VIRELAN_NET_SOCKET_DATA_QUEUE_H

class bounded_text;

// One block of the chain (4084 bytes on every target).
struct private_socket_queue_buffer {
  static constexpr int data_size = 4072;

  // A reset buffer from the pool, or a new one; null when memory ran out.
  static private_socket_queue_buffer *get_buffer();
  // Pushes `buffer` on the front of the pool.
  static void return_buffer(private_socket_queue_buffer *buffer);
  // Buffers waiting in the pool (for tests and benchmarks).
  static int pool_size();
  // Hands every pooled buffer back to the heap (for leak checkers at exit).
  static void drain_pool();

  int fill;           // bytes written into data (0..data_size)
  int read_position;  // bytes already read out of data (0..fill)
  private_socket_queue_buffer *next;
  char data[data_size];
};

class vorn_socket_data_queue {
 public:
  // max_buffers 0 or less: no limit.
  explicit vorn_socket_data_queue(int max_buffers = -1)
      : head(nullptr), tail(nullptr), max_buffers(max_buffers), buffer_count(0), limit_reached(0) {}
  ~vorn_socket_data_queue() { release_buffers(); }
  vorn_socket_data_queue(const vorn_socket_data_queue &) = delete;
  vorn_socket_data_queue &operator=(const vorn_socket_data_queue &) = delete;

  // 1 when the byte was stored, 0 when no buffer could be had.
  int put_char(char c);
  // Stores bytes in order and returns how many were stored (stops at the first
  // refusal).
  int put_data(const char *data, int length);
  // put_data of a NUL-terminated text, without the NUL.
  int put_text(const char *text);
  // Moves up to `size` bytes from the front into `destination`; returns the
  // count. Stops early at the end of the last buffer.
  int read_block(char *destination, int size);
  // Moves one line into `destination` (cleared first); the line feed is
  // consumed and not stored, a carriage return is an ordinary byte. Returns the
  // characters stored. A line longer than 5999 characters stops at 5999 with
  // its rest left queued.
  int get_line(bounded_text &destination);
  // Copies every queued byte as text, leaving the queue as it was. 1 on
  // success; 0 at a zero byte or when the text would exceed 5999 characters.
  int copy_text_without_remove(bounded_text &destination);
  int bytes_available();
  // Bytes that may still be written, or -1 for a queue without limit.
  int get_remaining_space();
  int is_empty();
  // Returns every buffer to the pool and resets the queue.
  void clear();
  // Returns every buffer to the pool; the other fields are left alone (for
  // the owner's destruction).
  void release_buffers();
  // Appends a fresh buffer to the chain (put_char's helper). 1 on success.
  int try_create_new_buffer();

  private_socket_queue_buffer *head;  // oldest buffer, the read side
  private_socket_queue_buffer *tail;  // buffer being written; null when none or full
  int max_buffers;
  int buffer_count;
  int limit_reached;

 private:
  // read_block step 4 and get_line step 2: a read-out head is released when full
  // and the next buffer becomes the head. Returns 1 when reading may go on with
  // the new head, 0 when it must stop.
  int advance_after_read_out(const char *operation);
};

#endif  // VIRELAN_NET_SOCKET_DATA_QUEUE_H
