// launcher_app: the application object. The toolkit creates the one instance
// and calls OnInit() once on the GUI thread after it has set itself up: start-up
// chooses the configuration directory, names the debug log, builds the
// launcher's paths, reads the command line, creates the executables directory
// and takes the updater lock. Fatal start-up failures end the process with
// exit(1) after a message; -h ends it with exit(0). OnInit() then shows the
// splash window, which lives until the launcher ends.
#ifndef VIRELAN_LAUNCHER_LAUNCHER_APP_H
#define VIRELAN_LAUNCHER_LAUNCHER_APP_H

#include <wx/app.h>

class launcher_frame;

class launcher_app : public wxApp {
 public:
  bool OnInit() override;
  int OnExit() override;

 private:
  // Applies the options in command-line order; may end the process.
  void read_command_line();
  void show_help();
  // Decodes the background picture, creates the window, centres and shows it.
  void show_window();

  launcher_frame *frame_ = nullptr;
};

wxDECLARE_APP(launcher_app);

#endif  // VIRELAN_LAUNCHER_LAUNCHER_APP_H
