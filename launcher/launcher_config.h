// The launcher's own settings file, "launcher.cfg" in the configuration
// directory: beta mode, which lets the updater install and the boot start
// images whose names contain "beta", and the version of the launcher that
// wrote the file.
//
// Start-up loads the file before it reads the command line; a missing,
// unreadable or malformed file, or one written by another launcher version, is
// written back at once with the current values. Every change of beta mode is
// saved. Saving goes to a temporary file in the same directory that is flushed
// to disk and then renamed over the old one, so a crash, a kill or a full disk
// never leaves a cut file behind: the old file stays until the new one is whole.
//
// Loading and saving run on the GUI thread; the updater thread only reads the
// flag.
#ifndef VIRELAN_LAUNCHER_LAUNCHER_CONFIG_H
#define VIRELAN_LAUNCHER_LAUNCHER_CONFIG_H

#include <atomic>
#include <cstdio>

// Beta mode; nonzero means on.
extern std::atomic<int> beta_test_enable;

// Name of the file inside the configuration directory.
constexpr const char *config_file_suffix = "/launcher.cfg";

// Reads the file and applies it; writes it back when it is missing, unreadable
// or from another launcher version.
void load_system_config_file();
// The reading half of the load, on an open file positioned at its start; the
// caller closes it.
void read_system_config_stream(std::FILE *file);
// Writes the file from the current values. 1 when the new file is in place.
int save_system_config_file();

int get_beta_test_enable();
// Stores the value and saves the file when it differs from the previous one.
void set_beta_test_enable(int value);

// The launcher_version read from the file, or null.
const char *get_config_launcher_version();
// This launcher's version text.
const char *get_launcher_version_text();

#endif  // VIRELAN_LAUNCHER_LAUNCHER_CONFIG_H
