// The processor as the server of a real client: a small server on a loopback
// port, one processor per accepted connection, and curl run against it. The
// checks are curl's own view of each exchange (its exit code, its output byte
// for byte, whether it reused the connection), so they show what a peer that
// is not ours makes of the responses, the 100 continue, the chunked framing
// and the closes.
//
// The server runs in one thread of its own that owns every processor; the test
// thread only starts and stops it and reads the counters it keeps under a lock.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/test_support.h"
#include "http/http_processor.h"

namespace {

// --- Responses the server gives -------------------------------------------

const char hello_head[] =
    "HTTP/1.1 200 OK\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Length: 5\r\n\r\n";
const char missing_response[] =
    "HTTP/1.1 404 Not Found\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Length: "
    "8\r\n\r\nnot here";
const char bad_request[] =
    "HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
const char continue_head[] = "HTTP/1.1 100 continue\r\n\r\n";

std::string echo_response(const std::string &body) {
  return "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream; charset=utf-8\r\n"
         "Content-Length: " +
         std::to_string(body.size()) + "\r\n\r\n" + body;
}

// The body of the chunked paths: long enough for dozens of chunks, and not a
// multiple of the piece size, so the last chunk is a short one.
const std::string &long_body() {
  static const std::string body = [] {
    std::string s;
    for (int i = 0; s.size() < 100000; ++i) s += "line " + std::to_string(i) + " of the body\n";
    s += "end";
    return s;
  }();
  return body;
}

// --- The server ------------------------------------------------------------

class test_server;

// One accepted connection and the processor that speaks HTTP on it.
struct connection {
  int fd = -1;
  // Our side has said all it will (shutdown for writing); what still arrives
  // is read and dropped until the peer closes, so that a close never turns
  // into a reset that could destroy the response in flight.
  bool closing = false;
  bool close_requested = false;  // set by the processor's close_connection
  test_server *server = nullptr;
  vorn_http_data_processor_oline processor;
  std::string request_body;
  std::string response_body;
  size_t response_sent = 0;
  int tx_piece = 8192;  // most bytes handed to the processor per pull
};

class test_server {
 public:
  test_server() {
    listen_fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (listen_fd_ < 0 || bind(listen_fd_, reinterpret_cast<sockaddr *>(&address), size) != 0 ||
        listen(listen_fd_, 16) != 0 ||
        getsockname(listen_fd_, reinterpret_cast<sockaddr *>(&address), &size) != 0 ||
        pipe2(wake_, O_CLOEXEC) != 0) {
      return;
    }
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { run(); });
  }

  ~test_server() {
    if (thread_.joinable()) {
      const char stop = 's';
      (void)!write(wake_[1], &stop, 1);
      thread_.join();
    }
    for (int fd : {listen_fd_, wake_[0], wake_[1]})
      if (fd >= 0) close(fd);
  }

  test_server(const test_server &) = delete;
  test_server &operator=(const test_server &) = delete;

  // 0 when the server could not start.
  int port() const { return port_; }
  int connections() const { return connections_.load(); }
  // "METHOD /path[?query]" of every request whose head was accepted, in order,
  // joined by ", ".
  std::string requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
  }

  void note_request(const vorn_http_data_processor_oline &p) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!requests_.empty()) requests_ += ", ";
    requests_ += std::string(p.method) + " /" + p.path + (p.query[0] ? "?" : "") + p.query;
  }

 private:
  void run();
  void serve(connection &c);
  void accept_one(std::vector<std::unique_ptr<connection>> &open);

  int listen_fd_ = -1;
  int wake_[2] = {-1, -1};
  int port_ = 0;
  std::thread thread_;
  std::atomic<int> connections_{0};
  mutable std::mutex mutex_;
  std::string requests_;
};

connection *of(void *user_data) { return static_cast<connection *>(user_data); }

// Queues a response whose body is `body`, pulled by on_tx; a length of -1
// leaves the body's end to the framing (chunked) or to the close.
int respond(connection &c, int status, int type, const std::string &body, const char *reason,
            bool counted = true) {
  c.response_body = body;
  c.response_sent = 0;
  return c.processor.send_response(status, type, counted ? static_cast<int>(body.size()) : -1,
                                   reason);
}

int on_request(vorn_http_data_processor_oline *p, void *user_data) {
  connection &c = *of(user_data);
  c.server->note_request(*p);
  c.request_body.clear();
  p->allow_chunked_body = 0;
  c.tx_piece = 8192;
  const std::string path = p->path;
  if (std::strcmp(p->method, "POST") == 0) return 1;  // answered once the body is in
  if (path == "hello") return respond(c, 200, http_content_text_plain, "hello", "OK");
  if (path == "cookie") {
    // Reports the cookie the client sent back, if any, and (re)sets it.
    const char *seen = p->find_received_cookie("session");
    p->set_cookie("session", "abc123", "", 3600, 0);
    return respond(c, 200, http_content_text_plain, std::string("had ") + (seen ? seen : "none"),
                   "OK");
  }
  if (path == "chunked" || path == "stream") {
    // Both go out chunked in pieces of 3000 bytes; "chunked" knows its length
    // and keeps the connection, "stream" does not and closes after it.
    p->allow_chunked_body = 1;
    c.tx_piece = 3000;
    return respond(c, 200, http_content_text_plain, long_body(), "OK", path == "chunked");
  }
  return respond(c, 404, http_content_text_plain, "not here", "Not Found");
}

int on_body(vorn_http_data_processor_oline *, void *user_data, const char *data, int length) {
  of(user_data)->request_body.append(data, static_cast<size_t>(length));
  return 1;
}

int on_complete(vorn_http_data_processor_oline *p, void *user_data) {
  connection &c = *of(user_data);
  if (std::strcmp(p->method, "POST") != 0) return 1;
  return respond(c, 200, http_content_octet_stream, c.request_body, "OK");
}

int on_tx(vorn_http_data_processor_oline *, void *user_data, char *buffer, int maximum) {
  connection &c = *of(user_data);
  const size_t left = c.response_body.size() - c.response_sent;
  if (left == 0) return -1;
  size_t n = left < static_cast<size_t>(maximum) ? left : static_cast<size_t>(maximum);
  if (n > static_cast<size_t>(c.tx_piece)) n = static_cast<size_t>(c.tx_piece);
  std::memcpy(buffer, c.response_body.data() + c.response_sent, n);
  c.response_sent += n;
  return static_cast<int>(n);
}

void on_close(vorn_http_data_processor_oline *, void *user_data) {
  of(user_data)->close_requested = true;
}

bool send_all(int fd, const char *data, size_t size) {
  while (size > 0) {
    const ssize_t n = send(fd, data, size, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

void test_server::accept_one(std::vector<std::unique_ptr<connection>> &open) {
  const int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
  if (fd < 0) return;
  auto c = std::make_unique<connection>();
  c->fd = fd;
  c->server = this;
  vorn_http_data_processor_oline &p = c->processor;
  p.user_data = c.get();
  p.message_received = on_request;
  p.content_data_received = on_body;
  p.message_complete = on_complete;
  p.content_body_get_tx_data = on_tx;
  p.close_connection = on_close;
  open.push_back(std::move(c));
  ++connections_;
}

// One readable event on a connection: the block goes to the processor, and
// whatever it queued goes out at once.
void test_server::serve(connection &c) {
  char block[16384];
  const ssize_t n = recv(c.fd, block, sizeof block, 0);
  if (n < 0 && errno == EINTR) return;
  if (n <= 0) {
    if (!c.closing) c.processor.connection_closed();
    close(c.fd);
    c.fd = -1;
    return;
  }
  if (c.closing) return;
  bool ok = c.processor.receive_all(block, static_cast<int>(n)) >= 0;
  for (char out[8192]; ok;) {
    const int m = c.processor.get_tx_data(out, sizeof out);
    if (m == 0) break;
    ok = m > 0 && send_all(c.fd, out, static_cast<size_t>(m));
  }
  if (!ok || c.close_requested) {
    shutdown(c.fd, SHUT_WR);
    c.closing = true;
  }
}

void test_server::run() {
  std::vector<std::unique_ptr<connection>> open;
  for (;;) {
    std::vector<pollfd> watched = {{wake_[0], POLLIN, 0}, {listen_fd_, POLLIN, 0}};
    for (const auto &c : open) watched.push_back({c->fd, POLLIN, 0});
    if (poll(watched.data(), watched.size(), -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (watched[0].revents != 0) break;
    // Connections accepted now go to the end of `open`; the indexes of the
    // ones polled stay valid.
    if (watched[1].revents & POLLIN) accept_one(open);
    for (size_t i = 2; i < watched.size(); ++i)
      if (watched[i].revents != 0) serve(*open[i - 2]);
    for (size_t i = open.size(); i-- > 0;)
      if (open[i]->fd < 0) open.erase(open.begin() + static_cast<long>(i));
  }
  for (const auto &c : open) close(c->fd);
}

// --- Running curl ----------------------------------------------------------

std::string find_program(const char *name) {
  const char *path = std::getenv("PATH");
  std::string dirs = path != nullptr ? path : "/usr/bin:/bin";
  for (size_t start = 0; start <= dirs.size();) {
    size_t end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    const std::string candidate = dirs.substr(start, end - start) + "/" + name;
    struct stat st;
    if (stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
        access(candidate.c_str(), X_OK) == 0)
      return candidate;
    start = end + 1;
  }
  return "";
}

struct run_result {
  int exit_code = -1;  // 128 + signal when killed
  std::string out;
  std::string err;
};

// Runs `program` with `args` and collects both of its output streams.
run_result run_program(const std::string &program, const std::vector<std::string> &args) {
  run_result result;
  int out_pipe[2], err_pipe[2];
  if (pipe2(out_pipe, O_CLOEXEC) != 0) return result;
  if (pipe2(err_pipe, O_CLOEXEC) != 0) {
    close(out_pipe[0]);
    close(out_pipe[1]);
    return result;
  }
  std::vector<char *> argv;
  argv.push_back(const_cast<char *>(program.c_str()));
  for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
  argv.push_back(nullptr);

  const pid_t pid = fork();
  if (pid == 0) {
    dup2(out_pipe[1], 1);
    dup2(err_pipe[1], 2);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  close(out_pipe[1]);
  close(err_pipe[1]);
  pollfd streams[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
  std::string *sinks[2] = {&result.out, &result.err};
  int open_streams = 2;
  while (pid > 0 && open_streams > 0) {
    if (poll(streams, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (int i = 0; i < 2; ++i) {
      if (streams[i].fd < 0 || streams[i].revents == 0) continue;
      char block[65536];
      const ssize_t n = read(streams[i].fd, block, sizeof block);
      if (n > 0) {
        sinks[i]->append(block, static_cast<size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        streams[i].fd = -1;
        --open_streams;
      }
    }
  }
  close(out_pipe[0]);
  close(err_pipe[0]);
  int status = 0;
  if (pid > 0) {
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  return result;
}

class CurlAgainstOurServer : public ::testing::Test {
 protected:
  void SetUp() override {
    curl_ = find_program("curl");
    if (curl_.empty()) GTEST_SKIP() << "curl is not installed: these tests need it as the client";
    ASSERT_GT(server_.port(), 0) << "the loopback server did not start";
  }

  // Runs curl with `args`. Every operation (the start and each one after
  // "--next") gets the common options: no .curlrc, no proxy, no progress
  // meter, errors shown, and a time limit so that a response whose end curl
  // cannot find fails instead of hanging. "URL/x" stands for the server's /x.
  run_result curl(const std::vector<std::string> &args) {
    const std::vector<std::string> common = {"-sS", "--noproxy", "*", "--max-time", "10"};
    std::vector<std::string> full = {"-q"};
    full.insert(full.end(), common.begin(), common.end());
    const std::string base = "http://127.0.0.1:" + std::to_string(server_.port());
    for (const std::string &a : args) {
      full.push_back(a.compare(0, 4, "URL/") == 0 ? base + a.substr(3) : a);
      if (a == "--next") full.insert(full.end(), common.begin(), common.end());
    }
    return run_program(curl_, full);
  }

  // The request heads the server accepted since its record read `before`.
  std::string requests_since(const std::string &before) const {
    std::string added = server_.requests().substr(before.size());
    if (added.compare(0, 2, ", ") == 0) added.erase(0, 2);
    return added;
  }

  std::string curl_;
  // Declared before the server: the log is pointed at its file before the
  // server thread starts, and put back after that thread has ended.
  testing_support::log_capture log_;
  test_server server_;
};

struct exchange_case {
  const char *name;
  std::vector<std::string> args;
  std::string output;    // curl's standard output, byte for byte
  int connections;       // connections the server accepted
  const char *requests;  // request heads the server accepted
};

TEST_F(CurlAgainstOurServer, CurlReadsEveryResponseAsTheServerMeantIt) {
  testing_support::temp_dir dir;
  std::string upload;
  for (int i = 0; i < 70000; ++i) upload.push_back(static_cast<char>(i * 7 % 256));
  testing_support::write_file(dir / "upload", upload);
  const std::string kept = " [%{http_code} %{num_connects}]\n";

  const std::vector<exchange_case> cases = {
      {"GET", {"-i", "URL/hello"}, std::string(hello_head) + "hello", 1, "GET /hello"},
      {"unknown path", {"-i", "URL/missing"}, missing_response, 1, "GET /missing"},
      {"query", {"-i", "URL/hello?x=1"}, std::string(hello_head) + "hello", 1, "GET /hello?x=1"},
      {"HEAD has the length but no body", {"-I", "URL/hello"}, hello_head, 1, "HEAD /hello"},
      // With a 30-second wait for the 100 and a 10-second limit, curl only
      // succeeds when the 100 came.
      {"POST waits for the 100, then its body is echoed",
       {"-i", "-H", "Expect: 100-continue", "--expect100-timeout", "30", "--data-binary", "payload",
        "URL/echo"},
       continue_head + echo_response("payload"),
       1,
       "POST /echo"},
      {"70000 bytes of every value after the 100",
       {"-i", "-H", "Expect: 100-continue", "--expect100-timeout", "30", "--data-binary",
        "@" + (dir / "upload"), "URL/echo"},
       continue_head + echo_response(upload),
       1,
       "POST /echo"},
      {"POST without Expect gets the 100 anyway",
       {"-i", "--data-binary", "payload", "URL/echo"},
       continue_head + echo_response("payload"),
       1,
       "POST /echo"},
      {"empty POST",
       {"-i", "--data-binary", "", "URL/echo"},
       continue_head + echo_response(""),
       1,
       "POST /echo"},
      {"bad header line", {"-i", "-H", "Content-Length: abc", "URL/hello"}, bad_request, 1, ""},
      {"two requests on one connection",
       {"-w", kept, "URL/hello", "URL/missing"},
       "hello [200 1]\nnot here [404 0]\n",
       1,
       "GET /hello, GET /missing"},
      // The HEAD response leaves the connection ready for the next request.
      {"HEAD then GET on one connection",
       {"-I", "-w", kept, "URL/hello", "--next", "-w", kept, "URL/hello"},
       std::string(hello_head) + " [200 1]\nhello [200 0]\n",
       1,
       "HEAD /hello, GET /hello"},
      // The connection stays open, so curl finds the end of each body only by
      // the last chunk and the empty line after it.
      {"chunked bodies on one connection",
       {"-w", kept, "URL/chunked", "URL/chunked"},
       long_body() + " [200 1]\n" + long_body() + " [200 0]\n",
       1,
       "GET /chunked, GET /chunked"},
      {"chunked body of unknown length, then a close",
       {"-i", "URL/stream", "URL/hello"},
       "HTTP/1.1 200 OK\r\nContent-Type: text/plain; charset=utf-8\r\nTransfer-Encoding: "
       "chunked\r\nConnection: close\r\n\r\n" +
           long_body() + hello_head + "hello",
       2,
       "GET /stream, GET /hello"},
  };

  for (const exchange_case &c : cases) {
    SCOPED_TRACE(c.name);
    const int connections_before = server_.connections();
    const std::string requests_before = server_.requests();
    const run_result r = curl(c.args);
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out.size(), c.output.size());
    EXPECT_TRUE(r.out == c.output) << "curl printed:\n" << r.out.substr(0, 2000);
    EXPECT_EQ(server_.connections() - connections_before, c.connections);
    EXPECT_EQ(requests_since(requests_before), c.requests);
  }
}

TEST_F(CurlAgainstOurServer, ACookieSetByTheServerComesBackFromCurlsJar) {
  testing_support::temp_dir dir;
  const std::string jar = dir / "cookies.txt";

  run_result first = curl({"-i", "-c", jar, "URL/cookie"});
  EXPECT_EQ(first.exit_code, 0) << first.err;
  EXPECT_NE(first.out.find("\r\nSet-Cookie: session=abc123; Domain=; Path=/; Max-Age=3600; "
                           "HttpOnly\r\n"),
            std::string::npos)
      << first.out;
  EXPECT_EQ(first.out.substr(first.out.find("\r\n\r\n") + 4), "had none");
  const std::string stored = testing_support::read_file(jar);
  EXPECT_NE(stored.find("\tsession\tabc123"), std::string::npos) << stored;

  run_result second = curl({"-b", jar, "URL/cookie"});
  EXPECT_EQ(second.exit_code, 0) << second.err;
  EXPECT_EQ(second.out, "had abc123");
}

// A raw client this time, for what curl forgives or cannot show: every byte
// the server sends up to its close. The close itself is part of the check: the
// read ends only when the server ends the connection.
TEST_F(CurlAgainstOurServer, ARawClientGetsExactlyTheseBytesBeforeTheClose) {
  const struct {
    const char *name;
    std::string sent;
    std::string received;
    const char *requests;
    const char *log;  // the server's log meanwhile
  } cases[] = {
      {"rejected header line: 400, the request behind it never read",
       "GET /hello HTTP/1.1\r\nHost: x\r\nContent-Length: abc\r\n\r\n"
       "GET /hello HTTP/1.1\r\nHost: x\r\n\r\n",
       bad_request, "",
       "Warning in vorn_http_data_processor_oline::header_line_parse(), got bad content length, "
       "line: Content-Length: abc\n"},
      {"HEAD: the head and not one body byte",
       "HEAD /hello HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n",
       "HTTP/1.1 200 OK\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Length: "
       "5\r\nConnection: close\r\n\r\n",
       "HEAD /hello", ""},
      {"pipelined requests answered in order",
       "GET /hello HTTP/1.1\r\n\r\nGET /missing HTTP/1.1\r\nConnection: close\r\n\r\n",
       std::string(hello_head) + "hello" +
           "HTTP/1.1 404 Not Found\r\nContent-Type: text/plain; charset=utf-8\r\n"
           "Content-Length: 8\r\nConnection: close\r\n\r\nnot here",
       "GET /hello, GET /missing", ""},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    const std::string requests_before = server_.requests();
    const std::string log_before = log_.text();
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(fd, 0);
    timeval limit{10, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(server_.port()));
    ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
    ASSERT_TRUE(send_all(fd, c.sent.data(), c.sent.size()));

    std::string received;
    ssize_t n;
    char block[4096];
    while ((n = recv(fd, block, sizeof block, 0)) > 0)
      received.append(block, static_cast<size_t>(n));
    const int error = n < 0 ? errno : 0;
    close(fd);
    EXPECT_EQ(n, 0) << "no end of the connection within 10 s: " << std::strerror(error);
    EXPECT_EQ(received, c.received);
    EXPECT_EQ(requests_since(requests_before), c.requests);
    EXPECT_EQ(log_.text().substr(log_before.size()), c.log);
  }
}

}  // namespace
