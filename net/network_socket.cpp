#include "net/network_socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "support/debug_log.h"

namespace {

constexpr int module_network = 2;

// Linux error numbers 0..115 and their codes; everything else is unknown.
int code_of(int e) {
  switch (e) {
    case 0:
      return net_no_error;
    case EBADF:
    case EINVAL:
    case EBADFD:
    case ENOTSOCK:
      return net_bad_argument;
    case EFAULT:
      return net_fault;
    case ENFILE:
    case EMFILE:
      return net_out_of_descriptors;
    case ENOMEM:
    case ENOBUFS:
      return net_out_of_memory;
    case EMSGSIZE:
      return net_message_size;
    case EADDRINUSE:
      return net_address_in_use;
    case EPIPE:
    case ESHUTDOWN:
      return net_broken_pipe;
    case ECONNABORTED:
    case ECONNRESET:
      return net_connection_reset;
    case EHOSTDOWN:
      return net_host_down;
    case EHOSTUNREACH:
      return net_host_unreachable;
    case ENETDOWN:
      return net_network_down;
    case ENETUNREACH:
      return net_network_unreachable;
    case ENETRESET:
      return net_network_reset;
    case EAGAIN:
    case ERESTART:
      return net_would_block;
    case EINPROGRESS:
      return net_in_progress;
    case EINTR:
      return net_interrupted;
    case ECONNREFUSED:
      return net_connection_refused;
    case ETIMEDOUT:
      return net_timeout;
    case EALREADY:
      return net_already;
    case EISCONN:
      return net_is_connected;
    case ENOTCONN:
      return net_not_connected;
    default:
      return net_unknown_error;
  }
}

}  // namespace

int vorn_network_error_from_errno_value(int error_number) {
  if (error_number < 0 || error_number > 115) return net_unknown_error;
  return code_of(error_number);
}

int vorn_network_error_from_errno() { return vorn_network_error_from_errno_value(errno); }

int vorn_network_error_is_temporary(int code) {
  return code == net_would_block || code == net_in_progress || code == net_interrupted ||
         code == net_no_error;
}

const char *vorn_network_error_text(int code) {
  switch (code) {
    case net_no_error:
      return "no error";
    case net_uninitialized:
      return "network socket subsystem uninitialized";
    case net_bad_argument:
      return "bad function argument";
    case net_fault:
      return "address/segmentation fault";
    case net_out_of_descriptors:
      return "out of file descriptors";
    case net_out_of_memory:
      return "oom or buffer space";
    case net_message_size:
      return "data too big for operation";
    case net_address_in_use:
      return "address in use";
    case net_broken_pipe:
      return "broken network pipe";
    case net_connection_reset:
      return "connection aborted/reset";
    case net_host_down:
      return "remote host down";
    case net_host_unreachable:
      return "remote host unreachable";
    case net_network_down:
      return "network down";
    case net_network_unreachable:
      return "network unreachable";
    case net_network_reset:
      return "network was reset";
    case net_would_block:
      return "would block";
    case net_in_progress:
      return "in progress";
    case net_interrupted:
      return "interrupted";
    case net_connection_refused:
      return "connection refused";
    case net_timeout:
      return "timeout";
    case net_already:
      return "already done";
    case net_is_connected:
      return "already is connected";
    case net_not_connected:
      return "is not connected";
    default:
      return "unknown error";
  }
}

int vorn_network_is_dotted_ipv4(const char *text) {
  if (text == nullptr) return 0;
  int dots = 0;
  int digits = 0;
  const char *p = text;
  for (;;) {
    // One number of 1..3 digits (leading zeros allowed) and at most 255.
    int value = 0;
    int length = 0;
    while (*p >= '0' && *p <= '9') {
      value = value * 10 + (*p - '0');
      if (++length > 3 || value > 255) return 0;
      ++p;
    }
    if (length == 0) return 0;
    digits += length;
    if (*p == '\0') break;
    if (*p != '.' || ++dots > 3) return 0;
    ++p;
  }
  return dots == 3 && digits >= 4 && digits <= 12;
}

int vorn_network_resolve_host(const char *host, sockaddr_in *address) {
  if (host == nullptr || address == nullptr) return 0;
  if (vorn_network_is_dotted_ipv4(host)) {
    // The four numbers are decimal whatever their leading zeros: inet_addr()
    // would read "010" as octal and turn "08" into the broadcast address.
    uint32_t value = 0;
    const char *p = host;
    for (int part = 0; part < 4; ++part) {
      uint32_t number = 0;
      while (*p >= '0' && *p <= '9') number = number * 10 + static_cast<uint32_t>(*p++ - '0');
      value = value << 8 | number;
      if (*p == '.') ++p;
    }
    address->sin_family = AF_INET;
    address->sin_addr.s_addr = htonl(value);
    return 1;
  }
  addrinfo hints;
  std::memset(&hints, 0, sizeof hints);
  hints.ai_family = AF_INET;
  addrinfo *result = nullptr;
  if (getaddrinfo(host, nullptr, &hints, &result) != 0 || result == nullptr) return 0;
  int found = 0;
  for (addrinfo *r = result; r != nullptr; r = r->ai_next) {
    if (r->ai_family == AF_INET && r->ai_addr != nullptr) {
      address->sin_family = AF_INET;
      address->sin_addr = reinterpret_cast<const sockaddr_in *>(r->ai_addr)->sin_addr;
      found = 1;
      break;
    }
  }
  freeaddrinfo(result);
  return found;
}

int vorn_network_socket::create(int family, int type, int protocol) {
  // Close-on-exec: a launcher that execs the game client must not hand it an
  // open connection.
  descriptor = ::socket(family, type | SOCK_CLOEXEC, protocol);
  return descriptor >= 0 ? 1 : 0;
}

int vorn_network_socket::connect(const sockaddr *address, socklen_t length) {
  if (::connect(descriptor, address, length) == 0) return 0;
  return vorn_network_error_from_errno();
}

int vorn_network_socket::read(void *buffer, int size) {
  ssize_t n = ::read(descriptor, buffer, static_cast<size_t>(size));
  return n >= 0 ? static_cast<int>(n) : vorn_network_error_from_errno();
}

int vorn_network_socket::write(const void *data, int length) {
  // MSG_NOSIGNAL: a peer that went away gives "broken network pipe", never
  // SIGPIPE, even where the signal is not ignored.
  ssize_t n = ::send(descriptor, data, static_cast<size_t>(length), MSG_NOSIGNAL);
  if (n < 0 && errno == ENOTSOCK) n = ::write(descriptor, data, static_cast<size_t>(length));
  return n >= 0 ? static_cast<int>(n) : vorn_network_error_from_errno();
}

void vorn_network_socket::close() {
  if (descriptor != -1) {
    ::close(descriptor);
    descriptor = -1;
  }
}

void vorn_network_socket::shutdown() {
  if (descriptor != -1) ::shutdown(descriptor, SHUT_RDWR);
}

int vorn_network_socket::set_reuse_address() {
  int one = 1;
  return setsockopt(descriptor, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) == 0 ? 1 : 0;
}

int vorn_network_socket::bind(const sockaddr *address, socklen_t length) {
  return ::bind(descriptor, address, length) == 0 ? 1 : 0;
}

int vorn_network_socket::listen(int backlog) { return ::listen(descriptor, backlog) == 0 ? 1 : 0; }

int vorn_network_socket::accept(vorn_network_socket &into, sockaddr *peer, socklen_t *length) {
  int d = ::accept4(descriptor, peer, length, SOCK_CLOEXEC);
  if (d < 0) return vorn_network_error_from_errno();
  into.close();
  into.descriptor = d;
  return 1;
}

int vorn_network_socket::set_blocking() {
  int flags = fcntl(descriptor, F_GETFL, 0);
  if (flags < 0 || fcntl(descriptor, F_SETFL, flags & ~O_NONBLOCK) < 0) {
    debug_message("Error in vorn_network_socket::set_blocking(), setting blocking mode failed.", 2,
                  module_network);
    return 0;
  }
  return 1;
}

int vorn_network_socket::set_nonblocking() {
  int flags = fcntl(descriptor, F_GETFL, 0);
  if (flags < 0 || fcntl(descriptor, F_SETFL, flags | O_NONBLOCK) < 0) {
    debug_message(
        "Error in vorn_network_socket::set_nonblocking(), setting nonblocking mode failed.", 2,
        module_network);
    return 0;
  }
  return 1;
}

int vorn_network_socket::wait(short events, int timeout_ms) {
  // poll, not select: select cannot watch a descriptor numbered 1024 or above,
  // which a long-running process can reach.
  pollfd entry;
  entry.fd = descriptor;
  entry.events = events;
  entry.revents = 0;
  int n = ::poll(&entry, 1, timeout_ms < 0 ? -1 : timeout_ms);
  if (n < 0) return vorn_network_error_from_errno();
  if (n == 0) return 0;
  return entry.revents;
}
