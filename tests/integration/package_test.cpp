// What `cmake --install` of this build tree puts under a prefix, installed
// into a temporary DESTDIR as a package build does: the three programs, the
// menu entry and the icons it names, and nothing else.
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdint>
#include <set>
#include <string>

#include "common/test_support.h"
#include "integration/loopback_peers.h"

namespace {

using loopback_peers::find_program;
using loopback_peers::program_result;
using loopback_peers::run_program;
using testing_support::read_file;
using testing_support::temp_dir;

const char prefix[] = "/usr";
const char desktop_file[] = "usr/share/applications/virelan-launcher.desktop";

// Every regular file and link below `directory`, relative to it.
void collect_files(const std::string &directory, const std::string &relative,
                   std::set<std::string> *files) {
  DIR *d = opendir(directory.c_str());
  if (d == nullptr) return;
  while (const dirent *e = readdir(d)) {
    const std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    const std::string path = directory + "/" + name;
    const std::string rel = relative.empty() ? name : relative + "/" + name;
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) continue;
    if (S_ISDIR(st.st_mode)) {
      collect_files(path, rel, files);
    } else {
      files->insert(rel);
    }
  }
  closedir(d);
}

// The value of `key` in the [Desktop Entry] group, or "".
std::string desktop_value(const std::string &text, const std::string &key) {
  const std::string start = key + "=";
  size_t at = 0;
  while (at < text.size()) {
    const size_t end = text.find('\n', at);
    const std::string line = text.substr(at, end == std::string::npos ? end : end - at);
    if (line.compare(0, start.size(), start) == 0) return line.substr(start.size());
    if (end == std::string::npos) break;
    at = end + 1;
  }
  return "";
}

uint32_t big_endian(const std::string &bytes, size_t at) {
  return static_cast<uint32_t>(static_cast<unsigned char>(bytes[at])) << 24 |
         static_cast<uint32_t>(static_cast<unsigned char>(bytes[at + 1])) << 16 |
         static_cast<uint32_t>(static_cast<unsigned char>(bytes[at + 2])) << 8 |
         static_cast<uint32_t>(static_cast<unsigned char>(bytes[at + 3]));
}

// This build tree installed below a fresh DESTDIR with the package's prefix.
class InstallTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const program_result r =
        run_program({"env", "DESTDIR=" + destdir_.path(), VIRELAN_CMAKE_COMMAND, "--install",
                     VIRELAN_BUILD_DIR, "--prefix", prefix},
                    120);
    ASSERT_EQ(r.status, 0) << r.out << r.err;
  }

  std::string installed(const std::string &relative) const { return destdir_ / relative; }

  temp_dir destdir_;
};

TEST_F(InstallTest, InstallsTheProgramsTheMenuEntryAndTheIconsAndNothingElse) {
  std::set<std::string> expected = {
      "usr/bin/virelan-make-list",
      "usr/bin/virelan-update-server",
      desktop_file,
      "usr/share/icons/hicolor/128x128/apps/virelan-launcher.png",
      "usr/share/icons/hicolor/48x48/apps/virelan-launcher.png",
  };
  if (VIRELAN_INSTALLS_LAUNCHER) expected.insert("usr/bin/virelan-launcher");
  std::set<std::string> files;
  collect_files(destdir_.path(), "", &files);

  EXPECT_EQ(files, expected);

  for (const std::string &file : expected) {
    struct stat st;
    ASSERT_EQ(lstat(installed(file).c_str(), &st), 0) << file;
    EXPECT_TRUE(S_ISREG(st.st_mode)) << file;
    const bool program = file.compare(0, 8, "usr/bin/") == 0;
    // Programs for everyone to run, data for everyone to read, nothing
    // writable but by its owner.
    EXPECT_EQ(st.st_mode & 0777, program ? 0755u : 0644u) << file;
  }
}

TEST_F(InstallTest, MenuEntryStartsTheInstalledLauncherWithItsInstalledIcon) {
  const std::string entry = read_file(installed(desktop_file));
  ASSERT_FALSE(entry.empty());
  EXPECT_EQ(entry.compare(0, 16, "[Desktop Entry]\n"), 0) << entry;

  const std::string exec = desktop_value(entry, "Exec");
  const std::string program = exec.substr(0, exec.find(' '));
  // A bare name, found in PATH, so the entry holds for any prefix.
  EXPECT_EQ(program.find('/'), std::string::npos) << exec;
  if (VIRELAN_INSTALLS_LAUNCHER) {
    EXPECT_EQ(access(installed("usr/bin/" + program).c_str(), X_OK), 0) << exec;
  }
  const std::string icon = desktop_value(entry, "Icon");
  ASSERT_FALSE(icon.empty()) << entry;
  EXPECT_EQ(icon.find('/'), std::string::npos) << "a theme icon name, not a path: " << icon;
  for (const char *size : {"128x128", "48x48"}) {
    EXPECT_TRUE(testing_support::path_exists(
        installed(std::string("usr/share/icons/hicolor/") + size + "/apps/" + icon + ".png")))
        << icon << " at " << size;
  }
}

TEST_F(InstallTest, MenuEntryPassesDesktopFileValidate) {
  const std::string validator =
      find_program({"/usr/bin/desktop-file-validate", "/usr/local/bin/desktop-file-validate"});
  if (validator.empty())
    GTEST_SKIP() << "desktop-file-validate is not installed (desktop-file-utils)";

  const program_result r = run_program({validator, installed(desktop_file)});

  EXPECT_EQ(r.status, 0) << r.out << r.err;
  // It reports hints and warnings with status 0 too.
  EXPECT_EQ(r.out + r.err, "");
}

TEST_F(InstallTest, EachIconIsAPngOfItsDirectorysSize) {
  for (const uint32_t size : {128u, 48u}) {
    const std::string dimensions = std::to_string(size) + "x" + std::to_string(size);
    SCOPED_TRACE(dimensions);
    const std::string png = read_file(
        installed("usr/share/icons/hicolor/" + dimensions + "/apps/virelan-launcher.png"));
    ASSERT_GE(png.size(), 33u);
    EXPECT_EQ(png.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
    // The first chunk is IHDR: width and height, then bit depth and colour type.
    EXPECT_EQ(png.substr(12, 4), "IHDR");
    EXPECT_EQ(big_endian(png, 16), size);
    EXPECT_EQ(big_endian(png, 20), size);
  }
}

}  // namespace
