// The manifest: its line grammar, loading, pruning, merging and the saved file.
#include "updater/file_manifest.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <string>
#include <vector>

#include "common/test_support.h"

using testing_support::log_capture;
using testing_support::read_file;
using testing_support::temp_dir;
using testing_support::write_file;

namespace {

const char header[] =
    "# This is an automatically generated file - do not modify\n"
    "# It contains a list of the files currently managed by the\n"
    "# updater.  Changing or deleting it may cause your next\n"
    "# update to download far more things than it needs.\n"
    "\n";

const char digest[] = "0123456789abcdef0123";  // 20 characters

std::vector<std::string> names_of(const ketu_file_manifest &m) {
  std::vector<std::string> names;
  for (ketu_file_entry *e = m.head; e != nullptr; e = e->next) names.push_back(e->name);
  return names;
}

TEST(FileManifestTest, LinesFollowTheGrammar) {
  struct {
    const char *line;
    int accepted;
    const char *hash;  // null: no entry
    int size;
    const char *name;
    const char *error;  // the reason's ending, or null
  } cases[] = {
      {"", 1, nullptr, 0, nullptr, nullptr},
      {" \t ", 1, nullptr, 0, nullptr, nullptr},
      {"  \t# 0123456789 5 x", 1, nullptr, 0, nullptr, nullptr},
      {"0123456789abcdef 12 client.bin", 1, "0123456789abcdef", 12, "client.bin", nullptr},
      {"\t 0123456789 12 a", 1, "0123456789", 12, "a", nullptr},
      {"0123456789Z 1 a", 1, "0123456789Z", 1, "a", nullptr},
      {"0123456789 -5 a", 1, "0123456789", -5, "a", nullptr},
      {"0123456789 + a", 1, "0123456789", 0, "a", nullptr},
      {"0123456789 12ab a", 1, "0123456789", 12, "a", nullptr},
      {"0123456789 1 dir/my game  client  ", 1, "0123456789", 1, "dir/my game  client  ", nullptr},
      {"0123456789 1 name\r", 1, "0123456789", 1, "name\r", nullptr},
      {"0123456789\t\t7\t\tx", 1, "0123456789", 7, "x", nullptr},
      {"012345678 1 a", 0, nullptr, 0, nullptr, " - bad or missing hash field for line:"},
      {"012345678A 1 a", 0, nullptr, 0, nullptr, " - bad or missing hash field for line:"},
      {"0123456789", 0, nullptr, 0, nullptr, " - bad or missing file size for line:"},
      {"0123456789 -x a", 0, nullptr, 0, nullptr, " - bad or missing file size for line:"},
      {"0123456789 x5 a", 0, nullptr, 0, nullptr, " - bad or missing file size for line:"},
      {"0123456789 5", 0, nullptr, 0, nullptr, " - missing file name for line:"},
      {"0123456789 5  ", 0, nullptr, 0, nullptr, " - missing file name for line:"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.line);
    log_capture log;
    ketu_file_entry *entry = reinterpret_cast<ketu_file_entry *>(1);
    EXPECT_EQ(parse_manifest_line("downloaded data", c.line, &entry), c.accepted);
    if (c.hash == nullptr) {
      EXPECT_EQ(entry, nullptr);
    } else {
      ASSERT_NE(entry, nullptr);
      EXPECT_STREQ(entry->hash, c.hash);
      EXPECT_EQ(entry->size, c.size);
      EXPECT_STREQ(entry->name, c.name);
      delete entry;
    }
    if (c.error != nullptr)
      EXPECT_EQ(log.text(),
                std::string("Syntax error in downloaded data") + c.error + "\n" + c.line + "\n");
    else
      EXPECT_EQ(log.text(), "");
  }
}

TEST(FileManifestTest, ALongDigestIsKeptUpTo5999Characters) {
  std::string long_digest = "0123456789" + std::string(7000, 'f');
  ketu_file_entry *entry = nullptr;
  ASSERT_EQ(parse_manifest_line("x", (long_digest + " 1 a").c_str(), &entry), 1);
  EXPECT_EQ(std::string(entry->hash), long_digest.substr(0, 5999));
  delete entry;
}

TEST(FileManifestTest, SavedFileIsExactAndLoadsBack) {
  temp_dir dir;
  ketu_file_manifest m;
  ketu_file_entry *a = ketu_file_entry::create("a", digest, 123);
  ketu_file_entry *b = ketu_file_entry::create("dir/b c ", "0123456789abcdef012", 1234567890);
  m.merge_entry(a);
  m.merge_entry(b);
  log_capture log;
  ASSERT_EQ(m.save_file((dir / "update_manifest.lst").c_str()), 1);
  EXPECT_EQ(read_file(dir / "update_manifest.lst"),
            std::string(header) + "0123456789abcdef012 1234567890 dir/b c \n" + digest +
                "        123 a\n");
  EXPECT_EQ(log.text(),
            "Error in ketu_file_manifest::save_file(), file 'dir/b c ' had short hash len of "
            "19.\n\n");

  ketu_file_manifest loaded;
  EXPECT_EQ(loaded.load_file((dir / "update_manifest.lst").c_str()), 2);
  EXPECT_EQ(names_of(loaded), (std::vector<std::string>{"dir/b c ", "a"}));
  EXPECT_EQ(loaded.find_entry("a")->size, 123);
  delete a;
  delete b;
}

TEST(FileManifestTest, MergeUpdatesInPlaceOrPutsNewEntriesFirst) {
  ketu_file_manifest m;
  ketu_file_entry *a = ketu_file_entry::create("A", digest, 1);
  ketu_file_entry *b = ketu_file_entry::create("B", digest, 2);
  ketu_file_entry *a2 = ketu_file_entry::create("A", "ffffffffff", 3);
  m.merge_entry(a);
  m.merge_entry(b);
  m.merge_entry(a2);
  EXPECT_EQ(names_of(m), (std::vector<std::string>{"B", "A"}));
  EXPECT_STREQ(m.find_entry("A")->hash, "ffffffffff");
  EXPECT_EQ(m.find_entry("A")->size, 3);
  // The manifest keeps copies, not the caller's entries.
  EXPECT_NE(m.find_entry("A"), a);
  delete a;
  delete b;
  delete a2;
}

TEST(FileManifestTest, LoadStopsAtASyntaxErrorAndReloadsStartEmpty) {
  temp_dir dir;
  const std::string path = dir / "m.lst";
  write_file(path, std::string(header) + "0123456789 1 first\r\n# note\r\n   \r\n" +
                       "0123456789 2 first\n0123456789 x broken\n0123456789 3 after\n");
  ketu_file_manifest m;
  log_capture log;
  EXPECT_EQ(m.load_file(path.c_str()), -1);
  EXPECT_EQ(names_of(m), (std::vector<std::string>{"first", "first"}));
  // Two lines of one name: both kept, the later one found.
  EXPECT_EQ(m.find_entry("first")->size, 2);
  EXPECT_EQ(log.text(),
            "Syntax error in file manifest - bad or missing file size for line:\n0123456789 x "
            "broken\n");

  write_file(path, std::string(header) + "0123456789 1 only\n");
  EXPECT_EQ(m.load_file(path.c_str()), 1);
  EXPECT_EQ(names_of(m), (std::vector<std::string>{"only"}));
  EXPECT_EQ(m.index.count, 1u);
  EXPECT_EQ(m.load_file((dir / "missing").c_str()), -1);
  EXPECT_EQ(m.head, nullptr);
}

TEST(FileManifestTest, PruneKeepsOnlyRegularFilesInOrder) {
  temp_dir dir;
  mkdir((dir / "S").c_str(), 0700);
  mkdir((dir / "D").c_str(), 0700);
  write_file(dir / "S/F", "x");
  write_file(dir / "top", "x");
  ketu_file_manifest m;
  for (const char *name : {"top", "gone", "S/F", "D", "S/missing"}) {
    ketu_file_entry *e = ketu_file_entry::create(name, digest, 1);
    m.merge_entry(e);
    delete e;
  }
  EXPECT_EQ(m.prune_missing(dir.path().c_str()), 2);
  EXPECT_EQ(names_of(m), (std::vector<std::string>{"S/F", "top"}));
  EXPECT_EQ(m.find_entry("gone"), nullptr);
  EXPECT_EQ(m.index.count, 2u);
}

TEST(FileManifestTest, AFailedSaveKeepsTheOldFile) {
  temp_dir dir;
  const std::string path = dir / "update_manifest.lst";
  write_file(path, "old content\n");
  ketu_file_manifest m;
  ketu_file_entry *e = ketu_file_entry::create("a", digest, 1);
  m.merge_entry(e);
  delete e;
  log_capture log;
  // The directory is gone: nothing can be written beside the file.
  EXPECT_EQ(m.save_file((dir / "missing/update_manifest.lst").c_str()), 0);
  EXPECT_EQ(log.text(), "Error in ketu_file_manifest::save_file() - unable to save file '" +
                            (dir / "missing/update_manifest.lst") + "'.\n");
  // A directory where the file belongs: the rename fails and no temporary
  // file is left behind.
  mkdir((dir / "taken").c_str(), 0700);
  write_file(dir / "taken/x", "");
  EXPECT_EQ(m.save_file((dir / "taken").c_str()), 0);
  EXPECT_EQ(read_file(path), "old content\n");
  int files = 0;
  for (const char *probe : {"update_manifest.lst", "taken"})
    files += testing_support::path_exists(dir / probe);
  EXPECT_EQ(files, 2);
}

TEST(FileManifestTest, SaveOnAFullDiskFailsAndKeepsTheOldFile) {
  // A file-size limit makes writes fail part way, as a full disk does.
  int status = testing_support::run_in_child([] {
    temp_dir dir;
    const std::string path = dir / "update_manifest.lst";
    write_file(path, "old\n");
    ketu_file_manifest m;
    for (int i = 0; i < 200; ++i) {
      std::string name = "file" + std::to_string(i);
      ketu_file_entry *e = ketu_file_entry::create(name.c_str(), digest, i);
      m.merge_entry(e);
      delete e;
    }
    signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit = {512, 512};
    setrlimit(RLIMIT_FSIZE, &limit);
    if (m.save_file(path.c_str()) != 0) return 10;
    if (read_file(path) != "old\n") return 11;
    return 0;
  });
  EXPECT_EQ(status, 0);
}

TEST(FileManifestTest, UnsafeNamesAreRecognised) {
  struct {
    const char *name;
    int safe;
  } cases[] = {
      // clang-format off
      {"client", 1}, {"dir/client", 1}, {"/client", 1}, {"a..b", 1}, {"..a/b", 1}, {"a/...", 1},
      {"sub/lock.tmp", 1},
      {"", 0}, {"/", 0}, {"//\\", 0}, {"..", 0}, {"../x", 0}, {"a/../../x", 0}, {"a\\..\\x", 0},
      {"a/..", 0}, {"/../.profile", 0},
      {"lock.tmp", 0}, {"/download.tmp", 0}, {"update_manifest.lst", 0},
      // clang-format on
  };
  for (const auto &c : cases) EXPECT_EQ(ketu_is_safe_name(c.name), c.safe) << c.name;
}

}  // namespace
