// virelan-make-list run as a program on temporary trees; its lists are read
// back with gzip and checked against sha256sum.
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "common/test_support.h"
#include "integration/loopback_peers.h"

namespace {

using loopback_peers::make_directories;
using loopback_peers::program_result;
using loopback_peers::run_program;
using testing_support::file_mode;
using testing_support::path_exists;
using testing_support::read_file;
using testing_support::temp_dir;
using testing_support::write_file;

const std::string tool = std::string(VIRELAN_BIN_DIR) + "/virelan-make-list";
const char default_list[] = "manifest_linux32_executables.txt.gz";

program_result make_list(const std::vector<std::string> &arguments) {
  std::vector<std::string> argv = {tool};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  return run_program(argv);
}

// The text of a gzip file, read by gzip itself; fails the test when gzip
// finds it damaged.
std::string gunzip(const std::string &path) {
  const program_result r = run_program({"gzip", "-dc", path});
  EXPECT_EQ(r.status, 0) << "gzip -dc " << path << ": " << r.err;
  return r.out;
}

// The line the list must hold for `name` below `root`.
std::string expected_line(const std::string &root, const std::string &name) {
  const program_result sum = run_program({"sha256sum", "-b", root + "/" + name});
  EXPECT_EQ(sum.status, 0) << sum.err;
  struct stat st;
  EXPECT_EQ(stat((root + "/" + name).c_str(), &st), 0);
  return sum.out.substr(0, 64) + " " + std::to_string(st.st_size) + " " + name + "\n";
}

// The list of `names` below `root`, ordered by descending byte-wise name.
std::string expected_list(const std::string &root, std::vector<std::string> names) {
  std::sort(names.begin(), names.end(), [](const std::string &a, const std::string &b) {
    return std::strcmp(a.c_str(), b.c_str()) > 0;
  });
  std::string text;
  for (const std::string &name : names) text += expected_line(root, name);
  return text;
}

std::vector<std::string> entries_of(const std::string &directory) {
  std::vector<std::string> names;
  DIR *dir = opendir(directory.c_str());
  if (dir == nullptr) return names;
  while (dirent *e = readdir(dir))
    if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
      names.push_back(e->d_name);
  closedir(dir);
  std::sort(names.begin(), names.end());
  return names;
}

void write_tree(const std::string &root, const std::vector<std::string> &names) {
  make_directories(root);
  for (const std::string &name : names) {
    const size_t slash = name.rfind('/');
    if (slash != std::string::npos) make_directories(root + "/" + name.substr(0, slash));
    write_file(root + "/" + name, "the bytes of " + name + "\n" + std::string(name.size(), 'z'));
  }
}

TEST(MakeListTest, ListsEveryFileByDescendingNameWithItsDigest) {
  temp_dir dir;
  const std::string root = dir / "publish";
  const std::vector<std::string> names = {
      "client-1.0", "client-1.1", "client-1.1beta", "data/levels/one.pak", "data/z",
      "Zeta",       "a b",        ".hidden",        "client-1.10",         "data-2/file",
  };
  write_tree(root, names);
  write_file(root + "/empty", "");
  make_directories(root + "/empty-directory");
  // A leftover of an interrupted run of the tool, and links.
  write_file(root + "/.virelan-make-list.Ab12Cd", "half a list");
  ASSERT_EQ(symlink("client-1.1", (root + "/latest").c_str()), 0);
  ASSERT_EQ(symlink("data", (root + "/linked-directory").c_str()), 0);
  std::vector<std::string> listed = names;
  listed.push_back("empty");
  listed.push_back("latest");
  const std::string expected = expected_list(root, listed);
  const std::vector<std::string> before = entries_of(root);

  // The second run finds the first one's list in the tree.
  for (int run = 0; run < 2; ++run) {
    SCOPED_TRACE(run == 0 ? "first run" : "second run");
    const program_result r = make_list({root});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(gunzip(root + "/" + default_list), expected);
    EXPECT_EQ(file_mode(root + "/" + default_list), 0644);
    std::vector<std::string> after = before;
    after.push_back(default_list);
    std::sort(after.begin(), after.end());
    EXPECT_EQ(entries_of(root), after) << "a temporary file was left behind";
  }
}

TEST(MakeListTest, ListWrittenElsewhereHoldsTheSameLines) {
  temp_dir dir;
  const std::string root = dir / "publish";
  write_tree(root, {"client-2", "sub/client-1"});
  const std::string expected = expected_list(root, {"client-2", "sub/client-1"});
  const struct {
    const char *name;
    std::vector<std::string> arguments;
    std::string list;
  } cases[] = {
      {"--out FILE", {root, "--out", dir / "elsewhere.gz"}, dir / "elsewhere.gz"},
      {"--out=FILE before DIR", {"--out=" + (dir / "other.gz"), root}, dir / "other.gz"},
      {"inside a subdirectory",
       {root + "/", "--out", root + "/sub/list.gz"},
       root + "/sub/list.gz"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    // Twice: the second run must not list a list inside the tree either.
    for (int run = 0; run < 2; ++run) {
      const program_result r = make_list(c.arguments);
      ASSERT_EQ(r.status, 0) << r.err;
      EXPECT_EQ(gunzip(c.list), expected);
    }
  }
  EXPECT_FALSE(path_exists(root + "/" + default_list));
}

TEST(MakeListTest, EmptyDirectoryGivesAnEmptyList) {
  temp_dir dir;
  const program_result r = make_list({dir.path()});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(run_program({"gzip", "-t", dir / default_list}).status, 0);
  EXPECT_EQ(gunzip(dir / default_list), "");
}

// A name the launcher would refuse or could not read back: the run fails,
// names the file, and the list already published stays as it was.
TEST(MakeListTest, UnusableNamesAreRefusedAndTheOldListStays) {
  const char *names[] = {"line\nfeed", "carriage\rreturn", " leading blank", "\tleading tab"};
  for (const char *name : names) {
    SCOPED_TRACE(name);
    temp_dir dir;
    write_tree(dir.path(), {"client-1", name});
    write_file(dir / default_list, "the old list");

    const program_result r = make_list({dir.path()});

    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(std::string("'") + name + "'"), std::string::npos) << r.err;
    EXPECT_EQ(read_file(dir / default_list), "the old list");
    EXPECT_EQ(entries_of(dir.path()).size(), 3u) << "a temporary file was left behind";
  }
}

// The launcher sends "%", "?" and "#" of a name unescaped, so a server reads
// them as an escape, a query or a fragment and answers for another file
// (nginx answers "what?" with the file "what", "100%" with 400).
TEST(MakeListTest, NamesTheLauncherCannotRequestAreRefused) {
  const char *names[] = {"what?", "100%", "client#2"};
  for (const char *name : names) {
    SCOPED_TRACE(name);
    temp_dir dir;
    write_tree(dir.path(), {"client-1", name});
    write_file(dir / default_list, "the old list");

    const program_result r = make_list({dir.path()});

    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(std::string("'") + name + "'"), std::string::npos) << r.err;
    EXPECT_TRUE(read_file(dir / default_list) == "the old list") << "the list was replaced";
  }
}

TEST(MakeListTest, FileLargerThanTheSizeFieldIsRefused) {
  temp_dir dir;
  write_tree(dir.path(), {"client-1"});
  write_file(dir / default_list, "the old list");
  // Sparse: 2 GiB on paper, nothing on disk.
  write_file(dir / "huge", "");
  ASSERT_EQ(truncate((dir / "huge").c_str(), 2147483648LL), 0);

  const program_result r = make_list({dir.path()});

  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("'huge'"), std::string::npos) << r.err;
  EXPECT_EQ(read_file(dir / default_list), "the old list");
}

TEST(MakeListTest, UsageErrorsExitWith2) {
  temp_dir dir;
  const struct {
    const char *name;
    std::vector<std::string> arguments;
  } cases[] = {
      {"no arguments", {}},
      {"unknown option", {"-x", dir.path()}},
      {"two directories", {dir.path(), dir.path()}},
      {"--out without its file", {dir.path(), "--out"}},
      {"only --out", {"--out", dir / "list.gz"}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    const program_result r = make_list(c.arguments);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("usage: virelan-make-list DIR [--out FILE]"), std::string::npos) << r.err;
    EXPECT_FALSE(path_exists(dir / default_list));
    EXPECT_FALSE(path_exists(dir / "list.gz"));
  }
  const program_result missing = make_list({dir / "no-such-directory"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("no-such-directory"), std::string::npos) << missing.err;
  const program_result help = make_list({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("usage: virelan-make-list"), std::string::npos);
}

}  // namespace
