// The launcher's splash window: a borderless 480x300 frame holding the status
// panel `launcher_mw`, which shows the background picture, three white status
// lines and the download progress bar, runs the 20 ms timer, takes the
// updater's progress reports and handles the keys (Escape: options view, B:
// beta mode, Q: quit).
//
// The toolkit's window tree owns everything here: the frame holds the panel as
// a member, the panel's texts and bar are its children. All of it belongs to
// the GUI thread, except set_progress(), which the updater thread calls: it
// stores the value in the bar's atomic and posts an event (identifier 2)
// through the toolkit's thread-safe queue, touching no window.
#ifndef VIRELAN_LAUNCHER_LAUNCHER_WINDOW_H
#define VIRELAN_LAUNCHER_LAUNCHER_WINDOW_H

#include <wx/frame.h>
#include <wx/iconbndl.h>
#include <wx/stattext.h>
#include <wx/timer.h>

#include <atomic>

#include "launcher/embedded_window.h"

// Set once the status panel is built, just before its timer starts.
extern std::atomic<int> window_constructed;

// A top-level window named "vorn frame <title>", with the process-wide icons
// when any were added.
class vorn_frame : public wxFrame {
 public:
  vorn_frame(wxWindow *parent, wxWindowID id, const wxString &title, const wxPoint &position,
             const wxSize &size, long style);
  static void add_frame_icon(const wxIcon &icon);
};

class launcher_mw : public vorn_embedded_window {
 public:
  static constexpr int timer_id = 1;
  static constexpr int progress_id = 2;
  static constexpr int tick_ms = 20;

  launcher_mw(wxWindow *parent, wxWindowID id, const wxString &title, const wxPoint &position,
              const wxSize &size, long style);

  void refresh(bool changed) override;
  // The background picture over the whole panel.
  void draw(vorn_bitmap &backing) override;

  // Sets the three status lines from the current state.
  void update_display();
  // Any thread: the share of the update run that is done, 0 to 100.
  void set_progress(double percent);
  void toggle_beta();
  void toggle_options();

  int options_view = 0;
  wxTimer timer;
  int elapsed_ms = 0;
  wxStaticText *status_line_1;
  wxStaticText *status_line_2;
  wxStaticText *status_line_3;
  progress_bar *bar;

 private:
  void OnTimer(wxTimerEvent &event);
  void OnProgress(wxTimerEvent &event);
  void OnKeyDown(wxKeyEvent &event);

  // Never started: gives the progress events their identifier.
  wxTimer progress_source_;

  wxDECLARE_EVENT_TABLE();
};

class launcher_frame : public vorn_frame {
 public:
  launcher_frame(const wxString &title, const wxPoint &position, const wxSize &size);

  launcher_mw panel;
};

#endif  // VIRELAN_LAUNCHER_LAUNCHER_WINDOW_H
