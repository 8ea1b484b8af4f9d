// Update runs and update passes against nginx on loopback: which files a run
// fetches, how single failures and hostile names leave the executables
// directory and the manifest, and when the manifest is saved, with the clock of
// the periodic save driven by the test. Each test has a configuration
// directory of its own and starts its own nginx.
#include <ftw.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "common/test_support.h"
#include "integration/loopback_peers.h"
#include "updater/executable_updater.h"
#include "updater/file_updater.h"

namespace {

using loopback_peers::compress_text;
using loopback_peers::nginx_server;
using testing_support::log_capture;
using testing_support::path_exists;
using testing_support::read_file;
using testing_support::run_in_child;
using testing_support::temp_dir;
using testing_support::write_file;

const char root_path[] = "/downloads/torvane_v3";
const char list_name[] = "manifest_linux32_executables.txt.gz";

// A digest text for `content` (the launcher treats it as an opaque token).
std::string digest_of(const std::string &content) {
  uint64_t h = 1469598103934665603ull;
  for (unsigned char c : content) h = (h ^ c) * 1099511628211ull;
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(h));
  return std::string(text) + text + text + text;
}

std::string list_line(const std::string &name, const std::string &content) {
  return digest_of(content) + " " + std::to_string(content.size()) + " " + name + "\n";
}

std::string repeated(const std::string &piece, size_t times) {
  std::string text;
  for (size_t i = 0; i < times; ++i) text += piece;
  return text;
}

size_t occurrences(const std::string &text, const std::string &what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// Every path below `directory`, relative to it.
std::set<std::string> tree_of(const std::string &directory) {
  static std::set<std::string> *paths;
  static size_t prefix;
  std::set<std::string> result;
  paths = &result;
  prefix = directory.size() + 1;
  nftw(
      directory.c_str(),
      [](const char *path, const struct stat *, int, struct FTW *) {
        if (std::strlen(path) > prefix) paths->insert(path + prefix);
        return 0;
      },
      16, FTW_PHYS);
  return result;
}

struct manifest_row {
  std::string name;
  std::string hash;
  int size;
  bool operator==(const manifest_row &o) const {
    return name == o.name && hash == o.hash && size == o.size;
  }
};

std::ostream &operator<<(std::ostream &out, const manifest_row &r) {
  return out << r.name << " (" << r.size << ")";
}

manifest_row row_for(const std::string &name, const std::string &content) {
  return {name, digest_of(content), static_cast<int>(content.size())};
}

// The manifest file as the next run reads it.
std::vector<manifest_row> manifest_rows(const std::string &path) {
  ketu_file_manifest manifest;
  std::vector<manifest_row> rows;
  if (manifest.load_file(path.c_str()) < 0) return rows;
  for (const ketu_file_entry *e = manifest.head; e != nullptr; e = e->next)
    rows.push_back({e->name, e->hash, e->size});
  return rows;
}

void save_manifest(const std::string &path, const std::vector<manifest_row> &rows) {
  ketu_file_manifest manifest;
  // merge_entry puts each new entry first: add them back to front.
  for (auto r = rows.rbegin(); r != rows.rend(); ++r) {
    ketu_file_entry *entry = ketu_file_entry::create(r->name.c_str(), r->hash.c_str(), r->size);
    manifest.merge_entry(entry);
    delete entry;
  }
  ASSERT_EQ(manifest.save_file(path.c_str()), 1);
}

// The percentages the window was given are in order and end at 100.
void expect_progress_to_100(const std::vector<double> &percents) {
  ASSERT_FALSE(percents.empty());
  EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end()))
      << ::testing::PrintToString(percents);
  EXPECT_GE(percents.front(), 0.0);
  EXPECT_DOUBLE_EQ(percents.back(), 100.0);
}

// The launcher's hooks, pointed at the running test.
int beta_setting = 0;
int verbose_setting = 0;
int test_beta_mode() { return beta_setting; }
int test_verbose_mode() { return verbose_setting; }

struct window_double {
  std::vector<double> percents;
  static void set_progress(void *window, double percent) {
    static_cast<window_double *>(window)->percents.push_back(percent);
  }
};

// nginx serving the root path, a configuration directory laid out as the
// launcher's, and the hooks installed.
class UpdateRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_hooks_ = updater_hooks;
    beta_setting = 0;
    verbose_setting = 0;
    std::string why;
    if (!nginx_.start(&why)) GTEST_SKIP() << why;
    updater_hooks.set_progress = window_double::set_progress;
    updater_hooks.beta_mode = test_beta_mode;
    updater_hooks.verbose_mode = test_verbose_mode;
    updater_hooks.port = nginx_.port();
  }
  void TearDown() override { updater_hooks = saved_hooks_; }

  // Serves `content` as the file `name` below the root path.
  void serve(const std::string &name, const std::string &content) {
    nginx_.publish(std::string(root_path + 1) + "/" + name, content);
  }
  void serve_list(const std::string &text) {
    nginx_.publish(std::string(root_path + 1) + "/" + list_name, compress_text(text, true));
  }

  // The launcher's run with the configuration directory `config`.
  static int run_in(const temp_dir &config, window_double &window) {
    const std::string executables = config / "executables";
    return run_executable_updater(&window, "127.0.0.1", root_path, list_name,
                                  (executables + "/update_manifest.lst").c_str(),
                                  executables.c_str(), (executables + "/download.tmp").c_str());
  }
  int run() { return run_in(config_, window_); }

  std::string local(const std::string &name) const { return executables_ + "/" + name; }
  void put_local(const std::string &name, const std::string &content) {
    loopback_peers::make_directories(executables_);
    write_file(local(name), content);
  }

  nginx_server nginx_;
  temp_dir config_;
  const std::string executables_ = config_ / "executables";
  const std::string manifest_ = executables_ + "/update_manifest.lst";
  window_double window_;

 private:
  executable_updater_hooks saved_hooks_;
};

// The list holds two plain builds, newest first, and a beta build.
const std::string a2 = repeated("build 1.2 of the client\n", 2000);
const std::string a1 = repeated("build 1.1\n", 300);
const std::string a2beta = repeated("beta build 1.2\n", 700);

TEST_F(UpdateRunTest, ChoosesTheNewestEntryOfEachKindAndWrongSizedFiles) {
  // What is on disk before the run: absent, the served bytes, bytes of
  // another length, or other bytes of the same length.
  enum state { absent, served, wrong_size, same_size };
  const struct {
    const char *name;
    state disk[3];  // client-1.2, client-1.1, client-1.2beta
    bool a2_in_manifest;
    int beta;
    std::vector<std::string> fetched;
    const char *report;
    std::vector<manifest_row> manifest;
  } cases[] = {
      {"nothing on disk",
       {absent, absent, absent},
       false,
       0,
       {"client-1.2"},
       "One file to update.\n",
       {row_for("client-1.2", a2)}},
      {"nothing on disk, beta mode",
       {absent, absent, absent},
       false,
       1,
       {"client-1.2", "client-1.2beta"},
       "2 files to update.\n",
       {row_for("client-1.2beta", a2beta), row_for("client-1.2", a2)}},
      {"newest up to date, older missing",
       {served, absent, absent},
       true,
       0,
       {},
       "Everything appears to be up to date already.\n",
       {row_for("client-1.2", a2)}},
      // A wrong size counts wherever the entry stands, and beta mode is off.
      {"older builds of a wrong size",
       {served, wrong_size, wrong_size},
       true,
       0,
       {"client-1.1", "client-1.2beta"},
       "2 files to update.\n",
       {row_for("client-1.2beta", a2beta), row_for("client-1.1", a1), row_for("client-1.2", a2)}},
      // Right sizes but no manifest: only the first of each kind is compared.
      {"right sizes, empty manifest",
       {same_size, same_size, same_size},
       false,
       0,
       {"client-1.2"},
       "One file to update.\n",
       {row_for("client-1.2", a2)}},
  };
  const std::map<std::string, std::string> contents = {
      {"client-1.2", a2}, {"client-1.1", a1}, {"client-1.2beta", a2beta}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    temp_dir config;
    const std::string executables = config / "executables";
    const std::string manifest = executables + "/update_manifest.lst";
    loopback_peers::make_directories(executables);
    std::map<std::string, std::string> before;
    const char *disk_names[] = {"client-1.2", "client-1.1", "client-1.2beta"};
    for (int i = 0; i < 3; ++i) {
      std::string content = contents.at(disk_names[i]);
      if (c.disk[i] == absent) continue;
      if (c.disk[i] == wrong_size) content += "x";
      if (c.disk[i] == same_size) content[0] ^= 1;
      write_file(executables + "/" + disk_names[i], content);
      before[disk_names[i]] = content;
    }
    if (c.a2_in_manifest) save_manifest(manifest, {row_for("client-1.2", a2)});
    serve("client-1.2", a2);
    serve("client-1.1", a1);
    serve("client-1.2beta", a2beta);
    serve_list(list_line("client-1.2", a2) + list_line("client-1.1", a1) +
               list_line("client-1.2beta", a2beta));
    beta_setting = c.beta;
    window_double window;
    log_capture log;

    EXPECT_EQ(run_in(config, window), 1);

    EXPECT_NE(log.text().find(c.report), std::string::npos) << log.text();
    for (const auto &file : contents) {
      const bool fetched =
          std::find(c.fetched.begin(), c.fetched.end(), file.first) != c.fetched.end();
      const std::string path = executables + "/" + file.first;
      if (fetched) {
        EXPECT_TRUE(read_file(path) == file.second) << file.first << " was not fetched";
      } else if (before.count(file.first) != 0) {
        EXPECT_TRUE(read_file(path) == before[file.first]) << file.first << " was changed";
      } else {
        EXPECT_FALSE(path_exists(path)) << file.first << " was fetched";
      }
    }
    EXPECT_EQ(manifest_rows(manifest), c.manifest);
    if (c.fetched.empty()) {
      EXPECT_TRUE(window.percents.empty());
    } else {
      expect_progress_to_100(window.percents);
    }
  }
}

// One chosen file fails, the other is installed all the same; the failed
// file's manifest entry and old file stay as they were, and the manifest is
// saved once, at the end.
TEST_F(UpdateRunTest, SingleFileFailureLeavesTheOtherFileInstalled) {
  const std::string old_content = "old build\n";
  const std::string beta_content = repeated("beta 9\n", 1000);
  const std::string content = repeated("build 2\n", 500);
  const struct {
    const char *name;
    std::string entry;    // the failing entry's name
    std::string served;   // what the server sends for it; empty: nothing (404)
    bool old_file;        // an old build on disk, recorded in the manifest
    std::string in_way;   // a directory (ending in "/") or file put in the way
    std::string reports;  // the failure's reports
    bool progress_to_100;
  } cases[] = {
      {"not on the server", "client-2", "", true, "",
       "Unable to update file 'client-2' - download failed.\n", true},
      {"size differs from the list", "client-2", content.substr(1), true, "",
       "File 'client-2' arrived with 3999 bytes instead of the 4000 the list gives.\n"
       "Unable to update file 'client-2' - download failed.\n",
       true},
      {"directory in the way", "client-2", content, false, "client-2/",
       "Unable to update file 'client-2' - cannot remove old version.\n", true},
      // The pass skips a file whose directory it cannot make before counting
      // its bytes, so the progress stops short of 100 here.
      {"file in the way of its directory", "bin/x86/client-2", content, false, "bin",
       "Unable to update file 'bin/x86/client-2' - cannot create directory.\n", false},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    temp_dir config;
    const std::string executables = config / "executables";
    const std::string manifest = executables + "/update_manifest.lst";
    loopback_peers::make_directories(executables);
    std::vector<manifest_row> expected = {row_for("client-9beta", beta_content)};
    if (c.old_file) {
      write_file(executables + "/" + c.entry, old_content);
      save_manifest(manifest, {row_for(c.entry, old_content)});
      expected.push_back(row_for(c.entry, old_content));
    }
    if (!c.in_way.empty() && c.in_way.back() == '/') {
      loopback_peers::make_directories(executables + "/" + c.in_way + "inside");
    } else if (!c.in_way.empty()) {
      write_file(executables + "/" + c.in_way, "in the way\n");
    }
    if (!c.served.empty()) serve(c.entry, c.served);
    serve("client-9beta", beta_content);
    serve_list(list_line(c.entry, content) + list_line("client-9beta", beta_content));
    beta_setting = 1;
    verbose_setting = 1;
    window_double window;
    log_capture log;

    EXPECT_EQ(run_in(config, window), 1);

    const std::string text = log.text();
    EXPECT_NE(text.find("2 files to update.\n"), std::string::npos) << text;
    EXPECT_NE(text.find(c.reports), std::string::npos) << text;
    EXPECT_TRUE(read_file(executables + "/client-9beta") == beta_content);
    if (c.old_file) {
      EXPECT_EQ(read_file(executables + "/" + c.entry), old_content);
    }
    if (c.in_way == "client-2/") {
      EXPECT_EQ(tree_of(executables + "/client-2"), std::set<std::string>{"inside"});
    }
    if (c.in_way == "bin") {
      EXPECT_EQ(read_file(executables + "/bin"), "in the way\n");
    }
    EXPECT_EQ(manifest_rows(manifest), expected);
    EXPECT_EQ(occurrences(text, "Saving file manifest"), 1u) << text;
    EXPECT_NE(text.find("Saving file manifest due to completion.\n"), std::string::npos);
    if (c.progress_to_100) {
      expect_progress_to_100(window.percents);
    }
  }
}

TEST_F(UpdateRunTest, UnsafeNamesAreRefusedAndNothingLeavesTheDirectory) {
  const std::string evil = "#!/bin/sh\necho owned\n";
  // Where a careless client would find these names on the server: nginx
  // resolves the ".." itself.
  nginx_.publish("downloads/evil", evil);
  nginx_.publish("downloads/x", evil);
  serve("..\\x", evil);
  serve("client-3", a1);
  const char *unsafe[] = {"../evil", "a/../../x", "/", "..\\x"};
  std::string list;
  for (const char *name : unsafe) list += list_line(name, evil);
  serve_list(list + list_line("client-3", a1));
  log_capture log;

  EXPECT_EQ(run(), 1);

  const std::string text = log.text();
  for (const char *name : unsafe)
    EXPECT_NE(
        text.find(std::string("Refusing unsafe file name '") + name + "' from the update list.\n"),
        std::string::npos)
        << name << "\n"
        << text;
  EXPECT_NE(text.find("One file to update.\n"), std::string::npos) << text;
  const std::set<std::string> expected = {"executables", "executables/client-3",
                                          "executables/update_manifest.lst"};
  EXPECT_EQ(tree_of(config_.path()), expected);
  EXPECT_EQ(manifest_rows(manifest_), std::vector<manifest_row>{row_for("client-3", a1)});
}

TEST_F(UpdateRunTest, NestedNamesGetTheirDirectories) {
  serve("bin/x86/client-4", a1);
  serve("betas/client-4beta", a2beta);
  // A leading "/" asks for the same file on the server and stays in the name.
  serve_list(list_line("bin/x86/client-4", a1) + list_line("/betas/client-4beta", a2beta));
  beta_setting = 1;
  log_capture log;

  EXPECT_EQ(run(), 1);

  EXPECT_TRUE(read_file(local("bin/x86/client-4")) == a1);
  EXPECT_TRUE(read_file(local("betas/client-4beta")) == a2beta);
  EXPECT_EQ(manifest_rows(manifest_),
            (std::vector<manifest_row>{row_for("/betas/client-4beta", a2beta),
                                       row_for("bin/x86/client-4", a1)}));
  expect_progress_to_100(window_.percents);
}

TEST_F(UpdateRunTest, UnreachableServerLeavesEverythingAsItWas) {
  put_local("client-1.2", "old\n");
  save_manifest(manifest_, {row_for("client-1.2", "old\n")});
  const std::string manifest_before = read_file(manifest_);
  updater_hooks.port = loopback_peers::free_loopback_port();
  log_capture log;

  EXPECT_EQ(run(), 0);

  EXPECT_NE(log.text().find("Error fetching update file 'manifest_linux32_executables.txt.gz' "
                            "from remote server, aborting update.\n"),
            std::string::npos)
      << log.text();
  EXPECT_EQ(read_file(manifest_), manifest_before);
  EXPECT_EQ(tree_of(config_.path()), (std::set<std::string>{"executables", "executables/client-1.2",
                                                            "executables/update_manifest.lst"}));
  EXPECT_TRUE(window_.percents.empty());
}

TEST_F(UpdateRunTest, EmptyListSavesNothing) {
  serve_list("# nothing published yet\n");
  log_capture log;

  EXPECT_EQ(run(), 1);

  EXPECT_NE(log.text().find("Everything appears to be up to date already.\n"), std::string::npos)
      << log.text();
  EXPECT_FALSE(path_exists(manifest_));
  EXPECT_TRUE(window_.percents.empty());
}

TEST_F(UpdateRunTest, ManifestThatCannotBeSavedEndsTheProcess) {
  serve("client-1.2", a2);
  serve_list(list_line("client-1.2", a2));
  // A directory where the manifest file belongs: nothing can replace it.
  loopback_peers::make_directories(manifest_);
  log_capture log;

  EXPECT_EQ(run_in_child([this] {
              run();
              return 0;
            }),
            1);

  EXPECT_NE(log.text().find("Error - unable to save manifest file.  Bailing out.\n"),
            std::string::npos)
      << log.text();
}

// --- The update pass on its own ----------------------------------------------

// The clock of the periodic save; the progress callbacks move it.
std::time_t test_now = 1000000;
std::time_t test_clock() { return test_now; }

struct pass_observer {
  std::string manifest_path;
  int long_download_size = -1;  // the size whose progress moves the clock
  int clock_step = 0;
  std::vector<std::string> messages;
  std::vector<std::string> manifest_seen;  // the manifest file at each long-download report

  static void on_bytes(void *user, int, int total) {
    auto *o = static_cast<pass_observer *>(user);
    if (total != o->long_download_size) return;
    o->manifest_seen.push_back(read_file(o->manifest_path));
    test_now += o->clock_step;
  }
  static void on_message(void *user, const char *text) {
    static_cast<pass_observer *>(user)->messages.push_back(text);
  }
  size_t count(const std::string &message) const {
    return static_cast<size_t>(std::count(messages.begin(), messages.end(), message));
  }
};

// One update pass: an updater with a configuration directory of its own,
// pointed at the server on `port`, reading the test's clock and reporting to
// an observer; the entries it is given belong to it.
struct update_pass {
  explicit update_pass(int port) {
    test_now = 1000000;
    observer.manifest_path = manifest;
    updater.port = port;
    updater.clock = test_clock;
    updater.user_data = &observer;
    updater.byte_progress_callback = pass_observer::on_bytes;
    updater.message_callback = pass_observer::on_message;
    updater.verbose = 1;
    EXPECT_EQ(updater.set_destination_path(executables.c_str()), 1);
    EXPECT_EQ(updater.set_temp_file((executables + "/download.tmp").c_str()), 1);
    EXPECT_EQ(updater.load_manifest(manifest.c_str()), 0);  // no manifest yet
  }
  ~update_pass() {
    for (int i = 0; i < entries.count; ++i) delete static_cast<ketu_file_entry *>(entries.slots[i]);
  }

  void add_entry(const std::string &name, const std::string &content, int listed_size = -1) {
    entries.append(
        ketu_file_entry::create(name.c_str(), digest_of(content).c_str(),
                                listed_size >= 0 ? listed_size : static_cast<int>(content.size())));
  }
  int update() { return updater.update_files("127.0.0.1", root_path, entries); }

  temp_dir config;
  const std::string executables = config / "executables";
  const std::string manifest = executables + "/update_manifest.lst";
  pass_observer observer;
  ketu_file_updater updater;
  vorn_pointer_array entries;
};

class UpdatePassTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    if (!nginx_.start(&why)) GTEST_SKIP() << why;
  }
  void serve(const std::string &name, const std::string &content) {
    nginx_.publish(std::string(root_path + 1) + "/" + name, content);
  }

  nginx_server nginx_;
  // A file that arrives at once, and one that comes in many blocks.
  const std::string a_ = "small file A\n";
  const std::string b_ = repeated("the long download B\n", 6000);  // 120000 bytes
};

// B takes long enough (by the test's clock) that the manifest, changed by A,
// is saved while B is still arriving.
TEST_F(UpdatePassTest, ChangedManifestIsSavedDuringALongDownloadAndAtTheEnd) {
  serve("client-a", a_);
  serve("client-b", b_);
  const struct {
    const char *name;
    int b_listed_size;
    bool saved_at_end;
    std::vector<std::string> manifest;
  } cases[] = {
      {"B installed", static_cast<int>(b_.size()), true, {"client-b", "client-a"}},
      // B fails its size check: nothing changed after the save during B.
      {"B fails", static_cast<int>(b_.size()) + 1, false, {"client-a"}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    update_pass pass(nginx_.port());
    pass.observer.long_download_size = static_cast<int>(b_.size());
    // Five seconds per report: the third report of B is the first one 11
    // seconds after A's (120000 bytes come in at least 15 blocks).
    pass.observer.clock_step = 5;
    pass.add_entry("client-a", a_);
    pass.add_entry("client-b", b_, c.b_listed_size);

    EXPECT_EQ(pass.update(), 0);

    const pass_observer &o = pass.observer;
    EXPECT_EQ(o.count("Saving file manifest."), 1u);
    EXPECT_EQ(o.count("Saving file manifest due to completion."), c.saved_at_end ? 1u : 0u);
    // What B's reports found on disk before each moved the clock: no
    // manifest up to the third, A's from the fourth to the last.
    ASSERT_GE(o.manifest_seen.size(), 15u);
    EXPECT_EQ(o.manifest_seen[2], "");
    EXPECT_NE(o.manifest_seen[3].find(" client-a\n"), std::string::npos);
    EXPECT_EQ(o.manifest_seen.back(), o.manifest_seen[3]);
    EXPECT_EQ(o.manifest_seen.back().find("client-b"), std::string::npos);
    std::vector<std::string> names;
    for (const auto &r : manifest_rows(pass.manifest)) names.push_back(r.name);
    EXPECT_EQ(names, c.manifest);
  }
}

TEST_F(UpdatePassTest, UnsavableManifestAtThePeriodicSaveEndsTheProcess) {
  serve("client-a", a_);
  serve("client-b", b_);
  update_pass pass(nginx_.port());
  loopback_peers::make_directories(pass.manifest);
  pass.observer.long_download_size = static_cast<int>(b_.size());
  pass.observer.clock_step = 4;
  pass.add_entry("client-a", a_);
  pass.add_entry("client-b", b_);
  log_capture log;

  EXPECT_EQ(run_in_child([&pass] {
              pass.update();
              return 0;
            }),
            1);

  EXPECT_NE(log.text().find("Error in ketu_file_manifest::save_file() - unable to save file '" +
                            pass.manifest + "'."),
            std::string::npos)
      << log.text();
  // The process ended inside B's download, before B took its name.
  EXPECT_TRUE(read_file(pass.executables + "/client-a") == a_);
  EXPECT_FALSE(path_exists(pass.executables + "/client-b"));
}

TEST_F(UpdatePassTest, UnsafeNamesAreNeverWritten) {
  const std::string evil = "#!/bin/sh\necho owned\n";
  // Where a careless client would find these names: nginx resolves the "..".
  nginx_.publish("downloads/evil", evil);
  nginx_.publish("downloads/x", evil);
  serve("..\\x", evil);
  serve("good", "good\n");
  update_pass pass(nginx_.port());
  const char *unsafe[] = {"../evil", "a/../../x", "/", "..\\x", "//"};
  for (const char *name : unsafe) pass.add_entry(name, evil);
  pass.add_entry("good", "good\n");

  EXPECT_EQ(pass.update(), 0);

  for (const char *name : unsafe) {
    EXPECT_EQ(pass.observer.count(std::string("Unable to update file '") + name +
                                  "' - unsafe file name."),
              1u)
        << name;
  }
  EXPECT_EQ(pass.updater.other_failures, 5);
  EXPECT_EQ(pass.updater.files_updated, 1);
  EXPECT_EQ(tree_of(pass.config.path()),
            (std::set<std::string>{"executables", "executables/good",
                                   "executables/update_manifest.lst"}));
  EXPECT_EQ(manifest_rows(pass.manifest), std::vector<manifest_row>{row_for("good", "good\n")});
}

// The request path is escaped where HTTP needs it, so names with blanks and
// bytes outside ASCII reach the file they name. ("%", "?" and "#" are sent
// as they are; virelan-make-list must not publish them, see make_list_test.)
TEST_F(UpdatePassTest, NamesWithBlanksAndOtherBytesAreFetched) {
  const char *names[] = {"my client 2", "caf\xc3\xa9", "a+b", "back\\slash", "tab\there"};
  update_pass pass(nginx_.port());
  for (const char *name : names) {
    serve(name, std::string("content of ") + name + "\n");
    pass.add_entry(name, std::string("content of ") + name + "\n");
  }
  log_capture log;

  EXPECT_EQ(pass.update(), 0);

  for (const char *name : names) {
    EXPECT_EQ(read_file(pass.executables + "/" + name), std::string("content of ") + name + "\n")
        << name;
  }
  EXPECT_EQ(pass.updater.files_updated, 5) << log.text();
}

}  // namespace
