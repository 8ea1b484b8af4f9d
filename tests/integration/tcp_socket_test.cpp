// The TCP socket against real peers on loopback (plain POSIX sockets in the
// test itself play the server), and the small pure functions of the layer
// below it: dotted-address recognition, name resolution, error codes and texts.
#include "net/tcp_socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "common/test_support.h"
#include "net/network_socket.h"

namespace {

using testing_support::log_capture;

sockaddr_in loopback(int port = 0) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return a;
}

bool descriptor_is_open(int fd) { return fd >= 0 && fcntl(fd, F_GETFD) != -1; }

// ---------------------------------------------------------------------------
// Pure functions.

struct dotted_case {
  const char *text;
  int expected;
};

TEST(DottedAddressTest, AcceptsFourNumbersOfAByteAndNothingElse) {
  const dotted_case cases[] = {
      {"10.0.0.1", 1},
      {"127.0.0.1", 1},
      {"0.0.0.0", 1},
      {"255.255.255.255", 1},
      {"001.002.003.004", 1},  // leading zeros, 12 digits
      {"256.1.1.1", 0},
      {"1.2.3.256", 0},
      {"1.2.3", 0},
      {"1.2.3.4.", 0},
      {"1.2.3.4.5", 0},
      {".1.2.3.4", 0},
      {"1..2.3", 0},
      {"1.2..3.4", 0},
      {"0001.0002.0003.0004", 0},  // 16 digits
      {"1000.1.1.1", 0},
      {"a.b.c.d", 0},
      {"1.2.3.4a", 0},
      {"1.2.3.-4", 0},
      {"+1.2.3.4", 0},
      {"1,2,3,4", 0},
      {"", 0},
      {" 1.2.3.4", 0},
      {"1.2.3.4 ", 0},
      {"1.2.3.4\n", 0},
      {"localhost", 0},
      {"example.org", 0},
  };
  for (const dotted_case &c : cases)
    EXPECT_EQ(c.expected, vorn_network_is_dotted_ipv4(c.text)) << '"' << c.text << '"';
  EXPECT_EQ(0, vorn_network_is_dotted_ipv4(nullptr));
}

TEST(ResolveHostTest, DottedAddressIsTakenAsItIs) {
  sockaddr_in a{};
  ASSERT_EQ(1, vorn_network_resolve_host("10.0.0.1", &a));
  EXPECT_EQ(AF_INET, a.sin_family);
  EXPECT_EQ(htonl(0x0a000001), a.sin_addr.s_addr);
  EXPECT_EQ(0, a.sin_port);
}

TEST(ResolveHostTest, NameIsLookedUp) {
  sockaddr_in a{};
  ASSERT_EQ(1, vorn_network_resolve_host("localhost", &a));
  EXPECT_EQ(AF_INET, a.sin_family);
  EXPECT_EQ(127u, ntohl(a.sin_addr.s_addr) >> 24);
}

TEST(ResolveHostTest, UnresolvableNameLeavesTheRecordUntouched) {
  sockaddr_in a = loopback(4242);
  const sockaddr_in before = a;
  EXPECT_EQ(0, vorn_network_resolve_host("nonexistent.invalid", &a));
  EXPECT_EQ(0, std::memcmp(&before, &a, sizeof a));
}

// Leading zeros do not make a number octal: the dotted test counts decimal
// digits, so the address must be read the same way.
TEST(ResolveHostTest, DottedNumbersAreDecimalWhateverTheirLeadingZeros) {
  struct {
    const char *text;
    const char *address;
  } cases[] = {{"08.0.0.1", "8.0.0.1"},
               {"010.0.0.1", "10.0.0.1"},
               {"127.000.000.001", "127.0.0.1"},
               {"255.255.255.255", "255.255.255.255"}};
  for (const auto &c : cases) {
    sockaddr_in a{};
    ASSERT_EQ(vorn_network_resolve_host(c.text, &a), 1) << c.text;
    char text[INET_ADDRSTRLEN];
    EXPECT_STREQ(inet_ntop(AF_INET, &a.sin_addr, text, sizeof text), c.address) << c.text;
    EXPECT_EQ(a.sin_family, AF_INET);
  }
}

struct text_case {
  int code;
  const char *text;
};

TEST(NetworkErrorTextTest, EveryCodeHasItsTextAndOthersAreUnknown) {
  const text_case cases[] = {
      {-2, "no error"},
      {-10, "network socket subsystem uninitialized"},
      {-11, "bad function argument"},
      {-12, "address/segmentation fault"},
      {-13, "out of file descriptors"},
      {-14, "oom or buffer space"},
      {-15, "data too big for operation"},
      {-16, "address in use"},
      {-20, "broken network pipe"},
      {-21, "connection aborted/reset"},
      {-22, "remote host down"},
      {-23, "remote host unreachable"},
      {-24, "network down"},
      {-25, "network unreachable"},
      {-26, "network was reset"},
      {-30, "would block"},
      {-31, "in progress"},
      {-32, "interrupted"},
      {-40, "connection refused"},
      {-41, "timeout"},
      {-42, "already done"},
      {-43, "already is connected"},
      {-44, "is not connected"},
      {-1, "unknown error"},
      // Gaps inside the range and codes outside it.
      {-3, "unknown error"},
      {-7, "unknown error"},
      {-17, "unknown error"},
      {-27, "unknown error"},
      {-33, "unknown error"},
      {-45, "unknown error"},
      {0, "unknown error"},
      {1, "unknown error"},
      {INT_MIN, "unknown error"},
  };
  for (const text_case &c : cases) EXPECT_STREQ(c.text, vorn_network_error_text(c.code)) << c.code;
}

TEST(NetworkErrorTextTest, OnlyTheFourNotYetCodesAreTemporary) {
  for (int code = -50; code <= 1; ++code) {
    const bool temporary = code == -2 || code == -30 || code == -31 || code == -32;
    EXPECT_EQ(temporary ? 1 : 0, vorn_network_error_is_temporary(code)) << code;
  }
}

struct errno_case {
  int error_number;
  int code;
};

TEST(NetworkErrorFromErrnoTest, SystemErrorsMapToLibraryCodes) {
  const errno_case cases[] = {
      {0, -2},
      {EBADF, -11},
      {EINVAL, -11},
      {EBADFD, -11},
      {ENOTSOCK, -11},
      {EFAULT, -12},
      {ENFILE, -13},
      {EMFILE, -13},
      {ENOMEM, -14},
      {ENOBUFS, -14},
      {EMSGSIZE, -15},
      {EADDRINUSE, -16},
      {EPIPE, -20},
      {ESHUTDOWN, -20},
      {ECONNABORTED, -21},
      {ECONNRESET, -21},
      {EHOSTDOWN, -22},
      {EHOSTUNREACH, -23},
      {ENETDOWN, -24},
      {ENETUNREACH, -25},
      {ENETRESET, -26},
      {EAGAIN, -30},
      {ERESTART, -30},
      {EINPROGRESS, -31},
      {EINTR, -32},
      {ECONNREFUSED, -40},
      {ETIMEDOUT, -41},
      {EALREADY, -42},
      {EISCONN, -43},
      {ENOTCONN, -44},
      // Not in the table.
      {EPERM, -1},
      {ENOENT, -1},
      {EACCES, -1},
      {EADDRNOTAVAIL, -1},
      // The table ends at 115 (EINPROGRESS); Linux numbers above it are unknown.
      {116, -1},
      {ECANCELED, -1},
      {EOWNERDEAD, -1},
      {EHWPOISON, -1},
      {1000, -1},
      {-1, -1},
      {INT_MAX, -1},
  };
  for (const errno_case &c : cases)
    EXPECT_EQ(c.code, vorn_network_error_from_errno_value(c.error_number)) << c.error_number;
  EXPECT_EQ(115, EINPROGRESS);
}

TEST(NetworkErrorFromErrnoTest, CurrentErrnoIsTranslated) {
  errno = ECONNREFUSED;
  EXPECT_EQ(-40, vorn_network_error_from_errno());
  errno = ESTALE;
  EXPECT_EQ(-1, vorn_network_error_from_errno());
}

// ---------------------------------------------------------------------------
// The socket against a peer in this process.

// A listening socket on a loopback port; the test accepts from it itself.
class TcpSocketTest : public ::testing::Test {
 protected:
  void SetUp() override {
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(listener_, 0);
    sockaddr_in a = loopback();
    socklen_t length = sizeof a;
    ASSERT_EQ(0, bind(listener_, reinterpret_cast<sockaddr *>(&a), sizeof a));
    ASSERT_EQ(0, getsockname(listener_, reinterpret_cast<sockaddr *>(&a), &length));
    ASSERT_EQ(0, listen(listener_, 8));
    port_ = ntohs(a.sin_port);
  }
  void TearDown() override {
    for (int fd : peers_) close(fd);
    if (listener_ >= 0) close(listener_);
  }

  // Connects `s` to the listener and returns the server's end.
  int connect_and_accept(vorn_tcp_socket &s) {
    const sockaddr_in server = loopback();
    EXPECT_EQ(1, s.blocking_connect(&server, port_, 2000));
    EXPECT_EQ(vorn_tcp_socket::state_connected, s.state);
    const int peer = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    EXPECT_GE(peer, 0);
    peers_.push_back(peer);
    return peer;
  }

  // Closes the server's end; with `reset`, by a reset instead of a FIN.
  void close_peer(int peer, bool reset) {
    if (reset) {
      const linger l{1, 0};
      setsockopt(peer, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    }
    close(peer);
    for (int &fd : peers_)
      if (fd == peer) fd = -1;
  }

  int listener_ = -1;
  int port_ = 0;
  std::vector<int> peers_;
};

TEST_F(TcpSocketTest, DataFlowsBothWaysAndASilentPeerTimesOut) {
  vorn_tcp_socket s;
  const int peer = connect_and_accept(s);

  ASSERT_EQ(5, s.blocking_write("hello", 5, 1000));
  char buffer[64];
  ASSERT_EQ(5, read(peer, buffer, sizeof buffer));
  EXPECT_EQ(0, std::memcmp(buffer, "hello", 5));

  EXPECT_EQ(0, s.nonblocking_read(buffer, sizeof buffer));
  EXPECT_EQ(0, s.blocking_read(buffer, sizeof buffer, 100));
  EXPECT_EQ(vorn_tcp_socket::state_connected, s.state);

  ASSERT_EQ(3, write(peer, "abc", 3));
  ASSERT_EQ(3, s.blocking_read(buffer, sizeof buffer, 1000));
  EXPECT_EQ(0, std::memcmp(buffer, "abc", 3));
  // Empty transfers move nothing and leave the connection usable.
  EXPECT_EQ(0, s.blocking_read(buffer, 0, 100));
  EXPECT_EQ(0, s.blocking_write(nullptr, 5, 100));
  EXPECT_EQ(vorn_tcp_socket::state_connected, s.state);
  s.close();
}

struct peer_end_case {
  const char *name;
  bool reset;
  int read_error;
};

TEST_F(TcpSocketTest, PeerEndClosesTheSocketAndSaysWhy) {
  const peer_end_case cases[] = {
      {"orderly close", false, 0},
      {"reset", true, net_connection_reset},
  };
  for (const peer_end_case &c : cases) {
    SCOPED_TRACE(c.name);
    vorn_tcp_socket s;
    s.read_error = 99;
    const int peer = connect_and_accept(s);
    ASSERT_EQ(4, write(peer, "last", 4));
    close_peer(peer, c.reset);

    char buffer[16];
    int n = s.blocking_read(buffer, sizeof buffer, 1000);
    // A reset may discard what was still unread; an orderly close never does.
    if (!c.reset) {
      ASSERT_EQ(4, n);
      n = s.blocking_read(buffer, sizeof buffer, 1000);
    } else if (n == 4) {
      n = s.blocking_read(buffer, sizeof buffer, 1000);
    }
    EXPECT_EQ(-1, n);
    EXPECT_EQ(c.read_error, s.read_error);
    EXPECT_EQ(vorn_tcp_socket::state_unconnected, s.state);
    EXPECT_EQ(-1, s.socket.descriptor);
  }
}

TEST_F(TcpSocketTest, WritingToAClosedPeerFailsWithoutEndingTheProcess) {
  // No SIGPIPE handler is installed here: the write itself must not raise it.
  vorn_tcp_socket s;
  const int peer = connect_and_accept(s);
  close_peer(peer, false);
  char block[4096] = {};
  int n = 0;
  for (int i = 0; i < 100 && n >= 0; ++i) {
    n = s.blocking_write(block, sizeof block, 1000);
    usleep(10 * 1000);
  }
  EXPECT_EQ(-1, n);
  EXPECT_TRUE(s.last_error == net_broken_pipe || s.last_error == net_connection_reset)
      << s.last_error;
  EXPECT_EQ(vorn_tcp_socket::state_unconnected, s.state);
}

TEST(TcpSocketUnconnectedTest, TransfersOnAnUnconnectedSocketOnlySetTheErrorField) {
  vorn_tcp_socket s;
  char buffer[8];

  EXPECT_EQ(-1, s.nonblocking_read(buffer, sizeof buffer));
  EXPECT_EQ(net_not_connected, s.read_error);
  EXPECT_EQ(0, s.last_error);
  EXPECT_EQ(vorn_tcp_socket::state_unconnected, s.state);
  EXPECT_EQ(-1, s.socket.descriptor);

  s.read_error = 0;
  EXPECT_EQ(-1, s.blocking_read(buffer, sizeof buffer, 100));
  EXPECT_EQ(net_not_connected, s.read_error);
  EXPECT_EQ(0, s.last_error);

  s.read_error = 0;
  EXPECT_EQ(-1, s.nonblocking_write("x", 1));
  EXPECT_EQ(net_not_connected, s.last_error);
  EXPECT_EQ(0, s.read_error);

  s.last_error = 0;
  EXPECT_EQ(-1, s.blocking_write("x", 1, 100));
  EXPECT_EQ(net_not_connected, s.last_error);
  EXPECT_EQ(vorn_tcp_socket::state_unconnected, s.state);
  EXPECT_EQ(-1, s.socket.descriptor);
}

TEST_F(TcpSocketTest, TlsChoiceIsRefusedOnceConnected) {
  vorn_tcp_socket s;
  connect_and_accept(s);
  log_capture log;

  EXPECT_EQ(0, s.enable_ssl());
  EXPECT_EQ(0, s.disable_ssl());

  EXPECT_EQ(0, s.ssl_enabled);
  EXPECT_EQ(
      "Error in vorn_tcp_socket::enable_ssl(), socket not in unconnected state.\n"
      "Error in vorn_tcp_socket::disable_ssl(), socket not in unconnected state.\n",
      log.text());
  EXPECT_EQ(vorn_tcp_socket::state_connected, s.state);
  s.close();
}

TEST(TcpSocketUnconnectedTest, EnablingTlsTwiceIsReportedButKept) {
  vorn_tcp_socket s;
  log_capture log;
  EXPECT_EQ(1, s.enable_ssl());
  EXPECT_EQ("", log.text());
  EXPECT_EQ(1, s.enable_ssl());
  EXPECT_EQ(1, s.ssl_enabled);
  EXPECT_NE(std::string::npos, log.text().find("socket already SSL enabled.")) << log.text();
  EXPECT_EQ(1, s.disable_ssl());
  EXPECT_EQ(0, s.ssl_enabled);
}

TEST_F(TcpSocketTest, NewConnectWhileConnectedIsRefusedAndKeepsTheConnection) {
  vorn_tcp_socket s;
  const int peer = connect_and_accept(s);
  const int descriptor = s.socket.descriptor;
  const sockaddr_in server = loopback();

  EXPECT_EQ(-1, s.start_nonblocking_connect(&server, port_));

  EXPECT_EQ(net_is_connected, s.last_error);
  EXPECT_EQ(vorn_tcp_socket::state_connected, s.state);
  EXPECT_EQ(descriptor, s.socket.descriptor);
  ASSERT_EQ(2, s.blocking_write("ok", 2, 1000));
  char buffer[4];
  EXPECT_EQ(2, read(peer, buffer, sizeof buffer));
  s.close();
}

// A listener whose accept queue is full drops further handshakes, so a
// connect to it stays in progress.
class UnansweredConnectTest : public TcpSocketTest {
 protected:
  void SetUp() override {
    TcpSocketTest::SetUp();
    ASSERT_EQ(0, listen(listener_, 0));
    // Fill the queue (a backlog of 0 still holds one connection).
    for (int i = 0; i < 4; ++i) {
      const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
      const sockaddr_in a = loopback(port_);
      connect(fd, reinterpret_cast<const sockaddr *>(&a), sizeof a);
      fillers_.push_back(fd);
    }
    usleep(50 * 1000);
  }
  void TearDown() override {
    for (int fd : fillers_) close(fd);
    TcpSocketTest::TearDown();
  }

  std::vector<int> fillers_;
};

TEST_F(UnansweredConnectTest, ConnectInProgressRefusesAnotherAndTimesOut) {
  vorn_tcp_socket s;
  const sockaddr_in server = loopback();
  const int r = s.start_nonblocking_connect(&server, port_);
  if (r != 0 || s.state != vorn_tcp_socket::state_connecting)
    GTEST_SKIP() << "the kernel answered a connect to a full queue (result " << r << ")";

  EXPECT_EQ(-1, s.start_nonblocking_connect(&server, port_));
  EXPECT_EQ(net_in_progress, s.last_error);
  EXPECT_EQ(vorn_tcp_socket::state_connecting, s.state);
  EXPECT_EQ(vorn_tcp_socket::state_connecting, s.poll_state());
  s.close();

  EXPECT_EQ(-1, s.blocking_connect(&server, port_, 300));
  EXPECT_EQ(net_timeout, s.last_error);
  EXPECT_EQ(vorn_tcp_socket::state_unconnected, s.state);
  EXPECT_EQ(-1, s.socket.descriptor);
}

TEST(TcpSocketRefusalTest, RefusedConnectSurfacesAtTheFirstWrite) {
  // Bound but not listening: every connection to the port is refused.
  const int holder = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(holder, 0);
  sockaddr_in a = loopback();
  socklen_t length = sizeof a;
  ASSERT_EQ(0, bind(holder, reinterpret_cast<sockaddr *>(&a), sizeof a));
  ASSERT_EQ(0, getsockname(holder, reinterpret_cast<sockaddr *>(&a), &length));
  vorn_tcp_socket s;
  const sockaddr_in server = loopback();

  // Writability alone counts as connected: the pending error is not fetched.
  EXPECT_EQ(1, s.blocking_connect(&server, ntohs(a.sin_port), 2000));
  EXPECT_EQ(vorn_tcp_socket::state_connected, s.state);
  EXPECT_EQ(-1, s.blocking_write("GET", 3, 1000));
  EXPECT_EQ(net_connection_refused, s.last_error);
  EXPECT_EQ(vorn_tcp_socket::state_unconnected, s.state);
  EXPECT_EQ(-1, s.socket.descriptor);
  close(holder);
}

TEST_F(TcpSocketTest, DestructionReportsAndClosesAnOpenSocket) {
  log_capture log;
  int descriptor = -1;
  {
    vorn_tcp_socket s;
    connect_and_accept(s);
    descriptor = s.socket.descriptor;
    ASSERT_TRUE(descriptor_is_open(descriptor));
  }
  EXPECT_FALSE(descriptor_is_open(descriptor));
  EXPECT_EQ("Error in ~vorn_tcp_socket(), socket not closed.\n", log.text());
}

TEST_F(TcpSocketTest, DescriptorAbove1024IsWaitedOn) {
  // Waiting with select() on such a descriptor writes past its fd_set.
  constexpr int wanted = 1100;
  rlimit saved;
  ASSERT_EQ(0, getrlimit(RLIMIT_NOFILE, &saved));
  rlimit raised = saved;
  if (raised.rlim_cur < wanted + 64) {
    if (raised.rlim_max < wanted + 64)
      GTEST_SKIP() << "the descriptor limit " << raised.rlim_max << " is too low";
    raised.rlim_cur = wanted + 64;
    ASSERT_EQ(0, setrlimit(RLIMIT_NOFILE, &raised));
  }
  const int base = open("/dev/null", O_RDONLY | O_CLOEXEC);
  ASSERT_GE(base, 0);
  std::vector<int> filler;
  for (int fd = dup(base); fd >= 0; fd = dup(base)) {
    filler.push_back(fd);
    if (fd >= wanted) break;
  }

  {
    vorn_tcp_socket s;
    const int peer = connect_and_accept(s);
    EXPECT_GT(s.socket.descriptor, 1024);
    char buffer[16];
    EXPECT_EQ(0, s.blocking_read(buffer, sizeof buffer, 50));
    ASSERT_EQ(4, write(peer, "ping", 4));
    EXPECT_EQ(4, s.blocking_read(buffer, sizeof buffer, 1000));
    EXPECT_EQ(4, s.blocking_write("pong", 4, 1000));
    EXPECT_EQ(4, read(peer, buffer, sizeof buffer));
    close_peer(peer, false);
    EXPECT_EQ(-1, s.blocking_read(buffer, sizeof buffer, 1000));
    EXPECT_EQ(0, s.read_error);
  }

  for (int fd : filler) close(fd);
  close(base);
  setrlimit(RLIMIT_NOFILE, &saved);
}

}  // namespace
