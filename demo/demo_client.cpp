// The demo game client: the image the demo publishes and the launcher starts.
// It shows a small window saying that the game client started, with the
// arguments it received, and once that window is up it removes "bootname.txt"
// from the launcher's configuration directory: a client that started well says
// so, so that the launcher's crash detection does not skip it next time.
//
// For scripts and tests: VIRELAN_DEMO_RECORD=FILE writes the argument vector
// there, one argument per line, once the window is up; VIRELAN_DEMO_SECONDS=N
// closes the window after N seconds.
#include <wx/wx.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "support/config_directory.h"

namespace {

class client_frame : public wxFrame {
 public:
  client_frame(const wxString &arguments)
      : wxFrame(nullptr, wxID_ANY, "Virelan game client", wxDefaultPosition, wxSize(480, 200)) {
    auto *panel = new wxPanel(this);
    panel->SetBackgroundColour(wxColour(24, 40, 64));
    auto *sizer = new wxBoxSizer(wxVERTICAL);
    auto *title = new wxStaticText(panel, wxID_ANY, "The Virelan game client started.");
    title->SetForegroundColour(*wxWHITE);
    title->SetFont(title->GetFont().Scaled(1.4f).Bold());
    auto *args = new wxStaticText(panel, wxID_ANY, "Arguments: " + arguments);
    args->SetForegroundColour(wxColour(200, 210, 230));
    sizer->AddStretchSpacer();
    sizer->Add(title, 0, wxALIGN_CENTER | wxALL, 8);
    sizer->Add(args, 0, wxALIGN_CENTER | wxALL, 8);
    sizer->AddStretchSpacer();
    panel->SetSizer(sizer);
    Centre();
  }
};

class client_app : public wxApp {
 public:
  bool OnInit() override {
    wxString arguments;
    for (int i = 0; i < argc; ++i) arguments += (i ? " " : "") + argv[i];
    auto *frame = new client_frame(arguments);
    frame->Show();
    CallAfter([this] { started(); });
    if (const char *seconds = std::getenv("VIRELAN_DEMO_SECONDS")) {
      closer_.Bind(wxEVT_TIMER, [frame](wxTimerEvent &) { frame->Close(); });
      closer_.StartOnce(std::atoi(seconds) * 1000);
    }
    return true;
  }

 private:
  // The window is up: the start went well.
  void started() {
    if (vorn_client_set_up_config_directory("Virelan")) {
      std::string bootname = std::string(vorn_client_get_config_directory()) + "/bootname.txt";
      unlink(bootname.c_str());
    }
    if (const char *record = std::getenv("VIRELAN_DEMO_RECORD")) {
      if (std::FILE *f = std::fopen(record, "w")) {
        for (int i = 0; i < argc; ++i) std::fprintf(f, "%s\n", argv[i].utf8_str().data());
        std::fclose(f);
      }
    }
  }

  wxTimer closer_;
};

}  // namespace

wxIMPLEMENT_APP(client_app);
