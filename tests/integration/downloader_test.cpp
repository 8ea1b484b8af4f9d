// Downloads from real servers on loopback: nginx for plain static files, the
// crafted Python server for unusual and broken answers, and openssl s_server
// for TLS. Each test starts the server it needs and stops it again.
#include <dirent.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "common/test_support.h"
#include "http/http_downloader.h"
#include "integration/loopback_peers.h"
#include "net/tls_startup.h"

namespace {

using loopback_peers::crafted_server;
using loopback_peers::nginx_server;
using loopback_peers::tls_file_server;
using testing_support::log_capture;
using testing_support::path_exists;
using testing_support::read_file;
using testing_support::temp_dir;
using testing_support::write_file;

constexpr int block_size = vorn_http_downloader::block_size;

// The process-wide TLS context, built once before any test runs.
class tls_library : public ::testing::Environment {
 public:
  void SetUp() override { ASSERT_EQ(1, vorn_ssl_startup()); }
};
[[maybe_unused]] ::testing::Environment *const tls_environment =
    ::testing::AddGlobalTestEnvironment(new tls_library);

std::string random_bytes(size_t size, unsigned seed) {
  std::mt19937 generator(seed);
  std::string bytes(size, '\0');
  for (char &c : bytes) c = static_cast<char>(generator() & 0xff);
  return bytes;
}

// What the downloader told its callbacks, in order.
struct recorder {
  std::string data;
  std::vector<int> blocks;
  std::vector<std::pair<int, int>> progress;
  std::string order;  // one 'd' per data block and one 'p' per progress call
  int refuse_block = -1;

  static int on_data(void *user, const char *data, int length) {
    recorder *r = static_cast<recorder *>(user);
    r->data.append(data, static_cast<size_t>(length));
    r->order.push_back('d');
    r->blocks.push_back(length);
    return static_cast<int>(r->blocks.size()) - 1 == r->refuse_block ? 0 : 1;
  }
  static void on_progress(void *user, int received, int total) {
    recorder *r = static_cast<recorder *>(user);
    r->progress.emplace_back(received, total);
    r->order.push_back('p');
  }
};

// The name the kernel shows for a descriptor open on `path`.
std::string canonical(const std::string &path) {
  char resolved[PATH_MAX];
  const size_t slash = path.rfind('/');
  if (realpath(path.substr(0, slash).c_str(), resolved) == nullptr) return path;
  return std::string(resolved) + path.substr(slash);
}

// True when this process holds a descriptor on `path` (removed or not).
bool descriptor_open_on(const std::string &path) {
  const std::string name = canonical(path);
  DIR *fds = opendir("/proc/self/fd");
  if (fds == nullptr) return false;
  bool found = false;
  while (dirent *e = readdir(fds)) {
    char target[PATH_MAX];
    const std::string link = std::string("/proc/self/fd/") + e->d_name;
    const ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
    if (n <= 0) continue;
    target[n] = '\0';
    const std::string t(target);
    if (t == name || t == name + " (deleted)") found = true;
  }
  closedir(fds);
  return found;
}

// A file-mode download of `path` from 127.0.0.1:port, with progress reported
// to `r` when it is given. Whatever the outcome, the destination must be
// closed when download() returns, before the downloader goes away.
int download_file(int port, const std::string &path, const std::string &destination,
                  recorder *r = nullptr, int tls = 0) {
  vorn_http_downloader d;
  if (r != nullptr) {
    d.progress_callback = recorder::on_progress;
    d.callback_user = r;
  }
  if (!d.set_connection("127.0.0.1", port, tls)) return -1;
  const int result = d.download("127.0.0.1", path.c_str(), destination.c_str());
  EXPECT_FALSE(descriptor_open_on(destination))
      << "download() returned " << result << " with the destination still open";
  return result;
}

int download_to_callback(int port, const std::string &path, recorder &r, int tls = 0) {
  vorn_http_downloader d;
  d.data_callback = recorder::on_data;
  d.progress_callback = recorder::on_progress;
  d.callback_user = &r;
  if (!d.set_connection("127.0.0.1", port, tls)) return -1;
  return d.download("127.0.0.1", path.c_str());
}

// Progress of a complete body of `size` bytes announced as `total`: (0, total)
// once before the first block, then the growing count after every block, none
// at all for an empty body.
void expect_complete_progress(const recorder &r, int size, int total) {
  if (size == 0) {
    EXPECT_TRUE(r.progress.empty());
    return;
  }
  ASSERT_GE(r.progress.size(), 2u);
  EXPECT_EQ(std::make_pair(0, total), r.progress.front());
  int previous = 0;
  for (size_t i = 1; i < r.progress.size(); ++i) {
    EXPECT_EQ(total, r.progress[i].second) << "call " << i;
    EXPECT_GT(r.progress[i].first, previous) << "call " << i;
    EXPECT_LE(r.progress[i].first - previous, block_size) << "call " << i;
    previous = r.progress[i].first;
  }
  EXPECT_EQ(size, r.progress.back().first);
}

// In data-callback mode each block is followed by its progress call, which
// counts it.
void expect_progress_after_each_block(const recorder &r) {
  ASSERT_EQ(r.blocks.size() + 1, r.progress.size());
  std::string order = "p";
  int received = 0;
  for (size_t i = 0; i < r.blocks.size(); ++i) {
    order += "dp";
    received += r.blocks[i];
    EXPECT_EQ(received, r.progress[i + 1].first) << "block " << i;
  }
  EXPECT_EQ(order, r.order);
}

// ---------------------------------------------------------------------------
// nginx: plain static files.

class NginxDownloadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    if (!nginx_.start(&why)) GTEST_SKIP() << why;
  }

  nginx_server nginx_;
  temp_dir dir_;
};

struct served_file {
  const char *name;
  size_t size;
};

void PrintTo(const served_file &f, std::ostream *out) { *out << f.name; }

class NginxFileSizesTest : public NginxDownloadTest,
                           public ::testing::WithParamInterface<served_file> {};

TEST_P(NginxFileSizesTest, FileModeWritesTheExactBytesAndReportsEveryBlock) {
  const std::string content = random_bytes(GetParam().size, 7);
  nginx_.publish(GetParam().name, content);
  const std::string destination = dir_ / "out.bin";
  recorder r;

  EXPECT_EQ(1, download_file(nginx_.port(), std::string("/") + GetParam().name, destination, &r));

  ASSERT_TRUE(path_exists(destination));
  EXPECT_TRUE(read_file(destination) == content) << "the file differs from the served one";
  const int size = static_cast<int>(content.size());
  expect_complete_progress(r, size, size);
}

TEST_P(NginxFileSizesTest, CallbackModeDeliversTheExactBytesAndReportsEveryBlock) {
  const std::string content = random_bytes(GetParam().size, 11);
  nginx_.publish(GetParam().name, content);
  recorder r;

  EXPECT_EQ(1, download_to_callback(nginx_.port(), std::string("/") + GetParam().name, r));

  EXPECT_TRUE(r.data == content) << "received " << r.data.size() << " of " << content.size()
                                 << " bytes, or different ones";
  const int size = static_cast<int>(content.size());
  expect_complete_progress(r, size, size);
  if (size > 0) expect_progress_after_each_block(r);
}

INSTANTIATE_TEST_SUITE_P(Sizes, NginxFileSizesTest,
                         ::testing::Values(served_file{"empty.bin", 0}, served_file{"few.bin", 5},
                                           served_file{"several-mib.bin", 3 * 1024 * 1024 + 17}),
                         [](const ::testing::TestParamInfo<served_file> &info) {
                           return std::string(info.param.size == 0   ? "Empty"
                                              : info.param.size < 10 ? "FewBytes"
                                                                     : "SeveralMiB");
                         });

TEST_F(NginxDownloadTest, NotFoundLeavesAnExistingDestinationUntouched) {
  log_capture log;
  const std::string destination = dir_ / "kept.bin";
  write_file(destination, "the previous version");
  // An old time stamp, so that any rewrite would show.
  const timespec old_times[2] = {{1000000000, 0}, {1000000000, 0}};
  ASSERT_EQ(0, utimensat(AT_FDCWD, destination.c_str(), old_times, 0));
  recorder r;

  EXPECT_EQ(0, download_file(nginx_.port(), "/missing.bin", destination, &r));

  EXPECT_EQ("the previous version", read_file(destination));
  struct stat st;
  ASSERT_EQ(0, stat(destination.c_str(), &st));
  EXPECT_EQ(1000000000, st.st_mtim.tv_sec);
  EXPECT_TRUE(r.progress.empty());
  EXPECT_NE(std::string::npos,
            log.text().find("Warning in vorn_http_downloader::callback_message_received(), "
                            "download failed for file '" +
                            destination + "'.  Aborting download."))
      << log.text();
}

TEST_F(NginxDownloadTest, NotFoundFailsInCallbackModeWithoutDeliveringTheErrorPage) {
  log_capture log;
  recorder r;

  EXPECT_EQ(0, download_to_callback(nginx_.port(), "/missing.bin", r));

  EXPECT_TRUE(r.blocks.empty());
  EXPECT_TRUE(r.progress.empty());
  EXPECT_NE(std::string::npos,
            log.text().find("Warning in vorn_http_downloader::callback_message_received(), "
                            "download failed in callback mode."))
      << log.text();
}

// ---------------------------------------------------------------------------
// The crafted server: unusual and broken answers.

class CraftedServerTest : public ::testing::Test {
 protected:
  // Starts the server with `arguments`; false (the test skipped) when it
  // cannot run.
  bool start(const std::vector<std::string> &arguments = {}) {
    std::string why;
    if (!server_.start(arguments, &why)) {
      skip_reason_ = why;
      return false;
    }
    return true;
  }

  crafted_server server_;
  temp_dir dir_;
  std::string skip_reason_;
};

constexpr const char *closed_early =
    "Error in vorn_http_downloader::download(), connection closed before the response was "
    "complete.";
constexpr const char *fetch_failed =
    "Error in vorn_http_downloader::download(), http data fetch failed.";

struct crafted_case {
  const char *name;
  const char *mode;
  int body_size;
  int expected;
  // Complete answers: the total the progress calls carry (-1 without a
  // length). Failures: ignored.
  int total;
  // A line the log must hold; null for none.
  const char *message;
  // For failures: whether the destination may exist afterwards (a 200 opened
  // it before the answer broke off).
  bool destination_created;
};

// Body sizes: "big" spans many reads, "small" suits the slow answer.
constexpr int big = 100 * 1024 + 3;
constexpr int small = 40;

const crafted_case crafted_cases[] = {
    {"ChunkedBodyIsComplete", "chunked", big, 1, -1, nullptr, true},
    {"CloseDelimitedBodyIsComplete", "close-delimited", big, 1, -1, nullptr, true},
    {"LfOnlyLinesWithCloseDelimitedBodyAreComplete", "lf-only", big, 1, -1, nullptr, true},
    {"SlowlyArrivingBodyIsComplete", "slow", small, 1, small, nullptr, true},
    {"RedirectIsNotFollowed", "301", big, 0, 0, "download failed for file", false},
    {"ServerErrorFails", "500", big, 0, 0, "download failed for file", false},
    {"CloseInMidBodyFails", "close-mid-body", big, 0, 0, closed_early, true},
    {"CloseBeforeTheStatusLineFails", "close-before-status", big, 0, 0, closed_early, false},
    {"CloseInsideTheHeaderSectionFails", "close-in-headers", big, 0, 0, closed_early, false},
    {"ChunkedBodyCutBeforeItsLastChunkFails", "chunked-cut", big, 0, 0, closed_early, true},
    {"ResetInMidBodyFails", "reset-mid-body", big, 0, 0,
     "Error in vorn_http_downloader::download(), blocking read failed, not all bytes read.", true},
};

void PrintTo(const crafted_case &c, std::ostream *out) { *out << c.name; }

class CraftedAnswerTest : public CraftedServerTest,
                          public ::testing::WithParamInterface<crafted_case> {};

TEST_P(CraftedAnswerTest, FileModeOutcomeAndTheDestinationIsClosed) {
  const crafted_case &c = GetParam();
  const std::string body = random_bytes(static_cast<size_t>(c.body_size), 3);
  if (!start({"--body", server_.file("body.bin", body)})) GTEST_SKIP() << skip_reason_;
  log_capture log;
  const std::string destination = dir_ / "out.bin";
  recorder r;

  EXPECT_EQ(c.expected, download_file(server_.port(), std::string("/") + c.mode, destination, &r));

  if (c.expected == 1) {
    EXPECT_TRUE(read_file(destination) == body) << "the file differs from the body sent";
    expect_complete_progress(r, c.body_size, c.total);
  } else if (!c.destination_created) {
    EXPECT_FALSE(path_exists(destination));
  }
  if (c.message != nullptr) {
    EXPECT_NE(std::string::npos, log.text().find(c.message)) << log.text();
  }
}

TEST_P(CraftedAnswerTest, CallbackModeOutcome) {
  const crafted_case &c = GetParam();
  const std::string body = random_bytes(static_cast<size_t>(c.body_size), 5);
  if (!start({"--body", server_.file("body.bin", body)})) GTEST_SKIP() << skip_reason_;
  recorder r;

  EXPECT_EQ(c.expected, download_to_callback(server_.port(), std::string("/") + c.mode, r));

  if (c.expected == 1) {
    EXPECT_TRUE(r.data == body) << "received " << r.data.size() << " of " << body.size()
                                << " bytes, or different ones";
    expect_complete_progress(r, c.body_size, c.total);
    expect_progress_after_each_block(r);
  } else {
    // Whatever arrived before the answer broke off is a prefix of the body.
    EXPECT_EQ(0, body.compare(0, r.data.size(), r.data));
  }
}

INSTANTIATE_TEST_SUITE_P(Answers, CraftedAnswerTest, ::testing::ValuesIn(crafted_cases),
                         [](const ::testing::TestParamInfo<crafted_case> &info) {
                           return std::string(info.param.name);
                         });

TEST_F(CraftedServerTest, ResetWithoutProgressCallbackRemovesThePartialFile) {
  const std::string body = random_bytes(big, 19);
  if (!start({"--mode", "reset-mid-body", "--body", server_.file("body.bin", body)}))
    GTEST_SKIP() << skip_reason_;
  log_capture log;
  const std::string destination = dir_ / "out.bin";

  EXPECT_EQ(0, download_file(server_.port(), "/", destination));

  EXPECT_NE(std::string::npos,
            log.text().find("Error in vorn_http_downloader::download(), blocking read failed, "
                            "unknown file state.  Deleting file."))
      << log.text();
  EXPECT_FALSE(path_exists(destination));
}

TEST_F(CraftedServerTest, SlowBodyArrivesInManyBlocks) {
  if (!start({"--body", server_.file("body.bin", std::string(small, 'x')), "--piece", "4",
              "--delay", "0.1"}))
    GTEST_SKIP() << skip_reason_;
  recorder r;

  EXPECT_EQ(1, download_to_callback(server_.port(), "/slow", r));

  EXPECT_EQ(std::string(small, 'x'), r.data);
  // Pieces 100 ms apart cannot all arrive in one read.
  EXPECT_GE(r.blocks.size(), 4u);
}

TEST_F(CraftedServerTest, StalledServerIsAwaitedAcrossTimeoutSteps) {
  if (!start({"--mode", "stall", "--stall", "6"})) GTEST_SKIP() << skip_reason_;
  const auto begin = std::chrono::steady_clock::now();
  recorder r;

  EXPECT_EQ(1, download_to_callback(server_.port(), "/anything", r));

  // Longer than one 5 s wait of the socket: the download waited again.
  EXPECT_GE(std::chrono::steady_clock::now() - begin, std::chrono::seconds(6));
  EXPECT_EQ("crafted body\n", r.data);
}

TEST_F(CraftedServerTest, RefusedBlockIsCountedInProgressAndFailsTheDownload) {
  const std::string body = random_bytes(big, 9);
  if (!start({"--mode", "ok", "--body", server_.file("body.bin", body)}))
    GTEST_SKIP() << skip_reason_;
  log_capture log;
  recorder r;
  r.refuse_block = 0;

  EXPECT_EQ(0, download_to_callback(server_.port(), "/", r));

  ASSERT_EQ(1u, r.blocks.size());
  ASSERT_EQ(2u, r.progress.size());
  EXPECT_EQ(std::make_pair(0, big), r.progress[0]);
  EXPECT_EQ(std::make_pair(r.blocks[0], big), r.progress[1]);
  EXPECT_EQ("pdp", r.order);
  EXPECT_NE(std::string::npos, log.text().find(fetch_failed)) << log.text();
}

TEST_F(CraftedServerTest, RawAnswerIsWrittenByteForByte) {
  // A counted body whose bytes include line ends and NULs, sent as one block
  // with its head.
  const std::string body = std::string("line\r\n\0\n\r", 9) + random_bytes(3000, 13);
  const std::string answer = "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) +
                             "\r\nConnection: close\r\n\r\n" + body;
  if (!start({"--mode", "raw", "--raw", server_.file("answer.bin", answer)}))
    GTEST_SKIP() << skip_reason_;
  const std::string destination = dir_ / "out.bin";

  EXPECT_EQ(1, download_file(server_.port(), "/x", destination));

  EXPECT_TRUE(read_file(destination) == body);
}

TEST_F(CraftedServerTest, InterimContinueAnswerIsNotAccepted) {
  // Only a 200 is accepted, and the first status line read decides.
  const std::string answer =
      "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello";
  if (!start({"--mode", "raw", "--raw", server_.file("answer.bin", answer)}))
    GTEST_SKIP() << skip_reason_;
  const std::string destination = dir_ / "out.bin";

  EXPECT_EQ(0, download_file(server_.port(), "/x", destination));

  EXPECT_FALSE(path_exists(destination));
}

TEST_F(CraftedServerTest, UnopenableDestinationFailsTheDownload) {
  if (!start({"--mode", "ok"})) GTEST_SKIP() << skip_reason_;
  log_capture log;
  // A plain file where a directory is expected stops root too.
  write_file(dir_ / "plain", "");
  const std::string destination = dir_ / "plain/out.bin";

  EXPECT_EQ(0, download_file(server_.port(), "/", destination));

  EXPECT_NE(std::string::npos,
            log.text().find("Warning in vorn_http_downloader::callback_message_received(), unable "
                            "to open output file '" +
                            destination + "'.  Aborting download."))
      << log.text();
}

// The file size limit stands in for a full disk: writes past it fail.
struct write_failure_case {
  const char *name;
  int body_size;
  rlim_t limit;
};

TEST(DownloaderWriteFailureTest, DataThatCannotBeWrittenFailsTheDownload) {
  const write_failure_case cases[] = {
      // The body fits the stream's buffer: only the final flush meets the limit.
      {"at the final flush", 3000, 1000},
      // A write during the body meets it.
      {"in mid-body", big, 20 * 1024},
  };
  for (const write_failure_case &c : cases) {
    SCOPED_TRACE(c.name);
    crafted_server server;
    std::string why;
    if (!server.start({"--mode", "ok", "--body",
                       server.file("body.bin", random_bytes(static_cast<size_t>(c.body_size), 23))},
                      &why))
      GTEST_SKIP() << why;
    temp_dir dir;
    const std::string destination = dir / "out.bin";
    log_capture log;
    rlimit saved;
    ASSERT_EQ(0, getrlimit(RLIMIT_FSIZE, &saved));
    const rlimit limited = {c.limit, saved.rlim_max};
    void (*saved_handler)(int) = signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(0, setrlimit(RLIMIT_FSIZE, &limited));

    const int result = download_file(server.port(), "/", destination);

    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, saved_handler);
    EXPECT_EQ(0, result);
    EXPECT_NE(std::string::npos,
              log.text().find("Warning in vorn_http_downloader::callback_content_data_received(), "
                              "unable to write all data to disk.  Bailing."))
        << log.text();
  }
}

TEST_F(CraftedServerTest, FileModeAfterSettingADataCallbackIsRefusedWithoutConnecting) {
  if (!start({"--mode", "ok"})) GTEST_SKIP() << skip_reason_;
  log_capture log;
  const std::string destination = dir_ / "out.bin";
  recorder r;
  vorn_http_downloader d;
  d.data_callback = recorder::on_data;
  d.callback_user = &r;
  ASSERT_EQ(1, d.set_connection("127.0.0.1", server_.port(), 0));

  EXPECT_EQ(0, d.download("127.0.0.1", "/", destination.c_str()));

  EXPECT_NE(std::string::npos,
            log.text().find("Error in vorn_http_downloader::download(), attempt to do file based "
                            "download after setting data callback."))
      << log.text();
  EXPECT_FALSE(path_exists(destination));
  // The server logs a connection as soon as it accepts one; give a stray one
  // the time to show.
  usleep(200 * 1000);
  EXPECT_EQ(0, server_.connections());
}

TEST_F(CraftedServerTest, UnresolvableHostFailsWithoutConnecting) {
  // A connection to the unresolved, all-zero address would reach this
  // machine, and so this server.
  if (!start({"--mode", "ok"})) GTEST_SKIP() << skip_reason_;
  const std::string destination = dir_ / "out.bin";
  vorn_http_downloader d;

  EXPECT_EQ(0, d.set_connection("nonexistent.invalid", server_.port(), 0));
  EXPECT_EQ(0, d.download("nonexistent.invalid", "/", destination.c_str()));

  EXPECT_FALSE(path_exists(destination));
  usleep(200 * 1000);
  EXPECT_EQ(0, server_.connections());
}

TEST(DownloaderRefusalTest, RefusedConnectionFailsAtTheFirstWrite) {
  // A bound socket that does not listen: the port stays ours and every
  // connection to it is refused.
  const int holder = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(holder, 0);
  sockaddr_in a = loopback_peers::loopback_address(0);
  socklen_t length = sizeof a;
  ASSERT_EQ(0, bind(holder, reinterpret_cast<sockaddr *>(&a), sizeof a));
  ASSERT_EQ(0, getsockname(holder, reinterpret_cast<sockaddr *>(&a), &length));
  temp_dir dir;
  const std::string destination = dir / "out.bin";
  log_capture log;

  EXPECT_EQ(0, download_file(ntohs(a.sin_port), "/", destination));

  // The connect counts writability as success; the refusal shows at the
  // first write of the request.
  EXPECT_NE(std::string::npos,
            log.text().find("Error in vorn_http_downloader::download(), blocking write failed."))
      << log.text();
  EXPECT_FALSE(path_exists(destination));
  close(holder);
}

// ---------------------------------------------------------------------------
// TLS.

class TlsDownloadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    if (!tls_.start(&why)) GTEST_SKIP() << why;
  }

  tls_file_server tls_;
  temp_dir dir_;
};

TEST_F(TlsDownloadTest, TlsDownloadWritesTheExactBytes) {
  const std::string content = random_bytes(200 * 1024 + 1, 17);
  tls_.publish("file.bin", content);
  const std::string destination = dir_ / "out.bin";
  recorder r;

  EXPECT_EQ(1, download_file(tls_.port(), "/file.bin", destination, &r, 1));

  EXPECT_TRUE(read_file(destination) == content) << "the file differs from the served one";
  // s_server answers HTTP/1.0 without a length.
  expect_complete_progress(r, static_cast<int>(content.size()), -1);
}

TEST_F(TlsDownloadTest, PlainDownloadFromTheTlsPortFailsCleanly) {
  tls_.publish("file.bin", "content");
  const std::string destination = dir_ / "out.bin";

  EXPECT_EQ(0, download_file(tls_.port(), "/file.bin", destination, nullptr, 0));

  EXPECT_FALSE(path_exists(destination));
}

TEST(TlsAgainstPlainServerTest, TlsDownloadFromAPlainServerFailsCleanly) {
  // nginx reads the TLS greeting as a malformed request, answers 400 in plain
  // text and closes: the handshake fails at once.
  nginx_server nginx;
  std::string why;
  if (!nginx.start(&why)) GTEST_SKIP() << why;
  nginx.publish("file.bin", "content");
  temp_dir dir;
  const std::string destination = dir / "out.bin";
  log_capture log;

  EXPECT_EQ(0, download_file(nginx.port(), "/file.bin", destination, nullptr, 1));

  EXPECT_NE(std::string::npos,
            log.text().find("Error in vorn_http_downloader::download(), connect failed."))
      << log.text();
  EXPECT_FALSE(path_exists(destination));
}

}  // namespace
