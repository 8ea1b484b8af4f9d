#include "support/config_directory.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "common/test_support.h"

namespace {

// Each case runs in a forked child with a private, empty /tmp (a tmpfs in a
// mount namespace of its own), so that the "/tmp/Virelan" candidate can be
// shaped freely without touching the machine's real /tmp. The child's standard
// output, where the unnamed debug log goes, comes back as `output`.
//
// Inside the child: /tmp/home is the home directory and /tmp/work the working
// directory, both owned by root with mode 0755.
constexpr int kNoNamespace = 90;

struct Outcome {
  int status = -1;
  std::string output;
};

void make_file(const char *path) {
  const int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd >= 0) close(fd);
}

Outcome run_set_up(const std::function<void()> &prepare, const char *home, bool as_nobody,
                   const std::function<void()> &after = {}) {
  int pipe_fds[2];
  if (pipe(pipe_fds) != 0) return {};
  Outcome outcome;
  outcome.status = testing_support::run_in_child([&] {
    close(pipe_fds[0]);
    dup2(pipe_fds[1], STDOUT_FILENO);
    if (unshare(CLONE_NEWNS) != 0) return kNoNamespace;
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return kNoNamespace;
    if (mount("tmpfs", "/tmp", "tmpfs", 0, "mode=1777") != 0) return kNoNamespace;
    mkdir("/tmp/home", 0755);
    mkdir("/tmp/work", 0755);
    prepare();
    if (chdir("/tmp/work") != 0) return 91;
    if (as_nobody && (setgid(65534) != 0 || setuid(65534) != 0)) return 92;
    if (home != nullptr) {
      setenv("HOME", home, 1);
    } else {
      unsetenv("HOME");
    }
    const int result = vorn_client_set_up_config_directory("Virelan");
    const char *chosen = vorn_client_get_config_directory();
    std::printf("RESULT %d %s\n", result, chosen ? chosen : "(none)");
    if (chosen != nullptr) {
      struct stat st;
      stat(chosen, &st);
      const std::string probe = std::string(chosen) + "/xx-rw-test.qqq";
      std::printf("MODE %04o PROBE %s\n", static_cast<unsigned>(st.st_mode & 07777),
                  access(probe.c_str(), F_OK) == 0 ? "left" : "gone");
    }
    std::fflush(stdout);  // the log below writes straight to the descriptor
    if (after) after();
    std::fflush(stdout);
    return 0;
  });
  close(pipe_fds[1]);
  char buffer[4096];
  ssize_t n;
  while ((n = read(pipe_fds[0], buffer, sizeof buffer)) > 0) outcome.output.append(buffer, n);
  close(pipe_fds[0]);
  return outcome;
}

class ConfigDirectoryTest : public testing::Test {
 protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "needs root for a private /tmp in a mount namespace";
  }
};

void home_is_a_file() { make_file("/tmp/home/file"); }
void cwd_candidate_is_a_file() {
  home_is_a_file();
  make_file("/tmp/work/.Virelan");
}
void tmp_candidate_is_a_file() {
  cwd_candidate_is_a_file();
  make_file("/tmp/Virelan");
}
void nothing_usable() {
  tmp_candidate_is_a_file();
  make_file("/tmp/work/Virelan");
}

const char *const kUnusableHome = "/tmp/home/file";
const char *const kGivingUp =
    "vorn_client_set_up_config_directory() - Giving up.  Cannot create config directory.\n";
const char *const kNoHome =
    "Error in vorn_client_set_up_config_directory(), unable to fetch home directory - please set "
    "HOME environment variable and restart.\n";

// One scenario: how the machine looks, what HOME says, and what the child
// prints (the log's lines included).
struct Scenario {
  const char *name;
  void (*prepare)();
  const char *home;
  std::string expected;
};

void expect_outcomes(const std::vector<Scenario> &scenarios) {
  for (const Scenario &c : scenarios) {
    SCOPED_TRACE(c.name);
    const Outcome outcome = run_set_up(c.prepare, c.home, false);
    if (outcome.status == kNoNamespace) GTEST_SKIP() << "mount namespaces are not permitted here";
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.output, c.expected);
  }
}

TEST_F(ConfigDirectoryTest, CandidatesAreTriedInOrder) {
  expect_outcomes({
      {"writeable home", [] {}, "/tmp/home", "RESULT 1 /tmp/home/.Virelan\nMODE 0700 PROBE gone\n"},
      {"home ending in a slash", [] {}, "/tmp/home/",
       "RESULT 1 /tmp/home//.Virelan\nMODE 0700 PROBE gone\n"},
      {"home unusable", home_is_a_file, kUnusableHome, "RESULT 1 .Virelan\nMODE 0700 PROBE gone\n"},
      {"home and working directory unusable", cwd_candidate_is_a_file, kUnusableHome,
       "RESULT 1 /tmp/Virelan\nMODE 0700 PROBE gone\n"},
      {"only the bare name left", tmp_candidate_is_a_file, kUnusableHome,
       "RESULT 1 Virelan\nMODE 0700 PROBE gone\n"},
      {"nothing usable", nothing_usable, kUnusableHome,
       std::string(kGivingUp) + "RESULT 0 (none)\n"},
  });
}

TEST_F(ConfigDirectoryTest, MissingOrEmptyHomeTriesNothingElse) {
  for (const char *home : {static_cast<const char *>(nullptr), ""}) {
    const Outcome outcome = run_set_up(
        [] {}, home, false,
        [] {
          std::printf("CWD CANDIDATE %s\n", access(".Virelan", F_OK) == 0 ? "made" : "absent");
        });
    if (outcome.status == kNoNamespace) GTEST_SKIP() << "mount namespaces are not permitted here";
    EXPECT_EQ(outcome.output, std::string(kNoHome) + "RESULT 0 (none)\nCWD CANDIDATE absent\n");
  }
}

// The launcher runs programs from its directory: one that another user made,
// or that others can write to, would let them run code as the player.
TEST_F(ConfigDirectoryTest, DirectoriesOthersControlAreRefused) {
  expect_outcomes({
      {"made by another user in /tmp",
       [] {
         cwd_candidate_is_a_file();
         mkdir("/tmp/Virelan", 0700);
         chown("/tmp/Virelan", 1234, 1234);
       },
       kUnusableHome,
       "Error in vorn_client_set_up_config_directory(), refusing config directory "
       "'/tmp/Virelan': it is owned by another user (uid 1234).\n"
       "RESULT 1 Virelan\nMODE 0700 PROBE gone\n"},
      {"writable by everyone",
       [] {
         mkdir("/tmp/home/.Virelan", 0700);
         chmod("/tmp/home/.Virelan", 0777);
       },
       "/tmp/home",
       "Error in vorn_client_set_up_config_directory(), refusing config directory "
       "'/tmp/home/.Virelan': it is writable by group or others (mode 0777).\n"
       "RESULT 1 .Virelan\nMODE 0700 PROBE gone\n"},
      {"a link another user can swap",
       [] {
         cwd_candidate_is_a_file();
         mkdir("/tmp/mine", 0700);
         symlink("/tmp/mine", "/tmp/Virelan");
         lchown("/tmp/Virelan", 1234, 1234);
       },
       kUnusableHome,
       "Error in vorn_client_set_up_config_directory(), refusing config directory "
       "'/tmp/Virelan': it is a link owned by another user (uid 1234).\n"
       "RESULT 1 Virelan\nMODE 0700 PROBE gone\n"},
  });
}

TEST_F(ConfigDirectoryTest, AnOrdinaryUserFallsBackFromAnUnwritableHome) {
  const Outcome outcome = run_set_up([] { chown("/tmp/work", 65534, 65534); }, "/tmp/home", true);
  if (outcome.status == kNoNamespace) GTEST_SKIP() << "mount namespaces are not permitted here";
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.output, "RESULT 1 .Virelan\nMODE 0700 PROBE gone\n");
}

TEST_F(ConfigDirectoryTest, ASecondSetUpIsReportedAndReplacesThePath) {
  const Outcome outcome =
      run_set_up([] {}, "/tmp/home", false,
                 [] {
                   const int again = vorn_client_set_up_config_directory("Other");
                   std::printf("AGAIN %d %s\n", again, vorn_client_get_config_directory());
                 });
  if (outcome.status == kNoNamespace) GTEST_SKIP() << "mount namespaces are not permitted here";
  EXPECT_EQ(outcome.output,
            "RESULT 1 /tmp/home/.Virelan\nMODE 0700 PROBE gone\n"
            "Error in vorn_client_set_up_config_directory(), attempt to change config directory "
            "path after initial configuration.\n"
            "AGAIN 1 /tmp/home/.Other\n");
}

TEST(ConfigDirectoryCdTest, ChangingIntoTheDirectoryNeedsOneToBeSet) {
  EXPECT_EQ(vorn_client_get_config_directory(), nullptr);
  EXPECT_EQ(vorn_client_cd_to_config_directory(), 0);
}

}  // namespace
