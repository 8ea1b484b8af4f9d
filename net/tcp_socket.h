// vorn_tcp_socket: an IPv4 TCP client connection, non-blocking underneath and
// optionally wrapped in TLS, with operations that return at once or wait up to
// a timeout. The HTTP downloader owns one per download.
//
// States (callers test single bits): 1 unconnected, 2 TCP connect in progress,
// 4 TLS handshake in progress, 8 connected.
//
// The four transfer operations return the count of bytes moved (a write may
// move fewer than asked); 0 when nothing moved now and the connection is still
// usable (no data yet, TLS needs more traffic, the time ran out, or an empty
// buffer was passed); -1 when the connection is over. After -1 the socket is
// closed and `read_error` (reads) or `last_error` (writes) says why: for a read,
// 0 means the peer closed in an orderly way. A call on a socket that is not
// connected only sets the error field to -44 and returns -1.
//
// Waits use poll(), so any descriptor number works. Nothing is allocated per
// read, write or wait. TLS objects come from the process-wide context that
// vorn_ssl_startup() builds; the client does not verify the server's
// certificate and sends no server name.
//
// Threads: one thread at a time.
#ifndef VIRELAN_NET_TCP_SOCKET_H
#define VIRELAN_NET_TCP_SOCKET_H

#include <netinet/in.h>

#include "net/network_socket.h"

typedef struct ssl_st SSL;

class vorn_tcp_socket {
 public:
  static constexpr int state_unconnected = 1;
  static constexpr int state_connecting = 2;
  static constexpr int state_tls_handshake = 4;
  static constexpr int state_connected = 8;

  vorn_tcp_socket() = default;
  // Reports and closes a socket that is still open; frees the TLS object.
  ~vorn_tcp_socket();
  vorn_tcp_socket(const vorn_tcp_socket &) = delete;
  vorn_tcp_socket &operator=(const vorn_tcp_socket &) = delete;

  // Choose TLS or plain for the next connection; only while unconnected.
  int enable_ssl();
  int disable_ssl();
  // 1 connected (TLS finished too), 0 still in progress, negative failed.
  int start_nonblocking_connect(const sockaddr_in *server, int port);
  // 1 connected, 0 not finished, -1 failed (`last_error` holds the code). A
  // TLS handshake after the TCP connect runs on a blocking descriptor.
  int blocking_connect(const sockaddr_in *server, int port, int timeout_ms);
  // Advances an unfinished connect by one poll; returns the state.
  int poll_state();
  int nonblocking_read(char *buffer, int size);
  int blocking_read(char *buffer, int size, int timeout_ms);
  int nonblocking_write(const char *data, int length);
  int blocking_write(const char *data, int length, int timeout_ms);
  // State 1 and the descriptor closed; the TLS object stays until the next
  // handshake, disable_ssl() or destruction.
  void close();

  SSL *ssl = nullptr;
  int ssl_enabled = 0;
  vorn_network_socket socket;
  sockaddr_in address{};
  int state = state_unconnected;
  int read_error = 0;
  int last_error = 0;

 private:
  int ssl_try_connect(int blocking);
  int ssl_retry_connect();
  // One poll of a TCP connect in progress: 1 done, 0 not yet, -1 failed.
  int connect_poll();
  // The report for a step of the TLS set-up that failed, then the failure.
  int ssl_setup_failed(const char *report);
};

#endif  // VIRELAN_NET_TCP_SOCKET_H
