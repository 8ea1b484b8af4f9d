// The launcher's own settings: today the beta test mode, which lets the updater
// install and the boot start images whose names contain "beta".
//
// The flag is changed by the command line (-b, -u) during start-up and by the B
// key on the GUI thread; the updater thread reads it.
#ifndef VIRELAN_LAUNCHER_LAUNCHER_CONFIG_H
#define VIRELAN_LAUNCHER_LAUNCHER_CONFIG_H

#include <atomic>

// Beta mode; nonzero means on.
extern std::atomic<int> beta_test_enable;

int get_beta_test_enable();
// Stores the value as given.
void set_beta_test_enable(int value);

#endif  // VIRELAN_LAUNCHER_LAUNCHER_CONFIG_H
