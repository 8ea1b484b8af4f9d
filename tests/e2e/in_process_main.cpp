// main() of the in-process window tests: the toolkit needs a display before any
// window exists, so the program starts an Xvfb of its own and the toolkit on it,
// then runs the tests.
#include <wx/app.h>
#include <wx/init.h>

#include <cstdio>
#include <cstdlib>

#include "e2e/launcher_harness.h"

int main(int argc, char **argv) {
  testing::InitGoogleTest(&argc, argv);
  if (testing::GTEST_FLAG(list_tests)) return RUN_ALL_TESTS();  // listing needs no display
  e2e::xvfb_display display;
  if (display.name().empty()) {
    std::fprintf(stderr, "Xvfb could not be started\n");
    return 1;
  }
  setenv("DISPLAY", display.name().c_str(), 1);
  setenv("NO_AT_BRIDGE", "1", 1);
  setenv("GDK_BACKEND", "x11", 1);
  wxApp::SetInstance(new wxApp);
  int wx_argc = 1;
  char *wx_argv[] = {argv[0], nullptr};
  if (!wxEntryStart(wx_argc, wx_argv)) return 1;
  const int result = RUN_ALL_TESTS();
  wxEntryCleanup();
  return result;
}
