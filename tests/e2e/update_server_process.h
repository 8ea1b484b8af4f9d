// The dev update server as the e2e tests run it: virelan-update-server on the
// test build's fixed update port (VIRELAN_TEST_UPDATE_PORT), serving a
// directory, with its request log read back by the test. For the test's main
// thread; the target defines VIRELAN_UPDATE_SERVER_PATH and the port.
#ifndef VIRELAN_TESTS_E2E_UPDATE_SERVER_PROCESS_H
#define VIRELAN_TESTS_E2E_UPDATE_SERVER_PROCESS_H

#include <csignal>
#include <cstddef>
#include <string>
#include <vector>

#include "common/test_support.h"
#include "e2e/launcher_harness.h"

namespace e2e {

// How often `part` occurs in `text`.
inline int occurrences(const std::string &text, const std::string &part) {
  int n = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

// virelan-update-server on the update port, serving `root` (throttled to
// `throttle` body bytes a second when above 0). Stopped with SIGTERM at the end.
class update_server {
 public:
  update_server(const std::string &root, long throttle) : log_(output_ / "requests") {
    std::vector<std::string> args = {VIRELAN_UPDATE_SERVER_PATH, "--root", root, "--port",
                                     std::to_string(VIRELAN_TEST_UPDATE_PORT)};
    if (throttle > 0) {
      args.push_back("--throttle");
      args.push_back(std::to_string(throttle));
    }
    process_.start(spawn_program(args, {"PATH=/usr/bin:/bin"}, log_, output_ / "errors"));
    listening_ =
        testing_support::eventually(
            10, [&] { return requests().rfind("listening on ", 0) == 0 || !process_.running(); }) &&
        process_.running();
  }
  ~update_server() { process_.stop(SIGTERM); }

  bool listening() const { return listening_; }
  // Gone at once, in the middle of whatever it was sending.
  void vanish() { process_.stop(SIGKILL); }
  // "listening on ..." and then one line per request.
  std::string requests() const { return testing_support::read_file(log_); }
  std::string errors() const { return testing_support::read_file(output_ / "errors"); }
  int count(const std::string &line) const { return occurrences(requests(), line); }

 private:
  testing_support::temp_dir output_;
  std::string log_;
  child_process process_;
  bool listening_ = false;
};

}  // namespace e2e

#endif  // VIRELAN_TESTS_E2E_UPDATE_SERVER_PROCESS_H
