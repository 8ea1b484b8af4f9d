// The server's file list fetched from real servers on loopback: a directory
// published with virelan-make-list and served by nginx, lists of every shape
// served by nginx as static files, and the crafted Python server for the
// framings nginx does not use (chunked, ended by the close).
#include "updater/remote_manifest.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "common/test_support.h"
#include "integration/loopback_peers.h"

namespace {

using loopback_peers::compress_text;
using loopback_peers::crafted_server;
using loopback_peers::nginx_server;
using loopback_peers::run_program;
using testing_support::log_capture;

const std::string make_list_program = std::string(VIRELAN_BIN_DIR) + "/virelan-make-list";

// (digest, size, name) of one entry.
using entry_fields = std::tuple<std::string, int, std::string>;

std::vector<entry_fields> entries_of(const http_fetch_remote_manifest_data &list) {
  std::vector<entry_fields> entries;
  for (const ketu_file_entry *e = list.head; e != nullptr; e = e->next)
    entries.emplace_back(e->hash, e->size, e->name);
  return entries;
}

// A digest that passes the grammar, different for every `seed`.
std::string digest_for(int seed) {
  char text[80];
  std::snprintf(text, sizeof text, "%08x0123456789abcdef0123456789abcdef0123456789abcdef%08x",
                static_cast<unsigned>(seed) * 2654435761u, static_cast<unsigned>(seed));
  return text;
}

std::string line_for(int seed, int size, const std::string &name) {
  return digest_for(seed) + " " + std::to_string(size) + " " + name + "\n";
}

// `first` and `rest` as one zlib stream, and the length of the prefix that
// inflates to exactly `first` (a sync flush marks it).
std::pair<std::string, size_t> compress_in_two(const std::string &first, const std::string &rest) {
  z_stream z{};
  if (deflateInit2(&z, 9, Z_DEFLATED, 31, 9, Z_DEFAULT_STRATEGY) != Z_OK) std::abort();
  std::string out(deflateBound(&z, static_cast<uLong>(first.size() + rest.size())) + 128, '\0');
  z.next_out = reinterpret_cast<Bytef *>(&out[0]);
  z.avail_out = static_cast<uInt>(out.size());
  z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(first.data()));
  z.avail_in = static_cast<uInt>(first.size());
  if (deflate(&z, Z_SYNC_FLUSH) != Z_OK) std::abort();
  const size_t cut = z.total_out;
  z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(rest.data()));
  z.avail_in = static_cast<uInt>(rest.size());
  if (deflate(&z, Z_FINISH) != Z_STREAM_END) std::abort();
  out.resize(z.total_out);
  deflateEnd(&z);
  return {out, cut};
}

struct progress_trace {
  std::vector<std::pair<int, int>> calls;
  static int record(void *user, int received, int total) {
    static_cast<progress_trace *>(user)->calls.emplace_back(received, total);
    return 0;
  }
};

class RemoteManifestTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    if (!nginx_.start(&why)) GTEST_SKIP() << why;
  }

  int fetch(http_fetch_remote_manifest_data &list, const std::string &path) {
    return list.fetch("127.0.0.1", nginx_.port(), 0, path.c_str());
  }

  nginx_server nginx_;
};

TEST_F(RemoteManifestTest, PublishedDirectoryGivesEveryFileNewestFirst) {
  const std::vector<std::pair<std::string, std::string>> files = {
      {"client-1.0", "old build\n"},
      {"client-1.1", "newer build, a little longer\n"},
      {"client-1.1beta", "beta build\n"},
      {"data/levels/one.pak", std::string(70000, 'p')},
  };
  const std::string directory = "downloads/torvane_v3";
  for (const auto &f : files) nginx_.publish(directory + "/" + f.first, f.second);
  const auto made = run_program({make_list_program, nginx_.root() + "/" + directory});
  ASSERT_EQ(made.status, 0) << made.err;

  std::vector<entry_fields> expected;
  for (auto f = files.rbegin(); f != files.rend(); ++f) {
    const auto sum = run_program({"sha256sum", nginx_.root() + "/" + directory + "/" + f->first});
    ASSERT_EQ(sum.status, 0) << sum.err;
    expected.emplace_back(sum.out.substr(0, 64), static_cast<int>(f->second.size()), f->first);
  }

  log_capture log;
  http_fetch_remote_manifest_data list;
  progress_trace progress;
  list.progress_callback = progress_trace::record;
  list.progress_user = &progress;
  EXPECT_EQ(fetch(list, "/" + directory + "/manifest_linux32_executables.txt.gz"), 4);
  EXPECT_EQ(list.count, 4);
  EXPECT_EQ(entries_of(list), expected);
  ASSERT_FALSE(progress.calls.empty());
  EXPECT_EQ(progress.calls.front().first, 0);
  EXPECT_EQ(progress.calls.back().first, progress.calls.back().second);
  EXPECT_EQ(log.text(), "");
}

// What a body served as a static file makes of the list; every row is fetched
// by one object after the other, so each fetch must also start from nothing.
TEST_F(RemoteManifestTest, ListBodiesOfEveryShape) {
  const std::string text = "# builds, newest first\n" + line_for(1, 100, "client-2") + "\n \t\n" +
                           line_for(2, 90, "client 1 with blanks  ") + "   # old\n" +
                           line_for(3, 80, "beta/client-2beta");
  const std::vector<entry_fields> entries = {{digest_for(1), 100, "client-2"},
                                             {digest_for(2), 90, "client 1 with blanks  "},
                                             {digest_for(3), 80, "beta/client-2beta"}};
  std::string crlf;
  for (char c : line_for(1, 5, "first") + line_for(2, 6, "second")) {
    if (c == '\n') crlf += '\r';
    crlf += c;
  }
  const std::string gzip = compress_text(text, true);
  const std::string cut_gzip = gzip.substr(0, gzip.size() / 2);

  const struct {
    const char *name;
    std::string body;  // what the server sends (not published when `missing`)
    bool missing;
    int result;
    std::vector<entry_fields> entries;
    const char *message;  // a text the log must hold, or null for an empty log
  } cases[] = {
      {"gzip", gzip, false, 3, entries, nullptr},
      {"zlib", compress_text(text, false), false, 3, entries, nullptr},
      {"gzip followed by other bytes", gzip + "trailing junk\n" + gzip, false, 3, entries, nullptr},
      {"carriage returns",
       compress_text(crlf, true),
       false,
       2,
       {{digest_for(1), 5, "first\r"}, {digest_for(2), 6, "second\r"}},
       nullptr},
      {"empty list", compress_text("", true), false, 0, {}, nullptr},
      {"uncompressed",
       text,
       false,
       -1,
       {},
       "Error in http_fetch_remote_manifest_data::download_data_callback(), ZLip inflate "
       "failed?\n"},
      {"truncated gzip",
       cut_gzip,
       false,
       -1,
       {},
       "Error in http_fetch_remote_manifest_data::fetch(), compressed list ended early.\n"},
      {"empty body", "", false, -1, {}, "compressed list ended early."},
      {"not on the server", "", true, -1, {}, "download failed in callback mode."},
  };
  http_fetch_remote_manifest_data list;
  int n = 0;
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = "lists/" + std::to_string(n++) + ".gz";
    if (!c.missing) nginx_.publish(path, c.body);
    log_capture log;
    EXPECT_EQ(fetch(list, "/" + path), c.result);
    EXPECT_EQ(list.count, c.result < 0 ? 0 : c.result);
    EXPECT_EQ(entries_of(list), c.entries);
    if (c.message == nullptr) {
      EXPECT_EQ(log.text(), "");
    } else {
      EXPECT_NE(log.text().find(c.message), std::string::npos) << log.text();
    }
  }
}

TEST_F(RemoteManifestTest, ListsLargerThanTheInflateBufferAreParsedWhole) {
  // A text that compresses to a few kilobytes but inflates to far more than
  // the 64 KiB output buffer, and one of distinct digests that arrives in many
  // blocks whose borders fall inside lines.
  std::string compressible, distinct;
  const std::string long_name(200, 'n');
  for (int i = 0; i < 2000; ++i) {
    compressible += line_for(7, 1000, long_name + std::to_string(i));
    distinct += line_for(i, i, "file-" + std::to_string(i));
  }
  ASSERT_GT(compressible.size(), 4u * 65536u);
  const struct {
    const char *name;
    std::string text;
  } cases[] = {{"compressible", compressible}, {"distinct digests", distinct}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    const std::string body = compress_text(c.text, true);
    nginx_.publish(std::string("big-") + c.name, body);
    log_capture log;
    http_fetch_remote_manifest_data list;
    EXPECT_EQ(fetch(list, std::string("/big-") + c.name), 2000);
    std::string joined;
    for (const auto &e : entries_of(list))
      joined += std::get<0>(e) + " " + std::to_string(std::get<1>(e)) + " " + std::get<2>(e) + "\n";
    EXPECT_TRUE(joined == c.text) << "the entries do not give back the text";
    EXPECT_EQ(log.text(), "");
  }
}

TEST_F(RemoteManifestTest, SyntaxErrorEmptiesTheList) {
  const std::string good = line_for(1, 10, "a") + line_for(2, 20, "b");
  const struct {
    const char *name;
    std::string text;
    int result;
  } cases[] = {
      // The block holding the bad line is refused: the download fails.
      {"in the middle", good + "0123456789 12\n" + line_for(3, 30, "c"), -1},
      {"in a last line with its line feed", good + "not a digest 1 x\n", -1},
      // The download itself succeeded; only the completed last line is bad.
      {"in a last line without line feed", good + "0123456789 12", 0},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = std::string("/bad-") + std::to_string(&c - cases);
    nginx_.publish(path.substr(1), compress_text(c.text, true));
    log_capture log;
    http_fetch_remote_manifest_data list;
    EXPECT_EQ(fetch(list, path), c.result);
    EXPECT_EQ(list.head, nullptr);
    EXPECT_EQ(list.count, 0);
    EXPECT_NE(log.text().find("Syntax error in downloaded data - "), std::string::npos)
        << log.text();
  }
}

TEST_F(RemoteManifestTest, OverlongLineIsCutTo5999Characters) {
  const std::string digest = digest_for(1);
  const std::string name(7000 - digest.size() - 4, 'x');
  const std::string long_line = digest + " 12 " + name;
  ASSERT_EQ(long_line.size(), 7000u);
  const std::string kept_name = name.substr(0, 5999 - digest.size() - 4);
  {
    // The rest of the line is dropped, not carried into the next one.
    nginx_.publish("long", compress_text(long_line + "\n" + line_for(2, 7, "next"), true));
    log_capture log;
    http_fetch_remote_manifest_data list;
    EXPECT_EQ(fetch(list, "/long"), 2);
    const std::vector<entry_fields> expected = {{digest, 12, kept_name},
                                                {digest_for(2), 7, "next"}};
    EXPECT_EQ(entries_of(list), expected);
  }
  {
    // A digest longer than the cut leaves a line without size: a syntax error.
    const std::string huge_digest = digest + std::string(6500, 'a');
    nginx_.publish("long-digest", compress_text(line_for(2, 7, "first") + huge_digest +
                                                    " 12 name\n" + line_for(3, 8, "last"),
                                                true));
    log_capture log;
    http_fetch_remote_manifest_data list;
    EXPECT_EQ(fetch(list, "/long-digest"), -1);
    EXPECT_EQ(list.head, nullptr);
    EXPECT_NE(log.text().find(" - bad or missing file size for line:"), std::string::npos);
  }
}

TEST_F(RemoteManifestTest, EachFetchStartsFromAnEmptyList) {
  // The second list breaks off inside its second line (the server closes the
  // connection early), so that fetch fails with part of a line in hand.
  const std::string first = line_for(1, 1, "one") + line_for(2, 2, "two") + line_for(3, 3, "three");
  const auto cut = compress_in_two(line_for(4, 4, "four") + digest_for(5) + " 5 fi",
                                   "ve\n" + line_for(6, 6, "six"));
  const std::string third = line_for(7, 7, "seven") + line_for(8, 8, "eight");
  nginx_.publish("first", compress_text(first, true));
  nginx_.publish("third", compress_text(third, false));
  crafted_server broken;
  std::string why;
  if (!broken.start({"--body", broken.file("cut.gz", cut.first.substr(0, cut.second))}, &why))
    GTEST_SKIP() << why;

  log_capture log;
  http_fetch_remote_manifest_data list;
  EXPECT_EQ(fetch(list, "/first"), 3);
  EXPECT_EQ(list.fetch("127.0.0.1", broken.port(), 0, "/close-mid-body/cut.gz"), -1);
  EXPECT_EQ(list.head, nullptr);
  EXPECT_EQ(list.count, 0);
  EXPECT_EQ(fetch(list, "/third"), 2);
  const std::vector<entry_fields> expected = {{digest_for(7), 7, "seven"},
                                              {digest_for(8), 8, "eight"}};
  EXPECT_EQ(entries_of(list), expected);
  // The first list again, as a whole: nothing of the earlier fetches is left.
  EXPECT_EQ(fetch(list, "/first"), 3);
  EXPECT_EQ(std::get<2>(entries_of(list).front()), "one");
}

// The crafted server frames the same body with a length, in chunks, and ended
// by the close; a last line without line feed counts in every framing.
TEST(RemoteManifestFramingTest, LastLineWithoutLineFeedCountsInEveryFraming) {
  const struct {
    const char *name;
    std::string text;
    int result;
  } bodies[] = {
      {"good last line", line_for(1, 10, "a") + digest_for(2) + " 20 b-without-line-feed", 2},
      {"bad last line", line_for(1, 10, "a") + digest_for(2) + " 20", 0},
  };
  for (const auto &body : bodies) {
    crafted_server server;
    std::string why;
    if (!server.start({"--body", server.file("list.gz", compress_text(body.text, true))}, &why))
      GTEST_SKIP() << why;
    for (const char *mode : {"ok", "chunked", "close-delimited"}) {
      SCOPED_TRACE(std::string(body.name) + ", " + mode);
      log_capture log;
      http_fetch_remote_manifest_data list;
      const std::string path = std::string("/") + mode + "/list.gz";
      EXPECT_EQ(list.fetch("127.0.0.1", server.port(), 0, path.c_str()), body.result);
      if (body.result > 0) {
        const std::vector<entry_fields> expected = {{digest_for(1), 10, "a"},
                                                    {digest_for(2), 20, "b-without-line-feed"}};
        EXPECT_EQ(entries_of(list), expected);
        EXPECT_EQ(log.text(), "");
      } else {
        EXPECT_EQ(list.head, nullptr);
        EXPECT_EQ(log.text(), "Syntax error in downloaded data - missing file name for line:\n" +
                                  digest_for(2) + " 20\n");
      }
    }
  }
}

}  // namespace
