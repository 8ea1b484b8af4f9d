// virelan-update-server as a real process on loopback: each test starts the
// program from VIRELAN_BIN_DIR with --port 0 on a temporary root, reads the port
// from its "listening on" line, talks to it with curl, raw sockets or our own
// processor as the client, and stops it with a signal (which must end it with
// status 0).
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "common/test_support.h"
#include "gtest/gtest.h"
#include "http/http_processor.h"
#include "integration/loopback_peers.h"
#include "net/network_socket.h"

namespace {

using loopback_peers::find_program;
using loopback_peers::program_result;
using loopback_peers::run_program;
using testing_support::eventually;
using testing_support::read_file;
using testing_support::temp_dir;
using testing_support::write_file;

const std::string server_program = std::string(VIRELAN_BIN_DIR) + "/virelan-update-server";

// Deterministic bytes of every value, so that a shifted or dropped block shows.
std::string pattern_bytes(size_t size, unsigned seed) {
  std::string bytes(size, '\0');
  unsigned state = seed;
  for (size_t i = 0; i < size; ++i) {
    state = state * 1103515245u + 12345u;
    bytes[i] = static_cast<char>(state >> 16);
  }
  return bytes;
}

// Waits for `pid` for up to `seconds`; its exit status, 128 + signal, or -1
// when it is still running.
int wait_for_exit(pid_t pid, double seconds) {
  int status = 0;
  const bool ended = eventually(seconds, [&] { return waitpid(pid, &status, WNOHANG) == pid; });
  if (!ended) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// One running server. stop() signals it and reports how it ended.
class server_process {
 public:
  ~server_process() {
    if (pid_ > 0) stop();
  }

  // Starts the server on `root` with further arguments; false (with the
  // reason in `problem`) when it did not report a port within 10 s.
  bool start(const std::string &root, const std::vector<std::string> &extra = {}) {
    log_path_ = dir_ / "server.out";
    err_path_ = dir_ / "server.err";
    std::vector<std::string> args = {server_program, "--root", root, "--port", "0"};
    args.insert(args.end(), extra.begin(), extra.end());
    pid_ = fork();
    if (pid_ == 0) {
      int out = open(log_path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      int err = open(err_path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (out < 0 || err < 0) _exit(126);
      dup2(out, 1);
      dup2(err, 2);
      std::vector<char *> argv;
      for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
      argv.push_back(nullptr);
      execv(argv[0], argv.data());
      _exit(127);
    }
    bool ended = false;
    eventually(10, [&] {
      if (waitpid(pid_, nullptr, WNOHANG) == pid_) ended = true;
      return ended || log().find('\n') != std::string::npos;
    });
    if (ended) {
      pid_ = -1;
      problem = "the server ended at start-up: " + read_file(err_path_);
      return false;
    }
    const std::string first = log().substr(0, log().find('\n'));
    if (std::sscanf(first.c_str(), "listening on 127.0.0.1:%d", &port) != 1 || port <= 0) {
      problem = "no listening line, stdout: '" + log() + "'";
      return false;
    }
    return true;
  }

  // SIGTERM (or `signal`); the exit status, or -1 when it had to be killed.
  int stop(int signal = SIGTERM) {
    kill(pid_, signal);
    int status = wait_for_exit(pid_, 10);
    if (status == -1) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    pid_ = -1;
    return status;
  }

  bool running() const { return pid_ > 0 && waitpid(pid_, nullptr, WNOHANG) == 0; }
  std::string url(const std::string &path) const {
    return "http://127.0.0.1:" + std::to_string(port) + "/" + path;
  }
  std::string log() const { return read_file(log_path_); }
  std::string errors() const { return read_file(err_path_); }
  pid_t pid() const { return pid_; }

  int port = 0;
  std::string problem;

 private:
  temp_dir dir_;
  std::string log_path_;
  std::string err_path_;
  pid_t pid_ = -1;
};

// A blocking loopback connection to `port` that gives up reading after 10 s.
int connect_to(int port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address;
  std::memset(&address, 0, sizeof address);
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
    close(fd);
    return -1;
  }
  timeval limit = {10, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  return fd;
}

void send_text(int fd, const std::string &text) {
  ASSERT_EQ(send(fd, text.data(), text.size(), MSG_NOSIGNAL), static_cast<ssize_t>(text.size()));
}

// Everything the peer sends until it closes (or 10 s pass without a byte).
std::string read_until_close(int fd) {
  std::string all;
  char block[65536];
  for (;;) {
    ssize_t n = recv(fd, block, sizeof block, 0);
    if (n <= 0) return all;
    all.append(block, static_cast<size_t>(n));
  }
}

class UpdateServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root = work / "root";
    outside = work / "outside";
    ASSERT_EQ(mkdir(root.c_str(), 0755), 0);
    ASSERT_EQ(mkdir(outside.c_str(), 0755), 0);
  }

  void start_server(const std::vector<std::string> &extra = {}) {
    ASSERT_TRUE(server.start(root, extra)) << server.problem;
  }

  void TearDown() override {
    if (server.pid() > 0) {
      EXPECT_EQ(server.stop(), 0) << "stderr: " << server.errors();
    }
  }

  // curl -sS with a time limit, then `args`.
  program_result curl(std::vector<std::string> args) {
    args.insert(args.begin(), {"curl", "-sS", "--max-time", "30"});
    return run_program(args);
  }

  // The status code of one request made with `options` (the body goes to
  // `body_path` when given, else nowhere).
  std::string status_of(const std::vector<std::string> &options, const std::string &target,
                        const std::string &body_path = "/dev/null") {
    std::vector<std::string> args = {"-o", body_path, "-w", "%{http_code}"};
    args.insert(args.end(), options.begin(), options.end());
    args.push_back(target);
    return curl(args).out;
  }

  temp_dir work;
  temp_dir scratch;
  std::string root;
  std::string outside;
  server_process server;
};

#define REQUIRE_CURL()                                                \
  if (find_program({"/usr/bin/curl", "/usr/local/bin/curl"}).empty()) \
  GTEST_SKIP() << "curl is not installed; skipping"

TEST_F(UpdateServerTest, ServesFilesByteForByte) {
  REQUIRE_CURL();
  ASSERT_EQ(mkdir((root + "/builds").c_str(), 0755), 0);
  write_file(root + "/builds/small.bin", pattern_bytes(1234, 1));
  write_file(root + "/large.bin", pattern_bytes(8 * 1024 * 1024 + 17, 2));
  write_file(root + "/empty.bin", "");
  write_file(root + "/a b", "blank in the name\n");
  write_file(root + "/inner-target.txt", "reached through a link that stays inside\n");
  ASSERT_EQ(symlink("inner-target.txt", (root + "/inner-link").c_str()), 0);
  start_server();

  struct fetch {
    const char *request;
    const char *file;
  } cases[] = {
      {"builds/small.bin", "builds/small.bin"},
      {"large.bin", "large.bin"},
      {"empty.bin", "empty.bin"},
      {"a%20b", "a b"},
      {"builds%2Fsmall.bin", nullptr},  // an escaped "/" names no file
      {"inner-link", "inner-target.txt"},
      {"builds/small.bin?version=2", "builds/small.bin"},
  };
  for (const fetch &f : cases) {
    SCOPED_TRACE(f.request);
    const std::string body = scratch / "body";
    const std::string status = status_of({}, server.url(f.request), body);
    if (f.file == nullptr) {
      EXPECT_EQ(status, "404");
      continue;
    }
    EXPECT_EQ(status, "200");
    const std::string expected = read_file(root + "/" + f.file);
    const std::string got = read_file(body);
    EXPECT_EQ(got.size(), expected.size());
    EXPECT_TRUE(got == expected) << "the body differs from the file";
  }
  EXPECT_TRUE(server.running());
}

TEST_F(UpdateServerTest, HeadAnnouncesTheLengthWithoutABody) {
  REQUIRE_CURL();
  write_file(root + "/file.bin", pattern_bytes(4321, 3));
  start_server();

  program_result head = curl({"-I", "-w", "downloaded=%{size_download}", server.url("file.bin")});
  EXPECT_EQ(head.status, 0) << head.err;
  EXPECT_NE(head.out.find("HTTP/1.1 200 OK\r\n"), std::string::npos) << head.out;
  EXPECT_NE(head.out.find("Content-Length: 4321\r\n"), std::string::npos) << head.out;
  EXPECT_NE(head.out.find("Content-Type: application/octet-stream"), std::string::npos);
  EXPECT_NE(head.out.find("downloaded=0"), std::string::npos) << head.out;
  EXPECT_NE(server.log().find("\"HEAD /file.bin HTTP/1.1\" 200 0\n"), std::string::npos)
      << server.log();
}

TEST_F(UpdateServerTest, AnswersErrorsWithTheirStatus) {
  REQUIRE_CURL();
  ASSERT_EQ(mkdir((root + "/dir").c_str(), 0755), 0);
  write_file(root + "/file.bin", "x");
  ASSERT_EQ(mkfifo((root + "/fifo").c_str(), 0644), 0);  // must not hang the server
  start_server();

  struct request {
    std::vector<std::string> options;
    const char *path;
    const char *status;
  } cases[] = {
      {{}, "missing.bin", "404"},
      {{}, "dir", "404"},
      {{}, "dir/", "404"},
      {{}, "", "404"},  // the root itself
      {{}, "fifo", "404"},
      {{}, "file.bin/more", "404"},
      {{"-X", "DELETE"}, "file.bin", "501"},
      {{"--data", "x=1"}, "file.bin", "501"},
      {{"-H", "Content-Length: x"}, "file.bin", "400"},
      // ".." is refused as such, even where it would stay inside the root.
      {{"--path-as-is"}, "dir/../file.bin", "404"},
      {{"--path-as-is"}, "dir/%2E%2e/file.bin", "404"},
      {{"--path-as-is"}, "bad%zzescape", "400"},
      {{"--path-as-is"}, "bad%2", "400"},
      {{"--path-as-is"}, "nul%00.bin", "400"},
  };
  for (const request &r : cases) {
    SCOPED_TRACE(r.path);
    EXPECT_EQ(status_of(r.options, server.url(r.path)), r.status);
  }
  // Each refusal left the server serving.
  EXPECT_EQ(status_of({}, server.url("file.bin")), "200");
}

TEST_F(UpdateServerTest, NeverServesAFileOutsideTheRoot) {
  REQUIRE_CURL();
  write_file(outside + "/secret.txt", "SECRET\n");
  ASSERT_EQ(mkdir((root + "/sub").c_str(), 0755), 0);
  ASSERT_EQ(symlink((outside + "/secret.txt").c_str(), (root + "/link-out").c_str()), 0);
  ASSERT_EQ(symlink("../outside", (root + "/dir-out").c_str()), 0);
  ASSERT_EQ(symlink("../../outside/secret.txt", (root + "/sub/relative-out").c_str()), 0);
  start_server();

  const std::string origin = "http://127.0.0.1:" + std::to_string(server.port);
  struct attempt {
    std::vector<std::string> options;
    std::string url;
  } cases[] = {
      {{"--path-as-is"}, origin + "/../outside/secret.txt"},
      {{"--path-as-is"}, origin + "/sub/../../outside/secret.txt"},
      {{"--path-as-is"}, origin + "/%2e%2e/outside/secret.txt"},
      {{"--path-as-is"}, origin + "/%2E%2E%2Foutside%2Fsecret.txt"},
      {{"--path-as-is"}, origin + "/..%5coutside%5csecret.txt"},
      {{"--request-target", "/..\\outside\\secret.txt"}, origin + "/"},
      {{"--request-target", "http://127.0.0.1/../outside/secret.txt"}, origin + "/"},
      {{"--request-target", "/" + outside + "/secret.txt"}, origin + "/"},
      {{}, origin + "/link-out"},
      {{}, origin + "/dir-out/secret.txt"},
      {{}, origin + "/sub/relative-out"},
  };
  for (const attempt &a : cases) {
    SCOPED_TRACE(a.url + (a.options.size() > 1 ? " target " + a.options[1] : ""));
    const std::string body = scratch / "body";
    const std::string status = status_of(a.options, a.url, body);
    EXPECT_TRUE(status == "404" || status == "400") << status;
    EXPECT_EQ(read_file(body).find("SECRET"), std::string::npos);
  }
}

TEST_F(UpdateServerTest, LogsOneLinePerRequest) {
  REQUIRE_CURL();
  write_file(root + "/five.bin", "12345");
  start_server();
  status_of({}, server.url("five.bin"));
  status_of({}, server.url("none"));

  const std::string log = server.log();
  EXPECT_EQ(log.substr(0, 13), "listening on ");
  EXPECT_NE(log.find("\n127.0.0.1 \"GET /five.bin HTTP/1.1\" 200 5\n"), std::string::npos) << log;
  EXPECT_NE(log.find("\n127.0.0.1 \"GET /none HTTP/1.1\" 404 0\n"), std::string::npos) << log;
}

TEST_F(UpdateServerTest, KeepsTheConnectionAliveAcrossRequests) {
  REQUIRE_CURL();
  write_file(root + "/one.bin", pattern_bytes(100000, 4));
  write_file(root + "/two.bin", pattern_bytes(3000, 5));
  start_server();

  program_result r =
      curl({"-o", scratch / "one", "-o", scratch / "two", "-w", "%{http_code} %{num_connects}\n",
            server.url("one.bin"), server.url("two.bin")});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "200 1\n200 0\n");
  EXPECT_TRUE(read_file(scratch / "one") == read_file(root + "/one.bin"));
  EXPECT_TRUE(read_file(scratch / "two") == read_file(root + "/two.bin"));
}

TEST_F(UpdateServerTest, AnswersPipelinedRequestsInOrder) {
  // The second request arrives while the first body is still being read from
  // its file; it must wait for it, not be lost or mixed into it.
  const std::string first = pattern_bytes(300000, 6);
  write_file(root + "/first.bin", first);
  write_file(root + "/second.txt", "second");
  start_server();

  int fd = connect_to(server.port);
  ASSERT_GE(fd, 0);
  send_text(fd,
            "GET /first.bin HTTP/1.1\r\nHost: t\r\n\r\n"
            "HEAD /second.txt HTTP/1.1\r\nHost: t\r\n\r\n"
            "GET /second.txt HTTP/1.1\r\nHost: t\r\nConnection: close\r\n\r\n");
  const std::string all = read_until_close(fd);
  close(fd);

  const std::string head_one = "HTTP/1.1 200 OK\r\n";
  ASSERT_EQ(all.compare(0, head_one.size(), head_one), 0) << all.substr(0, 200);
  const size_t body_one = all.find("\r\n\r\n") + 4;
  EXPECT_NE(all.substr(0, body_one).find("Content-Length: 300000\r\n"), std::string::npos);
  ASSERT_GE(all.size(), body_one + first.size());
  EXPECT_TRUE(all.compare(body_one, first.size(), first) == 0) << "first body differs";
  const std::string rest = all.substr(body_one + first.size());
  const size_t second_head = rest.find("\r\n\r\n") + 4;
  EXPECT_NE(rest.substr(0, second_head).find("Content-Length: 6\r\n"), std::string::npos) << rest;
  const std::string third = rest.substr(second_head);
  EXPECT_EQ(third.substr(0, head_one.size()), head_one) << rest;
  EXPECT_NE(third.find("Connection: close\r\n"), std::string::npos);
  EXPECT_EQ(third.substr(third.size() - 10), "\r\n\r\nsecond");

  // More requests in one block than the server answers in one turn.
  fd = connect_to(server.port);
  ASSERT_GE(fd, 0);
  std::string many;
  for (int i = 0; i < 150; ++i) many += "HEAD /second.txt HTTP/1.1\r\nHost: t\r\n\r\n";
  send_text(fd, many + "GET /second.txt HTTP/1.1\r\nConnection: close\r\n\r\n");
  const std::string answers = read_until_close(fd);
  close(fd);
  size_t count = 0;
  for (size_t at = answers.find(head_one); at != std::string::npos;
       at = answers.find(head_one, at + 1))
    ++count;
  EXPECT_EQ(count, 151u);
  EXPECT_EQ(answers.substr(answers.size() - 6), "second");
}

TEST_F(UpdateServerTest, ClientsThatLeaveMidResponseDoNotStopTheServer) {
  REQUIRE_CURL();
  write_file(root + "/large.bin", pattern_bytes(8 * 1024 * 1024, 7));
  write_file(root + "/small.bin", "still here");
  start_server();

  for (int abort_with_reset = 0; abort_with_reset < 2; ++abort_with_reset) {
    SCOPED_TRACE(abort_with_reset ? "reset" : "close");
    int fd = connect_to(server.port);
    ASSERT_GE(fd, 0);
    send_text(fd, "GET /large.bin HTTP/1.1\r\nHost: t\r\n\r\n");
    char block[32768];
    ASSERT_GT(recv(fd, block, sizeof block, 0), 0);
    if (abort_with_reset) {
      linger now = {1, 0};
      setsockopt(fd, SOL_SOCKET, SO_LINGER, &now, sizeof now);
    }
    close(fd);
  }
  // A client that connects and leaves without a word.
  int silent = connect_to(server.port);
  ASSERT_GE(silent, 0);
  close(silent);

  const std::string body = scratch / "body";
  EXPECT_EQ(status_of({}, server.url("small.bin"), body), "200");
  EXPECT_EQ(read_file(body), "still here");
  EXPECT_TRUE(server.running());
}

TEST_F(UpdateServerTest, ThrottleSlowsDownloadsDown) {
  REQUIRE_CURL();
  write_file(root + "/400k.bin", pattern_bytes(400000, 8));
  start_server({"--throttle", "200000"});

  const std::string body = scratch / "body";
  const auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(status_of({}, server.url("400k.bin"), body), "200");
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  EXPECT_TRUE(read_file(body) == read_file(root + "/400k.bin"));
  // About 2 s at 200000 B/s; only a loose lower bound is asserted.
  EXPECT_GE(seconds, 1.0);

  // A response that ends the connection must still wait for the bucket, not
  // end while its queue runs dry between refills.
  write_file(root + "/100k.bin", pattern_bytes(100000, 11));
  for (const char *option : {"--http1.0", "-HConnection: close"}) {
    SCOPED_TRACE(option);
    EXPECT_EQ(status_of({option}, server.url("100k.bin"), body), "200");
    EXPECT_TRUE(read_file(body) == read_file(root + "/100k.bin"));
  }
}

TEST_F(UpdateServerTest, ClosesConnectionsBeyondTheLimitAtOnce) {
  REQUIRE_CURL();
  write_file(root + "/small.bin", "ok");
  start_server();

  std::vector<int> clients;
  for (int i = 0; i < 262; ++i) {
    int fd = connect_to(server.port);
    ASSERT_GE(fd, 0);
    clients.push_back(fd);
  }
  // The server keeps 256 idle connections; the others see their end soon.
  int closed = 0;
  eventually(10, [&] {
    closed = 0;
    for (int fd : clients) {
      pollfd p = {fd, POLLIN, 0};
      if (poll(&p, 1, 0) == 1) ++closed;
    }
    return closed >= 6;
  });
  EXPECT_EQ(closed, 6);
  for (int fd : clients) close(fd);

  EXPECT_EQ(status_of({}, server.url("small.bin")), "200");
}

TEST_F(UpdateServerTest, StopsWithStatusZeroOnInterruptDuringADownload) {
  write_file(root + "/large.bin", pattern_bytes(4 * 1024 * 1024, 9));
  start_server();
  int fd = connect_to(server.port);
  ASSERT_GE(fd, 0);
  send_text(fd, "GET /large.bin HTTP/1.1\r\nHost: t\r\n\r\n");
  char block[1024];
  ASSERT_GT(recv(fd, block, sizeof block, 0), 0);

  EXPECT_EQ(server.stop(SIGINT), 0) << server.errors();
  close(fd);
}

TEST_F(UpdateServerTest, OurOwnProcessorFetchesAFile) {
  const std::string content = pattern_bytes(1000003, 10);
  write_file(root + "/file.bin", content);
  start_server();

  struct client_state {
    std::string body;
    int status = 0;
    int complete = 0;
    int closed = 0;
  } state;
  vorn_http_data_processor_oline processor;
  processor.user_data = &state;
  processor.close_requested = 1;
  processor.message_received = [](vorn_http_data_processor_oline *p, void *user) {
    static_cast<client_state *>(user)->status = p->status_code;
    return 1;
  };
  processor.content_data_received = [](vorn_http_data_processor_oline *, void *user,
                                       const char *data, int length) {
    static_cast<client_state *>(user)->body.append(data, static_cast<size_t>(length));
    return 1;
  };
  processor.message_complete = [](vorn_http_data_processor_oline *, void *user) {
    ++static_cast<client_state *>(user)->complete;
    return 1;
  };
  processor.close_connection = [](vorn_http_data_processor_oline *, void *user) {
    static_cast<client_state *>(user)->closed = 1;
  };

  vorn_network_socket socket;
  ASSERT_EQ(socket.create(AF_INET, SOCK_STREAM, 0), 1);
  sockaddr_in address;
  std::memset(&address, 0, sizeof address);
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(server.port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(socket.connect(reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
  timeval limit = {10, 0};
  setsockopt(socket.descriptor, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);

  ASSERT_EQ(processor.start_http_GET("127.0.0.1", "file.bin"), 1);
  char block[8192];
  for (int n; (n = processor.get_tx_data(block, sizeof block)) > 0;)
    ASSERT_EQ(socket.write(block, n), n);
  while (!state.closed) {
    const int n = socket.read(block, sizeof block);
    ASSERT_GT(n, 0) << "the connection ended before the response was complete";
    ASSERT_EQ(processor.receive_all(block, n), 1);
  }
  EXPECT_EQ(state.status, 200);
  EXPECT_EQ(state.complete, 1);
  EXPECT_EQ(processor.content_length, static_cast<int>(content.size()));
  EXPECT_TRUE(state.body == content) << "the body differs from the file";
}

TEST(UpdateServerCommandLineTest, BadUsageEndsWithStatusTwo) {
  temp_dir scratch;
  write_file(scratch / "plain-file", "not a directory");
  const std::string dir = scratch.path();
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"--root", dir},
      {"--port", "0"},
      {"--root", dir, "--port"},
      {"--root", dir, "--port", "abc"},
      {"--root", dir, "--port", "70000"},
      {"--root", dir, "--port", "-1"},
      {"--root", dir, "--port", "0", "--throttle", "0"},
      {"--root", dir, "--port", "0", "--throttle", "fast"},
      {"--root", dir, "--port", "0", "--bind", "300.1.1.1"},
      {"--root", dir, "--port", "0", "--bind", "localhost"},
      {"--root", dir, "--port", "0", "--verbose"},
      {"--root", dir, "--port", "0", "extra"},
      {"--root", dir + "/missing", "--port", "0"},
      {"--root", scratch / "plain-file", "--port", "0"},
  };
  for (const std::vector<std::string> &arguments : cases) {
    std::vector<std::string> args = {server_program};
    args.insert(args.end(), arguments.begin(), arguments.end());
    std::string shown;
    for (const std::string &a : arguments) shown += " " + a;
    SCOPED_TRACE(shown);
    program_result r = run_program(args);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("virelan-update-server: "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("usage: "), std::string::npos);
    EXPECT_EQ(r.out, "");
  }

  program_result help = run_program({server_program, "--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.rfind("usage: virelan-update-server --root DIR --port N", 0), 0u) << help.out;
}

}  // namespace
