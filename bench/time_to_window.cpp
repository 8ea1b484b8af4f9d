// Measures how long a program takes from its start to its first top-level
// window being mapped on the X display in $DISPLAY: it watches the root window
// for MapNotify, starts the program, and kills it once the window is mapped.
//
//   time_to_window RUNS PROGRAM [ARGS...]
//
// Prints one line per run (milliseconds) and the median. Meant for an Xvfb of
// the caller's own; run beside a peer program in the same session to compare.
#include <X11/Xlib.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

extern char **environ;

int main(int argc, char **argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s RUNS PROGRAM [ARGS...]\n", argv[0]);
    return 2;
  }
  const int runs = std::atoi(argv[1]);
  Display *display = XOpenDisplay(nullptr);
  if (display == nullptr) {
    std::fprintf(stderr, "cannot open the display\n");
    return 1;
  }
  XSelectInput(display, DefaultRootWindow(display), SubstructureNotifyMask);
  std::vector<double> times;
  for (int run = 0; run < runs; ++run) {
    XSync(display, True);  // forget what earlier runs left behind
    const auto start = std::chrono::steady_clock::now();
    pid_t pid;
    if (posix_spawn(&pid, argv[2], nullptr, nullptr, argv + 2, environ) != 0) {
      std::perror("posix_spawn");
      return 1;
    }
    XEvent event;
    bool mapped = false;
    while (!mapped) {
      XNextEvent(display, &event);
      mapped = event.type == MapNotify;
    }
    const auto end = std::chrono::steady_clock::now();
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    times.push_back(std::chrono::duration<double, std::milli>(end - start).count());
    std::printf("run %d: %.1f ms\n", run + 1, times.back());
  }
  std::sort(times.begin(), times.end());
  std::printf("median: %.1f ms\n", times[times.size() / 2]);
  XCloseDisplay(display);
  return 0;
}
