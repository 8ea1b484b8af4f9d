#include "net/tcp_socket.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>

#include <cerrno>
#include <cstring>

#include "net/tls_startup.h"
#include "support/debug_log.h"

namespace {

constexpr int module_network = 2;
// What select() called an exception on a TCP socket: urgent data.
constexpr short exception_events = POLLPRI;

void report(const char *text, int category) { debug_message(text, category, module_network); }

}  // namespace

vorn_tcp_socket::~vorn_tcp_socket() {
  if (socket.descriptor != -1) {
    report("Error in ~vorn_tcp_socket(), socket not closed.", 2);
    socket.close();
  }
  if (ssl != nullptr) SSL_free(ssl);
}

void vorn_tcp_socket::close() {
  state = state_unconnected;
  socket.close();
}

int vorn_tcp_socket::enable_ssl() {
  if (state != state_unconnected) {
    report("Error in vorn_tcp_socket::enable_ssl(), socket not in unconnected state.", 2);
    return 0;
  }
  if (ssl_enabled)
    report("Error in vorn_server_socket_writeable::make_ssl_capable(), socket already SSL enabled.",
           2);
  ssl_enabled = 1;
  return 1;
}

int vorn_tcp_socket::disable_ssl() {
  if (state != state_unconnected) {
    report("Error in vorn_tcp_socket::disable_ssl(), socket not in unconnected state.", 2);
    return 0;
  }
  ssl_enabled = 0;
  if (ssl != nullptr) {
    SSL_free(ssl);
    ssl = nullptr;
  }
  return 1;
}

int vorn_tcp_socket::start_nonblocking_connect(const sockaddr_in *server, int port) {
  if (state & (state_connecting | state_tls_handshake)) {
    last_error = net_in_progress;
    return -1;
  }
  if (state & state_connected) {
    last_error = net_is_connected;
    return -1;
  }
  if (socket.descriptor != -1) {
    report("Error in vorn_tcp_socket::start_nonblocking_connect(), socket not closed.", 2);
    socket.close();
  }
  if (!socket.create(AF_INET, SOCK_STREAM, 0)) {
    report("Error in vorn_tcp_socket::start_nonblocking_connect(), unable to create new socket?",
           1);
    last_error = net_out_of_descriptors;
    return -1;
  }
  state = state_connecting;
  if (server != nullptr) std::memcpy(&address, server, sizeof address);
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_family = AF_INET;
  socket.set_nonblocking();
  int r = socket.connect(reinterpret_cast<const sockaddr *>(&address), sizeof address);
  if (r == 0 || r == net_is_connected) {
    last_error = 0;
    return ssl_try_connect(0);
  }
  if (vorn_network_error_is_temporary(r) || r == net_already) {
    last_error = r;
    state = state_connecting;
    return 0;
  }
  last_error = r;
  close();
  return r;
}

int vorn_tcp_socket::ssl_setup_failed(const char *text) {
  report(text, 2);
  close();
  last_error = net_connection_reset;
  return -1;
}

int vorn_tcp_socket::ssl_try_connect(int blocking) {
  if (!ssl_enabled) {
    state = state_connected;
    return 1;
  }
  if (state != state_connecting)
    return ssl_setup_failed(
        "Error in vorn_tcp_socket::ssl_try_connect(), socket not in connecting state.");
  if (ssl != nullptr) SSL_free(ssl);
  ssl = ssl_context != nullptr ? SSL_new(ssl_context) : nullptr;
  if (ssl == nullptr) {
    report(
        "Unable to allocate SSL struct in vorn_tcp_socket::ssl_try_connect(), did you run "
        "vorn_ssl_startup()?",
        2);
    vorn_report_ssl_error(0);
    return 0;
  }
  // OpenSSL 3 reports a peer that closes without a TLS close notification as
  // an error; the HTTP framing above us tells a complete answer from a cut
  // one, so such a close counts as the orderly end it was with older
  // libraries.
  SSL_set_options(ssl, SSL_OP_IGNORE_UNEXPECTED_EOF);
  if (SSL_set_cipher_list(ssl, ssl_cipher_list) != 1)
    return ssl_setup_failed(
        "Error in vorn_tcp_socket::ssl_try_connect(), unable to set cipher list?");
  if (SSL_set_fd(ssl, socket.descriptor) != 1)
    return ssl_setup_failed("Error in vorn_tcp_socket::ssl_try_connect(), set_fd failed?");
  state = state_tls_handshake;
  if (!blocking) return ssl_retry_connect();
  socket.set_blocking();
  int r = ssl_retry_connect();
  socket.set_nonblocking();
  return r;
}

int vorn_tcp_socket::ssl_retry_connect() {
  if (ssl == nullptr) {
    report("Error in vorn_tcp_socket::ssl_retry_connect(), NULL ssl context?", 2);
    last_error = net_connection_reset;
    return -1;
  }
  ERR_clear_error();
  int r = SSL_connect(ssl);
  if (r == 1) {
    state = state_connected;
    return 1;
  }
  if (r == 0) {
    report(
        "Warning in vorn_tcp_socket::ssl_retry_connect(), SSL connect failed due to protocol "
        "issue.",
        128);
    last_error = net_connection_reset;
    return -1;
  }
  int kind = SSL_get_error(ssl, r);
  if (kind == SSL_ERROR_WANT_READ || kind == SSL_ERROR_WANT_WRITE) return 0;
  if (kind == SSL_ERROR_ZERO_RETURN) {
    report("Controlled ssl close in vorn_tcp_socket::ssl_retry_connect(), bailing.", 128);
  } else {
    report("SSL connect failed in vorn_tcp_socket::ssl_retry_connect().", 128);
    vorn_report_ssl_error(kind);
  }
  last_error = net_connection_reset;
  return -1;
}

int vorn_tcp_socket::connect_poll() {
  if (state & state_connected) {
    last_error = net_is_connected;
    return -1;
  }
  if (state & state_tls_handshake) return ssl_retry_connect();
  if (state & state_unconnected) {
    last_error = net_not_connected;
    return -1;
  }
  int ready = socket.wait(POLLOUT | exception_events, 0);
  if (ready < 0) {
    if (vorn_network_error_is_temporary(ready)) return 0;
    last_error = ready;
    close();
    return -1;
  }
  if (ready == 0) return 0;
  if (ready & exception_events) {
    last_error = net_connection_reset;
    close();
    return -1;
  }
  if (ready & POLLOUT) return ssl_try_connect(0);
  return 0;
}

int vorn_tcp_socket::poll_state() {
  if (state & state_connecting) connect_poll();
  return state;
}

int vorn_tcp_socket::blocking_connect(const sockaddr_in *server, int port, int timeout_ms) {
  int r = start_nonblocking_connect(server, port);
  if (r == 1) return 1;
  if (r < 0) return -1;
  if (state & state_tls_handshake) {
    // The TCP connect finished at once and the handshake wants more traffic:
    // finish it the blocking way, as after a wait.
    socket.set_blocking();
    r = ssl_retry_connect();
    socket.set_nonblocking();
    return r;
  }
  int ready = socket.wait(POLLOUT | exception_events, timeout_ms);
  if (ready < 0) {
    last_error = net_unknown_error;
    close();
    return -1;
  }
  if (ready == 0) {
    last_error = net_timeout;
    close();
    return -1;
  }
  if ((ready & exception_events) || !(ready & POLLOUT)) {
    last_error = net_connection_reset;
    close();
    return -1;
  }
  return ssl_try_connect(1);
}

int vorn_tcp_socket::nonblocking_read(char *buffer, int size) {
  if (!(state & state_connected)) {
    read_error = net_not_connected;
    return -1;
  }
  if (buffer == nullptr || size <= 0) return 0;
  if (ssl != nullptr) {
    ERR_clear_error();
    errno = 0;
    int n = SSL_read(ssl, buffer, size);
    if (n > 0) return n;
    int kind = SSL_get_error(ssl, n);
    if (kind == SSL_ERROR_WANT_READ || kind == SSL_ERROR_WANT_WRITE) return 0;
    if (kind == SSL_ERROR_ZERO_RETURN ||
        (kind == SSL_ERROR_SYSCALL && vorn_network_error_from_errno() == net_no_error)) {
      read_error = 0;
    } else {
      report("Unexpected ssl close in vorn_tcp_socket::nonblocking_read().", 256);
      read_error = net_connection_reset;
      vorn_report_ssl_error(kind);
    }
    close();
    return -1;
  }
  int n = socket.read(buffer, size);
  if (n > 0) return n;
  if (n == 0) {
    read_error = 0;
    close();
    return -1;
  }
  read_error = n;
  if (vorn_network_error_is_temporary(n)) return 0;
  close();
  return -1;
}

int vorn_tcp_socket::blocking_read(char *buffer, int size, int timeout_ms) {
  if (!(state & state_connected)) {
    read_error = net_not_connected;
    return -1;
  }
  if (buffer == nullptr || size <= 0) return 0;
  if (ssl != nullptr) {
    // Bytes the TLS layer already decrypted are invisible to a wait.
    int n = nonblocking_read(buffer, size);
    if (n != 0) return n;
  }
  int ready = socket.wait(POLLIN | exception_events, timeout_ms);
  if (ready == 0) return 0;
  if (ready < 0) {
    if (vorn_network_error_is_temporary(ready)) return 0;
    read_error = ready;
    close();
    return -1;
  }
  if (ready & exception_events) {
    read_error = net_connection_reset;
    close();
    return -1;
  }
  // An error or a hang-up shows in the read itself.
  if (ready & (POLLIN | POLLERR | POLLHUP)) return nonblocking_read(buffer, size);
  return 0;
}

int vorn_tcp_socket::nonblocking_write(const char *data, int length) {
  if (!(state & state_connected)) {
    last_error = net_not_connected;
    return -1;
  }
  if (data == nullptr || length <= 0) return 0;
  if (ssl != nullptr) {
    ERR_clear_error();
    int n = SSL_write(ssl, data, length);
    if (n > 0) return n;
    int kind = SSL_get_error(ssl, n);
    if (kind == SSL_ERROR_WANT_READ || kind == SSL_ERROR_WANT_WRITE) return 0;
    if (kind == SSL_ERROR_ZERO_RETURN) {
      last_error = 0;
      report("Clean SSL shutdown in vorn_tcp_socket::nonblocking_write().", 256);
    } else {
      last_error = net_connection_reset;
      report("Unexpected ssl close in vorn_tcp_socket::nonblocking_write().", 256);
    }
    close();
    return -1;
  }
  int n = socket.write(data, length);
  if (n >= 0) return n;
  last_error = n;
  if (vorn_network_error_is_temporary(n)) return 0;
  close();
  return -1;
}

int vorn_tcp_socket::blocking_write(const char *data, int length, int timeout_ms) {
  if (!(state & state_connected)) {
    last_error = net_not_connected;
    return -1;
  }
  if (data == nullptr || length <= 0) return 0;
  int ready = socket.wait(POLLOUT | exception_events, timeout_ms);
  if (ready == 0) return 0;
  if (ready < 0) {
    last_error = net_unknown_error;
    close();
    return -1;
  }
  if (ready & exception_events) {
    last_error = net_connection_reset;
    close();
    return -1;
  }
  if (ready & (POLLOUT | POLLERR | POLLHUP)) return nonblocking_write(data, length);
  return 0;
}
