// The bottom of the network layer: library error codes for socket failures,
// a bare descriptor wrapper (vorn_network_socket), and IPv4 name resolution.
//
// Every failing system call is reported as a small negative library code with
// a fixed text (vorn_network_error_text). Four codes are temporary: "would
// block", "in progress", "interrupted" and "no error"; an operation meeting one
// of them has not failed, it has just not happened yet.
//
// Threads: the functions are reentrant; a vorn_network_socket belongs to one
// thread at a time.
#ifndef VIRELAN_NET_NETWORK_SOCKET_H
#define VIRELAN_NET_NETWORK_SOCKET_H

#include <netinet/in.h>
#include <sys/socket.h>

// Library error codes.
enum {
  net_unknown_error = -1,
  net_no_error = -2,
  net_uninitialized = -10,
  net_bad_argument = -11,
  net_fault = -12,
  net_out_of_descriptors = -13,
  net_out_of_memory = -14,
  net_message_size = -15,
  net_address_in_use = -16,
  net_broken_pipe = -20,
  net_connection_reset = -21,
  net_host_down = -22,
  net_host_unreachable = -23,
  net_network_down = -24,
  net_network_unreachable = -25,
  net_network_reset = -26,
  net_would_block = -30,
  net_in_progress = -31,
  net_interrupted = -32,
  net_connection_refused = -40,
  net_timeout = -41,
  net_already = -42,
  net_is_connected = -43,
  net_not_connected = -44,
};

// The code for `errno` as it is now.
int vorn_network_error_from_errno();
// The code for a given system error number.
int vorn_network_error_from_errno_value(int error_number);
// 1 for the four temporary codes.
int vorn_network_error_is_temporary(int code);
// The fixed text of a code; "unknown error" for codes without one.
const char *vorn_network_error_text(int code);

// 1 when `text` is four decimal numbers of 0..255 joined by three dots, with
// 4 to 12 digits in all and nothing else.
int vorn_network_is_dotted_ipv4(const char *text);
// Fills the family and the address of `address` (IPv4 only). 1 on success; 0
// leaves the record untouched.
int vorn_network_resolve_host(const char *host, sockaddr_in *address);

// One descriptor, -1 when closed. Results: see each call.
class vorn_network_socket {
 public:
  vorn_network_socket() = default;
  ~vorn_network_socket() { close(); }
  vorn_network_socket(const vorn_network_socket &) = delete;
  vorn_network_socket &operator=(const vorn_network_socket &) = delete;

  // 1 with the descriptor stored (close-on-exec), or 0.
  int create(int family, int type, int protocol);
  // 0, or a code.
  int connect(const sockaddr *address, socklen_t length);
  // The system's byte count (0 included), or a code.
  int read(void *buffer, int size);
  int write(const void *data, int length);
  void close();
  void shutdown();
  int set_reuse_address();
  // 1 on success.
  int bind(const sockaddr *address, socklen_t length);
  // Backlog 3 unless told otherwise (a server of many clients asks for more).
  int listen(int backlog = 3);
  // 1 with the new descriptor stored in `into` (close-on-exec), or a code.
  int accept(vorn_network_socket &into, sockaddr *peer, socklen_t *length);
  int set_blocking();
  int set_nonblocking();
  // Waits until the descriptor is ready for `events` (poll flags) or `timeout_ms`
  // ran out (negative: no limit). The ready flags (0 when the time ran out), or
  // a code.
  int wait(short events, int timeout_ms);

  int descriptor = -1;
};

#endif  // VIRELAN_NET_NETWORK_SOCKET_H
