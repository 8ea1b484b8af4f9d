// Real servers for the integration tests of the network code, each started on a
// loopback port by its start() and stopped (SIGTERM, then waited for) by its
// destructor: Debian's nginx serving a directory, the crafted Python server
// (crafted_server.py beside this file) for unusual and broken answers, and
// `openssl s_server -WWW` serving a directory over TLS with a throw-away
// certificate.
//
// start() returns false and fills `why` when the peer cannot run on this
// machine (program missing, port taken, no answer); the tests then skip with
// that text. Each peer owns a temporary directory that holds its
// configuration, its logs and the files it serves.
//
// The crafted server is found through VIRELAN_TEST_DIR, this file's
// directory, which the test program's CMake target defines.
//
// Beside the peers, a few helpers for what the tests serve and run:
// compress_text() (a gzip file or a zlib stream of a text), make_directories()
// and run_program() (a tool run to its end, with its status and output).
//
// Children are started with fork/exec from the test's main thread, with every
// descriptor above 2 closed and a parent-death signal, so a crashed test
// leaves no server behind.
#ifndef VIRELAN_TESTS_INTEGRATION_LOOPBACK_PEERS_H
#define VIRELAN_TESTS_INTEGRATION_LOOPBACK_PEERS_H

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "common/test_support.h"

namespace loopback_peers {

inline sockaddr_in loopback_address(int port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return a;
}

// A port that was free a moment ago. Another process may take it before the
// peer binds it; the peers that need this retry with a new port.
inline int free_loopback_port() {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_in a = loopback_address(0);
  socklen_t length = sizeof a;
  int port = -1;
  if (bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr *>(&a), &length) == 0)
    port = ntohs(a.sin_port);
  close(fd);
  return port;
}

inline bool port_accepts(int port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_in a = loopback_address(port);
  bool ok = connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
  close(fd);
  return ok;
}

// Creates `path` and its missing parents, world-readable (nginx's worker must
// enter them). True when the directory exists afterwards.
inline bool make_directories(const std::string &path) {
  for (size_t at = path.find('/', 1); at != std::string::npos; at = path.find('/', at + 1))
    mkdir(path.substr(0, at).c_str(), 0755);
  mkdir(path.c_str(), 0755);
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// `text` compressed as a gzip file (`gzip_format` true) or as a zlib stream.
inline std::string compress_text(const std::string &text, bool gzip_format) {
  z_stream z{};
  // 15 + 16 asks for a gzip header and trailer, 15 alone for zlib's.
  if (deflateInit2(&z, 9, Z_DEFLATED, gzip_format ? 31 : 15, 9, Z_DEFAULT_STRATEGY) != Z_OK)
    std::abort();
  std::string out(deflateBound(&z, static_cast<uLong>(text.size())) + 64, '\0');
  z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(text.data()));
  z.avail_in = static_cast<uInt>(text.size());
  z.next_out = reinterpret_cast<Bytef *>(&out[0]);
  z.avail_out = static_cast<uInt>(out.size());
  if (deflate(&z, Z_FINISH) != Z_STREAM_END) std::abort();
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

// What a program run to its end left behind.
struct program_result {
  int status = -1;  // exit status, 128 + signal, or -1 when it could not run
  std::string out;  // standard output
  std::string err;  // standard error
};

// Runs argv[0] (a path, or a name looked up in PATH) with standard input from
// /dev/null and waits for it, up to `timeout_s` (then it is killed).
inline program_result run_program(const std::vector<std::string> &argv, int timeout_s = 60) {
  program_result result;
  testing_support::temp_dir dir;
  const std::string out_path = dir / "out", err_path = dir / "err";
  std::vector<char *> args;
  for (const std::string &a : argv) args.push_back(const_cast<char *>(a.c_str()));
  args.push_back(nullptr);
  const pid_t pid = fork();
  if (pid < 0) return result;
  if (pid == 0) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    int in = open("/dev/null", O_RDONLY);
    int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (in < 0 || out < 0 || err < 0) _exit(127);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    syscall(SYS_close_range, 3u, ~0u, 0u);
    execvp(args[0], args.data());
    _exit(127);
  }
  int status = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeout_s);
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  if (WIFEXITED(status)) result.status = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.status = 128 + WTERMSIG(status);
  result.out = testing_support::read_file(out_path);
  result.err = testing_support::read_file(err_path);
  return result;
}

// The first of `candidates` that is an executable file, or "".
inline std::string find_program(const std::vector<std::string> &candidates) {
  for (const std::string &c : candidates)
    if (access(c.c_str(), X_OK) == 0) return c;
  return "";
}

// One child process with its standard output on a pipe.
class child_process {
 public:
  child_process() = default;
  ~child_process() { stop(); }
  child_process(const child_process &) = delete;
  child_process &operator=(const child_process &) = delete;

  // Runs argv[0] (a path, or a name looked up in PATH) in `directory` (empty:
  // this one), standard error appended to `stderr_path`.
  bool start(const std::vector<std::string> &argv, const std::string &directory,
             const std::string &stderr_path) {
    int pipe_ends[2];
    if (pipe2(pipe_ends, O_CLOEXEC) != 0) return false;
    // Everything the child needs is prepared here: after fork only
    // async-signal-safe calls are allowed.
    std::vector<char *> args;
    for (const std::string &a : argv) args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    const pid_t parent = getpid();
    pid_ = fork();
    if (pid_ < 0) {
      close(pipe_ends[0]);
      close(pipe_ends[1]);
      return false;
    }
    if (pid_ == 0) {
      prctl(PR_SET_PDEATHSIG, SIGTERM);
      if (getppid() != parent) _exit(127);
      int err = open(stderr_path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
      int in = open("/dev/null", O_RDONLY);
      if (err < 0 || in < 0) _exit(127);
      dup2(in, 0);
      dup2(pipe_ends[1], 1);
      dup2(err, 2);
      syscall(SYS_close_range, 3u, ~0u, 0u);
      if (!directory.empty() && chdir(directory.c_str()) != 0) _exit(127);
      execvp(args[0], args.data());
      _exit(127);
    }
    close(pipe_ends[1]);
    stdout_ = pipe_ends[0];
    return true;
  }

  // The next line of the child's standard output without its line end; false
  // when none came within `timeout_ms` or the child closed its output.
  bool read_line(std::string *line, int timeout_ms) {
    line->clear();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                            deadline - std::chrono::steady_clock::now())
                            .count();
      if (left <= 0) return false;
      pollfd p{stdout_, POLLIN, 0};
      if (poll(&p, 1, static_cast<int>(left)) <= 0) continue;
      char c;
      if (read(stdout_, &c, 1) != 1) return false;
      if (c == '\n') return true;
      line->push_back(c);
    }
  }

  bool running() {
    if (pid_ <= 0) return false;
    int status;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      return false;
    }
    return true;
  }

  void stop() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      int status;
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
      while (waitpid(pid_, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
          kill(pid_, SIGKILL);
          waitpid(pid_, &status, 0);
          break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
      pid_ = -1;
    }
    if (stdout_ >= 0) close(stdout_);
    stdout_ = -1;
  }

 private:
  pid_t pid_ = -1;
  int stdout_ = -1;
};

// nginx serving root() on 127.0.0.1:port, as a foreground master with one
// worker. Run as root, the worker drops to nobody, so the served tree is
// made world-readable.
class nginx_server {
 public:
  bool start(std::string *why) {
    const std::string program = find_program({"/usr/sbin/nginx", "/usr/bin/nginx"});
    if (program.empty()) {
      *why = "nginx is not installed (Debian package nginx-light or nginx)";
      return false;
    }
    chmod(dir_.path().c_str(), 0755);
    mkdir(root().c_str(), 0755);
    for (int attempt = 0; attempt < 3; ++attempt) {
      port_ = free_loopback_port();
      write_config();
      if (!process_.start({program, "-p", dir_.path(), "-e", dir_ / "error.log", "-c",
                           dir_ / "nginx.conf", "-g", "daemon off;"},
                          "", dir_ / "stderr.log")) {
        *why = "cannot start " + program;
        return false;
      }
      if (testing_support::eventually(5,
                                      [&] { return !process_.running() || port_accepts(port_); }) &&
          process_.running())
        return true;
      process_.stop();
    }
    *why = "nginx did not start: " + testing_support::read_file(dir_ / "error.log") +
           testing_support::read_file(dir_ / "stderr.log");
    return false;
  }

  // Puts a file under the served root, readable by the worker; the
  // directories of a name with "/" are created.
  void publish(const std::string &name, const std::string &content) {
    const std::string path = root() + "/" + name;
    make_directories(path.substr(0, path.rfind('/')));
    testing_support::write_file(path, content);
    chmod(path.c_str(), 0644);
  }

  std::string root() const { return dir_ / "www"; }
  int port() const { return port_; }

 private:
  void write_config() {
    const std::string d = dir_.path();
    testing_support::write_file(d + "/nginx.conf", "pid " + d +
                                                       "/nginx.pid;\n"
                                                       "error_log " +
                                                       d +
                                                       "/error.log;\n"
                                                       "worker_processes 1;\n"
                                                       "events { worker_connections 64; }\n"
                                                       "http {\n"
                                                       "  access_log " +
                                                       d +
                                                       "/access.log;\n"
                                                       "  client_body_temp_path " +
                                                       d +
                                                       "/client_body;\n"
                                                       "  proxy_temp_path " +
                                                       d +
                                                       "/proxy;\n"
                                                       "  fastcgi_temp_path " +
                                                       d +
                                                       "/fastcgi;\n"
                                                       "  uwsgi_temp_path " +
                                                       d +
                                                       "/uwsgi;\n"
                                                       "  scgi_temp_path " +
                                                       d +
                                                       "/scgi;\n"
                                                       "  server {\n"
                                                       "    listen 127.0.0.1:" +
                                                       std::to_string(port_) +
                                                       ";\n"
                                                       "    root " +
                                                       root() +
                                                       ";\n"
                                                       "  }\n"
                                                       "}\n");
  }

  testing_support::temp_dir dir_;
  child_process process_;
  int port_ = -1;
};

// crafted_server.py on a port of its own choosing; `arguments` are added to
// its command line (--mode, --body, --raw, --stall, ...).
class crafted_server {
 public:
  bool start(const std::vector<std::string> &arguments, std::string *why) {
    std::vector<std::string> argv = {"python3", VIRELAN_TEST_DIR "/crafted_server.py", "--log",
                                     log_path()};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    if (!process_.start(argv, "", dir_ / "stderr.log")) {
      *why = "cannot start python3";
      return false;
    }
    std::string line;
    if (!process_.read_line(&line, 10000) || (port_ = std::atoi(line.c_str())) <= 0) {
      *why = "crafted_server.py did not start: " + testing_support::read_file(dir_ / "stderr.log");
      return false;
    }
    return true;
  }

  // Connections the server has accepted so far.
  int connections() const {
    const std::string log = testing_support::read_file(log_path());
    int n = 0;
    for (size_t at = log.find("accepted\n"); at != std::string::npos;
         at = log.find("accepted\n", at + 1))
      ++n;
    return n;
  }

  // A file in the server's own directory, for --body and --raw.
  std::string file(const std::string &name, const std::string &content) const {
    testing_support::write_file(dir_ / name, content);
    return dir_ / name;
  }

  int port() const { return port_; }

 private:
  std::string log_path() const { return dir_ / "connections.log"; }

  testing_support::temp_dir dir_;
  child_process process_;
  int port_ = -1;
};

// `openssl s_server -WWW`: files of root() over TLS, each answered as
// HTTP/1.0 without a length and ended by the close.
class tls_file_server {
 public:
  bool start(std::string *why) {
    const std::string program = find_program({"/usr/bin/openssl"});
    if (program.empty()) {
      *why = "openssl is not installed";
      return false;
    }
    mkdir(root().c_str(), 0755);
    child_process keygen;
    if (!keygen.start(
            {program, "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=localhost",
             "-days", "1", "-keyout", dir_ / "k.pem", "-out", dir_ / "c.pem"},
            "", dir_ / "keygen.log") ||
        !testing_support::eventually(20, [&] { return !keygen.running(); }) ||
        !testing_support::path_exists(dir_ / "c.pem")) {
      *why = "openssl req could not make a certificate: " +
             testing_support::read_file(dir_ / "keygen.log");
      return false;
    }
    if (!process_.start({program, "s_server", "-accept", "127.0.0.1:0", "-cert", dir_ / "c.pem",
                         "-key", dir_ / "k.pem", "-WWW"},
                        root(), dir_ / "s_server.log")) {
      *why = "cannot start openssl s_server";
      return false;
    }
    // It prints "ACCEPT 127.0.0.1:<port>" once it listens.
    std::string line;
    while (process_.read_line(&line, 10000)) {
      const std::string prefix = "ACCEPT 127.0.0.1:";
      if (line.compare(0, prefix.size(), prefix) == 0) {
        port_ = std::atoi(line.c_str() + prefix.size());
        if (port_ > 0) return true;
      }
    }
    *why = "openssl s_server did not start: " + testing_support::read_file(dir_ / "s_server.log");
    return false;
  }

  void publish(const std::string &name, const std::string &content) {
    testing_support::write_file(root() + "/" + name, content);
  }

  std::string root() const { return dir_ / "www"; }
  int port() const { return port_; }

 private:
  testing_support::temp_dir dir_;
  child_process process_;
  int port_ = -1;
};

}  // namespace loopback_peers

#endif  // VIRELAN_TESTS_INTEGRATION_LOOPBACK_PEERS_H
