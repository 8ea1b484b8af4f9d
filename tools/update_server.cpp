// virelan-update-server: the developers' update server. It serves the regular
// files below one directory over HTTP/1.1 (GET and HEAD), so that a launcher
// built for a loopback update host can run its update against files published
// with virelan-make-list, and so that tests have a real server of our own.
//
// DESIGN. One process, one thread, one poll() loop over non-blocking sockets:
// the listening socket, a self-pipe that the SIGINT/SIGTERM handler writes to,
// and every connection. Each connection owns one vorn_http_data_processor_oline
// that parses its requests and composes its responses; the loop only moves
// bytes between the processor and the socket.
// - One request at a time per connection: received bytes are handed to the
//   processor until it reports a request, and the rest waits until that
//   response has gone out completely. So a pipelined second request never
//   finds the first response's body still being pulled (which would refuse
//   it), and the request fields the processor reads while answering (the
//   method for the HEAD rule, the version for keep-alive) are those of the
//   request being answered.
// - A response body is read from an open descriptor in blocks of at most
//   8192 bytes while the processor's queue holds less than 64 KiB, so a file
//   of any size is served with a small, flat memory use.
// - The processor decides when a connection closes (HTTP/1.0, "Connection:
//   close", after a 400). A closing connection stops sending, then reads and
//   drops what the client still sends for a moment, so that unread input does
//   not make the kernel reset the connection before the client has read the
//   response.
// - --throttle: a token bucket per connection limits the body bytes handed to
//   the processor; the poll timeout follows the next refill.
// - Paths: see resolve_request_path(). Nothing outside the root is served,
//   through "..", escapes or symbolic links.
// Limits: 256 connections (more are closed at once), 60 s without progress
// closes a connection, and running out of descriptors pauses accepting for
// 100 ms instead of spinning on the listening socket. Output: "listening on ADDR:PORT" once, then
// one line per request on stdout; processor diagnostics go to stderr.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "http/http_processor.h"
#include "net/network_socket.h"
#include "net/socket_data_queue.h"
#include "support/debug_log.h"

namespace {

const char *const program_name = "virelan-update-server";

constexpr int connection_limit = 256;
constexpr int listen_backlog = 511;
// Body bytes kept queued in a processor ahead of the socket.
constexpr int queued_body_limit = 64 * 1024;
constexpr int input_block = 8192;
constexpr int output_block = 16384;
constexpr long long idle_limit_ns = 60LL * 1000 * 1000 * 1000;
constexpr long long linger_limit_ns = 2LL * 1000 * 1000 * 1000;
constexpr long long accept_pause_ns = 100LL * 1000 * 1000;
// A throttled connection waits until at least this many bytes (or the whole
// bucket, when smaller) may be sent, rather than waking for every few bytes.
constexpr double throttle_wake_bytes = 4096;

// --- Command line ----------------------------------------------------------

struct server_options {
  const char *root = nullptr;
  int port = -1;
  const char *bind_address = "127.0.0.1";
  long long throttle = 0;  // body bytes per second and connection; 0 unlimited
};

void print_usage(FILE *to) {
  std::fprintf(to,
               "usage: %s --root DIR --port N [--bind ADDR] [--throttle BYTES_PER_SECOND]\n"
               "Serves the regular files below DIR over HTTP/1.1 (GET and HEAD).\n"
               "  --root DIR        the directory to serve\n"
               "  --port N          the TCP port; 0 picks a free one\n"
               "  --bind ADDR       the IPv4 address to listen on (default 127.0.0.1)\n"
               "  --throttle N      send at most N body bytes per second on each connection\n"
               "  --help            show this text\n"
               "Prints \"listening on ADDR:PORT\" once listening, then one line per request.\n"
               "Stops cleanly on SIGINT or SIGTERM.\n",
               program_name);
}

// Whole decimal text in [minimum, maximum] only: no sign, no blanks, no rest.
bool parse_number(const char *text, long long minimum, long long maximum, long long *out) {
  if (text == nullptr || *text < '0' || *text > '9') return false;
  long long value = 0;
  for (const char *p = text; *p != '\0'; ++p) {
    if (*p < '0' || *p > '9') return false;
    value = value * 10 + (*p - '0');
    if (value > maximum) return false;
  }
  if (value < minimum) return false;
  *out = value;
  return true;
}

int usage_error(const char *problem, const char *subject) {
  std::fprintf(stderr, "%s: %s%s%s\n", program_name, problem, subject ? subject : "",
               subject ? "'" : "");
  print_usage(stderr);
  return 2;
}

// 0 to go on, 1 after --help (status 0), 2 on bad usage (reported).
int parse_command_line(int argc, char **argv, server_options *options) {
  for (int i = 1; i < argc; ++i) {
    const char *arg = argv[i];
    if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
      print_usage(stdout);
      return 1;
    }
    static const char *const names[] = {"--root", "--port", "--bind", "--throttle"};
    int which = -1;
    const char *value = nullptr;
    for (int n = 0; n < 4; ++n) {
      const size_t length = std::strlen(names[n]);
      if (std::strncmp(arg, names[n], length) != 0) continue;
      if (arg[length] == '\0') {
        if (i + 1 >= argc) return usage_error("missing value after option '", arg);
        which = n;
        value = argv[++i];
      } else if (arg[length] == '=') {
        which = n;
        value = arg + length + 1;
      }
      if (which >= 0) break;
    }
    if (which < 0) return usage_error("unknown argument '", arg);
    long long number = 0;
    switch (which) {
      case 0:
        if (value[0] == '\0') return usage_error("empty root directory", nullptr);
        options->root = value;
        break;
      case 1:
        if (!parse_number(value, 0, 65535, &number))
          return usage_error("the port must be a number from 0 to 65535, not '", value);
        options->port = static_cast<int>(number);
        break;
      case 2:
        if (!vorn_network_is_dotted_ipv4(value))
          return usage_error("the bind address must be a dotted IPv4 address, not '", value);
        options->bind_address = value;
        break;
      default:
        if (!parse_number(value, 1, 1LL << 40, &number))
          return usage_error("the throttle must be a positive number of bytes per second, not '",
                             value);
        options->throttle = number;
        break;
    }
  }
  if (options->root == nullptr) return usage_error("--root DIR is required", nullptr);
  if (options->port < 0) return usage_error("--port N is required", nullptr);
  return 0;
}

// --- Time and signals ------------------------------------------------------

long long now_ns() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<long long>(t.tv_sec) * 1000000000LL + t.tv_nsec;
}

int stop_pipe_write = -1;

void on_stop_signal(int) {
  const int saved = errno;
  if (stop_pipe_write >= 0) {
    ssize_t ignored = write(stop_pipe_write, "x", 1);
    (void)ignored;
  }
  errno = saved;
}

// --- Paths ----------------------------------------------------------------

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool is_under(const char *root, const char *path) {
  if (std::strcmp(root, "/") == 0) return path[0] == '/';
  const size_t length = std::strlen(root);
  return std::strncmp(path, root, length) == 0 && (path[length] == '\0' || path[length] == '/');
}

// Turns the request path (no leading "/", at most 255 characters) into the
// real path of a file below `root_real`, written to `resolved` (PATH_MAX
// bytes). Returns 0 for a path to serve, else the status to answer:
// - 400 for a malformed escape ("%" without two hexadecimal digits) and for an
//   escaped NUL, which no request can mean honestly;
// - 404 for an escaped "/" (no name holds one, so it names no file), for any
//   ".." component (split at "/" and at a backslash, so both spellings are
//   caught; the file system is not touched), and for every path whose real
//   path, all links followed, does not lie below the root or does not exist.
int resolve_request_path(const char *root_real, const char *request_path, char *resolved) {
  char decoded[PATH_MAX];
  size_t length = 0;
  for (const char *p = request_path; *p != '\0'; ++p) {
    char c = *p;
    if (c == '%') {
      const int high = hex_digit(p[1]);
      const int low = high < 0 ? -1 : hex_digit(p[2]);
      if (low < 0) return 400;
      c = static_cast<char>(high * 16 + low);
      if (c == '\0') return 400;
      if (c == '/') return 404;
      p += 2;
    }
    if (length + 1 >= sizeof decoded) return 404;
    decoded[length++] = c;
  }
  decoded[length] = '\0';

  const char *component = decoded;
  for (const char *p = decoded;; ++p) {
    if (*p == '/' || *p == '\\' || *p == '\0') {
      if (p - component == 2 && component[0] == '.' && component[1] == '.') return 404;
      if (*p == '\0') break;
      component = p + 1;
    }
  }

  char joined[PATH_MAX];
  const int written = std::snprintf(joined, sizeof joined, "%s/%s", root_real, decoded);
  if (written < 0 || static_cast<size_t>(written) >= sizeof joined) return 404;
  if (realpath(joined, resolved) == nullptr) return 404;
  if (!is_under(root_real, resolved)) return 404;
  return 0;
}

// --- Connections ----------------------------------------------------------

struct server;

enum connection_state {
  reading,     // waiting for (the rest of) a request
  responding,  // a response is queued and being sent
  lingering,   // the exchange is over: output shut down, input dropped
};

struct connection {
  server *owner = nullptr;
  vorn_network_socket socket;
  vorn_http_data_processor_oline processor;
  connection_state state = reading;
  char peer[INET_ADDRSTRLEN] = {};
  short revents = 0;
  long long deadline_ns = 0;       // lingering only
  long long last_progress_ns = 0;  // the idle limit counts from here
  int request_seen = 0;            // message_received ran in the current receive()
  int close_called = 0;            // the processor asked to close
  // Received bytes not yet handed to the processor.
  char input[input_block];
  int input_start = 0;
  int input_end = 0;
  // Bytes taken from the processor's queue, not yet written.
  char output[output_block];
  int output_start = 0;
  int output_end = 0;
  // The body being sent: an open file and the bytes of it still to read.
  int body_fd = -1;
  long long body_left = 0;
  // Token bucket (throttled servers only).
  double tokens = 0;
  long long refilled_ns = 0;

  ~connection() { release_body(); }
  void release_body() {
    if (body_fd >= 0) close(body_fd);
    body_fd = -1;
    body_left = 0;
  }
};

struct server {
  char root_real[PATH_MAX] = {};
  long long throttle = 0;
  double bucket_size = 0;
  vorn_network_socket listener;
  connection *connections[connection_limit] = {};
  int connection_count = 0;
  long long accept_paused_until_ns = 0;
  int accept_failure_reported = 0;
};

void refill(connection *c, long long now) {
  const server *s = c->owner;
  // The loop's own clock reading may be older than one taken while pulling.
  if (s->throttle <= 0 || now <= c->refilled_ns) return;
  const double earned = static_cast<double>(now - c->refilled_ns) * s->throttle / 1e9;
  c->tokens = c->tokens + earned > s->bucket_size ? s->bucket_size : c->tokens + earned;
  c->refilled_ns = now;
}

double wake_tokens(const server *s) {
  return s->bucket_size < throttle_wake_bytes ? s->bucket_size : throttle_wake_bytes;
}

// True while a throttled body must wait for tokens: nothing is queued, so
// asking the processor for data now would find its queue empty, and an empty
// queue on a closing exchange ends the connection before the body is complete.
bool waiting_for_tokens(connection *c, long long now) {
  if (c->owner->throttle <= 0 || c->body_fd < 0) return false;
  if (!c->processor.tx_queue.is_empty()) return false;
  refill(c, now);
  return c->tokens < wake_tokens(c->owner);
}

void print_escaped(const char *text) {
  char line[1100];
  size_t n = 0;
  for (const unsigned char *p = reinterpret_cast<const unsigned char *>(text); *p != '\0'; ++p) {
    if (n > 1000) {
      std::memcpy(line + n, "...", 3);
      n += 3;
      break;
    }
    if (*p < 0x20 || *p >= 0x7f || *p == '"' || *p == '\\') {
      n += static_cast<size_t>(std::snprintf(line + n, sizeof line - n, "\\x%02x", *p));
    } else {
      line[n++] = static_cast<char>(*p);
    }
  }
  line[n] = '\0';
  std::fputs(line, stdout);
}

void log_request(const connection *c, int status, long long body_bytes) {
  std::printf("%s \"", c->peer);
  print_escaped(c->processor.first_line.c_str());
  std::printf("\" %d %lld\n", status, body_bytes);
  std::fflush(stdout);
}

// --- Processor callbacks --------------------------------------------------

// Pulls the next block of the file. Returns 0 while the queue already holds
// enough or the bucket is empty; -1 once the file's announced bytes are out
// (and on every later call); -1 early when the file shrank, which leaves a
// counted body short, so the processor refuses to go on and the connection is
// closed; -2 on a read error.
int read_body(vorn_http_data_processor_oline *p, void *user, char *buffer, int maximum) {
  connection *c = static_cast<connection *>(user);
  if (c->body_fd < 0) return -1;
  if (p->tx_queue.bytes_available() >= queued_body_limit) return 0;
  long long want = maximum < c->body_left ? maximum : c->body_left;
  if (c->owner->throttle > 0) {
    refill(c, now_ns());
    const long long allowed = static_cast<long long>(c->tokens);
    if (allowed < 1) return 0;
    if (want > allowed) want = allowed;
  }
  ssize_t n;
  do {
    n = read(c->body_fd, buffer, static_cast<size_t>(want));
  } while (n < 0 && errno == EINTR);
  if (n <= 0) {
    std::fprintf(stderr, "%s: %s while sending a file to %s; closing the connection\n",
                 program_name, n == 0 ? "the file shrank" : std::strerror(errno), c->peer);
    c->release_body();
    return n == 0 ? -1 : -2;
  }
  c->body_left -= n;
  if (c->owner->throttle > 0) c->tokens -= static_cast<double>(n);
  if (c->body_left == 0) c->release_body();
  return static_cast<int>(n);
}

// Answers one request: GET and HEAD of a regular file below the root, 404 for
// anything else there is to find, 501 for other methods.
int on_request(vorn_http_data_processor_oline *p, void *user) {
  connection *c = static_cast<connection *>(user);
  c->request_seen = 1;
  c->state = responding;

  const bool head = std::strcmp(p->method, "HEAD") == 0;
  if (!head && std::strcmp(p->method, "GET") != 0) {
    log_request(c, 501, 0);
    return p->send_response_501();
  }

  char resolved[PATH_MAX];
  int status = resolve_request_path(c->owner->root_real, p->path, resolved);
  struct stat info;
  if (status == 0 && (stat(resolved, &info) != 0 || !S_ISREG(info.st_mode))) status = 404;
  int fd = -1;
  if (status == 0) {
    // O_NONBLOCK: the file was regular a moment ago, but should a FIFO take
    // its place now, the open must not wait for a writer.
    fd = open(resolved, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
      status = errno == EMFILE || errno == ENFILE ? 503 : 404;
    } else if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
      close(fd);
      fd = -1;
      status = 404;
    }
  }
  if (status == 400) {
    log_request(c, 400, 0);
    return p->send_response_400("Bad Request");
  }
  if (status != 0) {
    log_request(c, status, 0);
    return p->send_response(status, 1, 0, status == 503 ? "Service Unavailable" : "Not Found");
  }

  c->body_fd = fd;
  c->body_left = info.st_size;
  // A length the processor cannot count goes out without one, ending with the
  // connection.
  const int length = info.st_size > INT_MAX ? -1 : static_cast<int>(info.st_size);
  log_request(c, 200, head ? 0 : static_cast<long long>(info.st_size));
  const int queued = p->send_response(200, 14, length, "OK");
  // HEAD and short files: nothing (more) will be pulled.
  if (p->tx_body_remaining == 0) c->release_body();
  return queued;
}

int on_message_complete(vorn_http_data_processor_oline *, void *) { return 1; }

// Request bodies (a POST answered with 501, say) are read and dropped.
int on_body_data(vorn_http_data_processor_oline *, void *, const char *, int) { return 1; }

void on_close(vorn_http_data_processor_oline *, void *user) {
  static_cast<connection *>(user)->close_called = 1;
}

// --- Moving bytes ---------------------------------------------------------

enum service_result { keep_open, close_now, close_gracefully };

// Hands buffered input to the processor, one request at a time.
service_result feed_input(connection *c) {
  vorn_http_data_processor_oline &p = c->processor;
  int idle_calls = 0;
  while (c->state == reading && c->input_start < c->input_end) {
    c->request_seen = 0;
    const int r = p.receive(c->input + c->input_start, c->input_end - c->input_start);
    if (r < 0) return close_now;
    c->input_start += r;
    if (p.discard_input) {
      // The processor rejected a header line and queued a 400 itself.
      log_request(c, 400, 0);
      c->state = responding;
      c->input_start = c->input_end;
      break;
    }
    if (p.failed) return close_now;
    // receive() may take nothing while it finishes a line or a message; it
    // always moves on within a few calls.
    if (r == 0 && !c->request_seen && ++idle_calls > 8) return close_now;
    if (r > 0) idle_calls = 0;
  }
  if (c->input_start == c->input_end) c->input_start = c->input_end = 0;
  return keep_open;
}

// Writes the queued response out. keep_open while it is in progress (waiting
// for the socket or the bucket) or complete on a connection that stays open.
service_result send_output(connection *c, long long now) {
  vorn_http_data_processor_oline &p = c->processor;
  for (;;) {
    if (c->output_start < c->output_end) {
      const int n = c->socket.write(c->output + c->output_start, c->output_end - c->output_start);
      if (n > 0) {
        c->output_start += n;
        c->last_progress_ns = now;
        continue;
      }
      if (n == net_would_block || n == net_interrupted || n == net_in_progress) return keep_open;
      return close_now;  // the client went away
    }
    if (c->state != responding || waiting_for_tokens(c, now)) return keep_open;
    const int n = p.get_tx_data(c->output, output_block);
    if (n < 0) return close_now;  // a failed processor, or a body cut short
    if (n > 0) {
      c->output_start = 0;
      c->output_end = n;
      continue;
    }
    // The queue is empty. With the body still open this cannot last: the
    // bucket refills or the next pull finds the rest of the file.
    if (c->body_fd >= 0) return keep_open;
    c->state = reading;
    if (c->close_called || p.failed) return close_gracefully;
    return keep_open;
  }
}

// Reads what the socket has, when this connection reads at all.
service_result read_input(connection *c, long long now) {
  if (c->state != reading || c->input_end > 0) return keep_open;
  if ((c->revents & (POLLIN | POLLHUP | POLLERR)) == 0) return keep_open;
  const int n = c->socket.read(c->input, input_block);
  if (n > 0) {
    c->input_start = 0;
    c->input_end = n;
    c->last_progress_ns = now;
    return keep_open;
  }
  if (n < 0 && vorn_network_error_is_temporary(n)) return keep_open;
  return close_now;  // closed by the client between requests, or an error
}

void start_lingering(connection *c, long long now) {
  ::shutdown(c->socket.descriptor, SHUT_WR);
  c->state = lingering;
  c->deadline_ns = now + linger_limit_ns;
  c->release_body();
}

// One turn of the loop for one connection; false when it is to be dropped.
bool service(connection *c, long long now) {
  if (c->revents & POLLNVAL) return false;
  if (c->state == lingering) {
    if (c->revents & (POLLIN | POLLHUP | POLLERR)) {
      // A bounded share per turn: a client may go on sending for a while.
      for (int reads = 0; reads < 16; ++reads) {
        const int n = c->socket.read(c->input, input_block);
        if (n > 0) continue;
        if (n < 0 && vorn_network_error_is_temporary(n)) break;
        return false;
      }
    }
    return now < c->deadline_ns;
  }

  // A peer that is gone while its response waits for the bucket.
  if (c->state == responding && (c->revents & (POLLERR | POLLHUP))) return false;

  service_result r = read_input(c, now);
  // Feeding and sending alternate: a finished keep-alive response lets the
  // next buffered request in, whose response is then sent right away.
  for (int turns = 0; r == keep_open && turns < 64; ++turns) {
    const connection_state before = c->state;
    const int input_before = c->input_end - c->input_start;
    if (c->state == reading) r = feed_input(c);
    if (r == keep_open && c->state == responding) r = send_output(c, now);
    if (c->state == before && c->input_end - c->input_start == input_before) break;
  }
  if (r == close_now) return false;
  if (r == close_gracefully) {
    start_lingering(c, now);
    return true;
  }
  return now - c->last_progress_ns < idle_limit_ns;
}

// The poll events a connection waits for.
short wanted_events(connection *c, long long now) {
  switch (c->state) {
    case lingering:
      return POLLIN;
    case reading:
      return c->input_end > 0 ? 0 : POLLIN;
    default:
      if (c->output_start < c->output_end) return POLLOUT;
      return waiting_for_tokens(c, now) ? 0 : POLLOUT;
  }
}

// The earliest moment at which a connection needs the loop without any event.
long long next_deadline(connection *c, long long now) {
  if (c->state == lingering) return c->deadline_ns;
  // Requests left buffered after a turn's share: no event will announce them.
  if (c->state == reading && c->input_end > c->input_start) return now;
  long long deadline = c->last_progress_ns + idle_limit_ns;
  if (c->state == responding && c->output_start == c->output_end && waiting_for_tokens(c, now)) {
    const double missing = wake_tokens(c->owner) - c->tokens;
    const long long refill_at =
        now + static_cast<long long>(missing * 1e9 / static_cast<double>(c->owner->throttle)) + 1;
    if (refill_at < deadline) deadline = refill_at;
  }
  return deadline;
}

connection *new_connection(server *s, long long now) {
  connection *c = new (std::nothrow) connection;
  if (c == nullptr) return nullptr;
  c->owner = s;
  c->last_progress_ns = now;
  c->refilled_ns = now;
  c->tokens = s->bucket_size;
  vorn_http_data_processor_oline &p = c->processor;
  p.user_data = c;
  p.message_received = on_request;
  p.message_complete = on_message_complete;
  p.content_data_received = on_body_data;
  p.content_body_get_tx_data = read_body;
  p.close_connection = on_close;
  return c;
}

void accept_connections(server *s, long long now) {
  for (;;) {
    sockaddr_in peer;
    socklen_t peer_length = sizeof peer;
    vorn_network_socket incoming;
    const int result =
        s->listener.accept(incoming, reinterpret_cast<sockaddr *>(&peer), &peer_length);
    if (result != 1) {
      if (result == net_out_of_descriptors) {
        // The waiting client stays queued; polling the listener meanwhile
        // would only spin, so accepting pauses for a moment.
        if (!s->accept_failure_reported)
          std::fprintf(stderr, "%s: out of descriptors; accepting waits\n", program_name);
        s->accept_failure_reported = 1;
        s->accept_paused_until_ns = now + accept_pause_ns;
      }
      return;
    }
    s->accept_failure_reported = 0;
    if (s->connection_count >= connection_limit) continue;  // closed at once
    connection *c = new_connection(s, now);
    if (c == nullptr) continue;
    if (!incoming.set_nonblocking()) {
      delete c;
      continue;
    }
    const int one = 1;
    setsockopt(incoming.descriptor, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    inet_ntop(AF_INET, &peer.sin_addr, c->peer, sizeof c->peer);
    c->socket.descriptor = incoming.descriptor;
    incoming.descriptor = -1;
    s->connections[s->connection_count++] = c;
  }
}

// --- Start-up and the loop ------------------------------------------------

// Diagnostics of the HTTP engine go to stderr, so that stdout holds nothing
// but the listening line and the request lines.
void send_library_messages_to_stderr() {
  vorn_client_set_debug_logfile_name("/dev/stderr");
  const int level = debug_level.load();
  debug_level = 0;  // the opening itself is not worth a line
  vorn_client_try_open_debug_logfile();
  debug_level = level;
}

bool install_signals(int stop_pipe[2]) {
  if (pipe2(stop_pipe, O_CLOEXEC | O_NONBLOCK) != 0) return false;
  stop_pipe_write = stop_pipe[1];
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  sigemptyset(&action.sa_mask);
  action.sa_handler = on_stop_signal;
  if (sigaction(SIGINT, &action, nullptr) != 0 || sigaction(SIGTERM, &action, nullptr) != 0)
    return false;
  action.sa_handler = SIG_IGN;
  return sigaction(SIGPIPE, &action, nullptr) == 0;
}

int start_listening(server *s, const server_options &options) {
  sockaddr_in address;
  std::memset(&address, 0, sizeof address);
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(options.port));
  inet_pton(AF_INET, options.bind_address, &address.sin_addr);
  if (!s->listener.create(AF_INET, SOCK_STREAM, 0) || !s->listener.set_reuse_address() ||
      !s->listener.bind(reinterpret_cast<sockaddr *>(&address), sizeof address) ||
      !s->listener.listen(listen_backlog) || !s->listener.set_nonblocking()) {
    std::fprintf(stderr, "%s: cannot listen on %s:%d: %s\n", program_name, options.bind_address,
                 options.port, std::strerror(errno));
    return 0;
  }
  socklen_t length = sizeof address;
  getsockname(s->listener.descriptor, reinterpret_cast<sockaddr *>(&address), &length);
  char shown[INET_ADDRSTRLEN];
  inet_ntop(AF_INET, &address.sin_addr, shown, sizeof shown);
  std::printf("listening on %s:%d\n", shown, ntohs(address.sin_port));
  std::fflush(stdout);
  return 1;
}

// 0 after a stop signal, 1 when polling failed.
int run(server *s, int stop_read) {
  static pollfd fds[connection_limit + 2];
  for (;;) {
    long long now = now_ns();
    long long deadline = LLONG_MAX;
    fds[0] = {stop_read, POLLIN, 0};
    const bool accepting = now >= s->accept_paused_until_ns;
    fds[1] = {s->listener.descriptor, static_cast<short>(accepting ? POLLIN : 0), 0};
    if (!accepting) deadline = s->accept_paused_until_ns;
    for (int i = 0; i < s->connection_count; ++i) {
      connection *c = s->connections[i];
      fds[i + 2] = {c->socket.descriptor, wanted_events(c, now), 0};
      const long long d = next_deadline(c, now);
      if (d < deadline) deadline = d;
    }
    int timeout = -1;
    if (deadline != LLONG_MAX) {
      const long long ms = deadline <= now ? 0 : (deadline - now + 999999) / 1000000;
      timeout = ms > INT_MAX ? INT_MAX : static_cast<int>(ms);
    }
    const int ready = poll(fds, static_cast<nfds_t>(s->connection_count + 2), timeout);
    if (ready < 0 && errno != EINTR) {
      std::fprintf(stderr, "%s: poll failed: %s\n", program_name, std::strerror(errno));
      return 1;
    }
    if (ready > 0 && (fds[0].revents & POLLIN)) return 0;

    now = now_ns();
    int kept = 0;
    const int count = s->connection_count;
    for (int i = 0; i < count; ++i) {
      connection *c = s->connections[i];
      c->revents = ready > 0 ? fds[i + 2].revents : 0;
      if (service(c, now)) {
        s->connections[kept++] = c;
      } else {
        delete c;
      }
    }
    s->connection_count = kept;
    if (ready > 0 && (fds[1].revents & POLLIN)) accept_connections(s, now);
  }
}

}  // namespace

int main(int argc, char **argv) {
  server_options options;
  const int parsed = parse_command_line(argc, argv, &options);
  if (parsed == 1) return 0;
  if (parsed != 0) return parsed;

  static server s;
  struct stat info;
  if (realpath(options.root, s.root_real) == nullptr || stat(s.root_real, &info) != 0 ||
      !S_ISDIR(info.st_mode))
    return usage_error("the root is not a directory: '", options.root);
  s.throttle = options.throttle;
  // A tenth of a second's worth: smooth enough to watch, coarse enough not to
  // wake for every few bytes.
  s.bucket_size = options.throttle / 10.0 < 1 ? 1 : options.throttle / 10.0;

  int stop_pipe[2];
  if (!install_signals(stop_pipe)) {
    std::fprintf(stderr, "%s: cannot set up signal handling: %s\n", program_name,
                 std::strerror(errno));
    return 1;
  }
  send_library_messages_to_stderr();
  if (!start_listening(&s, options)) return 1;

  const int status = run(&s, stop_pipe[0]);

  for (int i = 0; i < s.connection_count; ++i) delete s.connections[i];
  s.connection_count = 0;
  s.listener.close();
  private_socket_queue_buffer::drain_pool();
  return status;
}
