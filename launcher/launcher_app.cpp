#include "launcher/launcher_app.h"

#include <wx/display.h>
#include <wx/image.h>
#include <wx/mstream.h>

#include <cstdio>
#include <cstdlib>

#include "bitmap/vorn_bitmap.h"
#include "launcher/launcher_config.h"
#include "launcher/launcher_state.h"
#include "launcher/launcher_window.h"
#include "launcher/transliteration.h"
#include "launcher/updater_thread.h"
#include "net/tls_startup.h"
#include "support/bounded_text.h"
#include "support/config_directory.h"
#include "support/debug_log.h"
#include "support/directories.h"
#include "support/file_lock.h"
#include "support/words.h"

bool launcher_app::OnInit() {
  if (!vorn_client_set_up_config_directory(config_directory_base_name)) {
    // The log has no file yet: say it on the terminal.
    std::printf("Boot failed, unable to get at system config directory.\n");
    std::exit(1);
  }
  const char *config_directory = vorn_client_get_config_directory();

  bounded_text log_path;
  log_path.append(config_directory);
  log_path.append(debug_log_file_name);
  // The log is appended to run after run: past 1 MiB it starts afresh, with
  // one ".old" copy of the previous one.
  vorn_rotate_debug_logfile(log_path.c_str(), debug_log_rotate_bytes);
  vorn_client_set_debug_logfile_name(log_path.c_str());

  if (debug_level > 2) {
    debug_log("--------------------------- LAUNCHER START --------------------------\n");
  }

  // Ignores SIGPIPE from here on and starts the TLS library; the updater's
  // connections are plain, so a failure (which it reports itself) is not fatal.
  vorn_ssl_startup();

  load_system_config_file();
  build_launcher_paths(config_directory);
  read_command_line();
  show_window();

  lock_path.clear();
  lock_path.append(config_directory);
  lock_path.append(lock_file_suffix);
  // Creates the executables directory; the lock file itself is made below.
  vorn_recursive_mkdir(lock_path.c_str(), 0700, nullptr);
  updater_lock = vorn_lock_file(lock_path.c_str());
  if (updater_lock < 0) {
    // Another launcher is updating: the boot sequence retries on every tick.
    if (debug_level > 1) debug_log("OnInit(), unable to get updater file lock.\n");
  } else {
    start_updater(&frame_->panel);
  }
  return true;
}

void launcher_app::show_window() {
  wxImage::AddHandler(new wxPNGHandler);
  wxMemoryInputStream picture(background_png, background_png_size);
  background_bitmap = new vorn_bitmap(wxImage(picture, wxBITMAP_TYPE_PNG));

  frame_ = new launcher_frame("Virelan Launcher", wxDefaultPosition, wxSize(480, 300));

  const int index = wxDisplay::GetFromWindow(frame_);
  const wxRect area =
      wxDisplay(index == wxNOT_FOUND ? 0u : static_cast<unsigned>(index)).GetClientArea();
  display_width = area.width;
  display_height = area.height;
  if (display_width <= 0) {
    if (debug_level > 0) {
      debug_log("Error in OnInit(), got bogus screen/display xsize of %d.  Setting to 640.\n",
                display_width);
    }
    display_width = 640;
  }
  if (display_height <= 0) {
    if (debug_level > 0) {
      debug_log("Error in OnInit(), got bogus screen/display ysize of %d.  Setting to 480.\n",
                display_height);
    }
    display_height = 480;
  }
  if (debug_level > 1) {
    debug_log("OnInit(), got screen/display size of %d, %d.\n", display_width, display_height);
  }
  // Centred on the usable area; the area's own offset is not added.
  frame_->Move((display_width - 480) / 2, (display_height - 300) / 2);
  frame_->Show(true);
  SetTopWindow(frame_);
}

int launcher_app::OnExit() {
  if (debug_level > 2) {
    debug_log("--------------------------- LAUNCHER EXIT --------------------------\n");
  }
  // The window went (closed from outside) while a run goes on: end here, before
  // the toolkit and the static objects are torn down under the updater thread.
  if (updater_started && !update_done) quit_launcher(0);
  return 0;
}

void launcher_app::read_command_line() {
  bounded_text arg;
  for (int i = 0; i < argc; ++i) {
    arg.clear();
    transliterate_argument(argv[i], arg);
    if (i == 0) {
      if (debug_level > 0) debug_log("Executable name '%s'.\n", arg.c_str());
      continue;
    }
    if (word_in_list(arg.c_str(), "-h --help")) {
      show_help();
      std::exit(0);
    } else if (word_in_list(arg.c_str(), "-b --beta")) {
      if (debug_level > 0) debug_log("Forcing beta test mode.\n");
      set_beta_test_enable(1);
    } else if (word_in_list(arg.c_str(), "-u --unbeta")) {
      if (debug_level > 0) debug_log("Forcing non-beta test mode.\n");
      set_beta_test_enable(0);
    } else if (word_in_list(arg.c_str(), "-v --verbose")) {
      if (debug_level > 0) debug_log("Setting verbose printing mode.\n");
      verbose_mode = 1;
    } else {
      if (debug_level > 0) {
        debug_log("Sorry, unknown command line option '%s'.  Use '-h' for a list.\n", arg.c_str());
      }
      std::exit(1);
    }
  }
}

void launcher_app::show_help() {
  if (debug_level <= 0) return;
  bounded_text name;
  transliterate_argument(argv[0], name);
  debug_log("Syntax:\n");
  debug_log("%s [-h] [-b] [-u] [-v]\n", name.c_str());
  debug_log("\n");
  debug_log("Options are:\n");
  debug_log("  -h   - this help screen\n");
  debug_log("  -b   - switch to beta test mode\n");
  debug_log("  -u   - switch out of beta test mode\n");
  debug_log("  -v   - more verbose debug printing\n");
  debug_log("\n");
}
