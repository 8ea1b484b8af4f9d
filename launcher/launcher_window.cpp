#include "launcher/launcher_window.h"

#include <cstdio>
#include <cstdlib>

#include "launcher/boot_sequence.h"
#include "launcher/launcher_config.h"
#include "launcher/launcher_state.h"
#include "launcher/updater_thread.h"
#include "support/bounded_text.h"
#include "support/config_directory.h"
#include "support/debug_log.h"
#include "support/file_lock.h"

std::atomic<int> window_constructed{0};

namespace {

wxIconBundle frame_icons;
bool frame_icons_added = false;

constexpr int key_escape = 27;
constexpr int key_b = 'B';
constexpr int key_q = 'Q';

}  // namespace

vorn_frame::vorn_frame(wxWindow *parent, wxWindowID id, const wxString &title,
                       const wxPoint &position, const wxSize &size, long style)
    : wxFrame(parent, id, title, position, size, style, title) {
  SetName("vorn frame " + title);
  if (frame_icons_added) SetIcons(frame_icons);
}

void vorn_frame::add_frame_icon(const wxIcon &icon) {
  frame_icons.AddIcon(icon);
  frame_icons_added = true;
}

wxBEGIN_EVENT_TABLE(launcher_mw, vorn_embedded_window)
    EVT_TIMER(launcher_mw::timer_id, launcher_mw::OnTimer)
        EVT_TIMER(launcher_mw::progress_id, launcher_mw::OnProgress)
            EVT_KEY_DOWN(launcher_mw::OnKeyDown) wxEND_EVENT_TABLE()

                launcher_mw::launcher_mw(wxWindow *parent, wxWindowID id, const wxString &title,
                                         const wxPoint &position, const wxSize &size, long style)
    : vorn_embedded_window(parent, id, title, position, size, style),
      timer(this, timer_id),
      progress_source_(this, progress_id) {
  status_line_1 =
      new wxStaticText(this, wxID_ANY, title, wxDefaultPosition, wxDefaultSize, wxST_NO_AUTORESIZE);
  status_line_2 =
      new wxStaticText(this, wxID_ANY, title, wxDefaultPosition, wxDefaultSize, wxST_NO_AUTORESIZE);
  status_line_3 =
      new wxStaticText(this, wxID_ANY, title, wxDefaultPosition, wxDefaultSize, wxST_NO_AUTORESIZE);
  SetBackgroundColour(*wxBLACK);

  bar = new progress_bar(this, wxID_ANY, "Downloader progress bar");
  bar->set_empty_colour(32, 32, 32);
  bar->set_fill_colour(128, 128, 128);
  bar->set_geometry(10, 280, 460, 10);
  bar->Show();

  int y = 230;
  for (wxStaticText *line : {status_line_1, status_line_2, status_line_3}) {
    line->Move(10, y);
    line->SetSize(wxDefaultCoord, wxDefaultCoord, 460, 15, wxSIZE_USE_EXISTING);
    y += 15;
  }

  options_view = 0;
  elapsed_ms = 0;
  window_constructed = 1;
  timer.Start(tick_ms, wxTIMER_CONTINUOUS);
  SetFocus();
}

void launcher_mw::refresh(bool) { Refresh(false); }

void launcher_mw::draw(vorn_bitmap &backing_bitmap) {
  if (background_bitmap != nullptr) backing_bitmap.DrawBitmapUseAlpha(*background_bitmap, 0, 0);
}

void launcher_mw::update_display() {
  for (wxStaticText *line : {status_line_1, status_line_2, status_line_3}) {
    line->SetForegroundColour(*wxWHITE);
  }
  const bool beta = get_beta_test_enable() != 0;
  bounded_text line_1;
  if (beta) {
    line_1.append("Config Dir: ");
    line_1.append(vorn_client_get_config_directory());
  }
  bounded_text line_2;
  char line_3[256] = "";
  if (!options_view) {
    line_2.append(beta ? "(beta test mode - press 'escape' for options)"
                       : "(press 'escape' for options)");
    const double v = bar->value.load();
    if (v > 0) {
      std::snprintf(line_3, sizeof line_3, "Downloading - %.1f%%", v);
    } else if (updater_started) {
      std::snprintf(line_3, sizeof line_3, "Checking for updates...");
    }
  } else {
    line_2.append("Launcher Version: ");
    line_2.append(launcher_version_text);
    if (beta) line_2.append(" - beta test mode enabled");
    std::snprintf(line_3, sizeof line_3, "%s",
                  beta ? "Press 'escape' to continue, 'b' to leave BETA TEST mode."
                       : "Press 'escape' to continue, 'b' to enter BETA TEST mode.");
  }
  status_line_1->SetLabel(wxString(line_1.c_str()));
  status_line_2->SetLabel(wxString(line_2.c_str()));
  status_line_3->SetLabel(wxString(line_3));
}

void launcher_mw::set_progress(double percent) {
  bar->value = percent;
  wxQueueEvent(this, new wxTimerEvent(progress_source_));
}

void launcher_mw::OnProgress(wxTimerEvent &) {
  bar->refresh_if_changed();
  update_display();
}

void launcher_mw::OnTimer(wxTimerEvent &) {
  if (!window_constructed) {
    if (debug_level > 0) debug_log("launcher_mw::OnTimer() - constructor not finished?\n");
    return;
  }
  boot_tick(this);
}

void launcher_mw::OnKeyDown(wxKeyEvent &event) {
  switch (event.GetKeyCode()) {
    case key_escape:
      options_view = !options_view;
      update_display();
      break;
    case key_b:
      toggle_beta();
      break;
    case key_q:
      quit_launcher(0);
    default:
      break;
  }
  event.Skip();
}

void launcher_mw::toggle_beta() {
  set_beta_test_enable(get_beta_test_enable() == 0 ? 1 : 0);
  update_display();
  // A run in progress (or none yet) picks the new setting up at the boot.
  if (!update_done) return;
  // A finished run: fetch again for the new setting, holding the boot back.
  updater_lock = vorn_lock_file(lock_path.c_str());
  if (updater_lock >= 0) {
    if (debug_level > 1) debug_log("OnTimer(), late start of updater thread.\n");
    start_updater(this);
  }
}

void launcher_mw::toggle_options() {
  options_view = !options_view;
  update_display();
}

launcher_frame::launcher_frame(const wxString &title, const wxPoint &position, const wxSize &size)
    : vorn_frame(nullptr, wxID_ANY, title, position, size,
                 wxFRAME_TOOL_WINDOW | wxWANTS_CHARS | wxCLIP_CHILDREN),
      panel(this, wxID_ANY, title, position, size, wxBORDER_NONE) {}
