// The peer of the launcher's start-up benchmark: the least a wxWidgets program
// does to show a borderless 480x300 frame.
#include <wx/app.h>
#include <wx/frame.h>

class minimal_app : public wxApp {
 public:
  bool OnInit() override {
    wxFrame *frame = new wxFrame(nullptr, wxID_ANY, "Virelan Launcher", wxDefaultPosition,
                                 wxSize(480, 300), wxFRAME_TOOL_WINDOW | wxWANTS_CHARS);
    frame->Show();
    return true;
  }
};

wxIMPLEMENT_APP(minimal_app);
