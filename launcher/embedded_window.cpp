#include "launcher/embedded_window.h"

#include <wx/dcclient.h>

#include <algorithm>

#include "support/debug_log.h"

namespace {

vorn_embedded_window *animated_windows = nullptr;

int at_least_one(int n) { return n > 0 ? n : 1; }

}  // namespace

wxBEGIN_EVENT_TABLE(vorn_embedded_window, wxWindow) EVT_PAINT(vorn_embedded_window::OnPaint)
    EVT_SIZE(vorn_embedded_window::OnSize)
        EVT_ERASE_BACKGROUND(vorn_embedded_window::OnEraseBackground) wxEND_EVENT_TABLE()

            vorn_embedded_window::vorn_embedded_window(wxWindow *parent, wxWindowID id,
                                                       const wxString &name,
                                                       const wxPoint &position, const wxSize &size,
                                                       long style)
    : wxWindow(parent, id, position, size, style, name),
      backing(new vorn_bitmap(at_least_one(size.x), at_least_one(size.y))) {}

vorn_embedded_window::~vorn_embedded_window() {
  // A destroyed window must not be called back by the next tick.
  unregister_animation(this);
  delete backing;
}

int vorn_embedded_window::animation_callback(int) {
  if (debug_level > 0) {
    debug_log(
        "Error in vorn_embedded_window::animation_callback(), this handler should never be "
        "called.\n");
  }
  return 0;
}

bool vorn_embedded_window::resize_backing(int width, int height) {
  const wxSize current = GetSize();
  if (current.x == width && current.y == height) return false;
  delete backing;
  backing = new vorn_bitmap(width, height);
  return true;
}

void vorn_embedded_window::set_geometry(int x, int y, int width, int height) {
  width = at_least_one(width);
  height = at_least_one(height);
  const bool changed = resize_backing(width, height);
  SetSize(x, y, width, height, wxSIZE_AUTO);
  refresh(changed);
}

void vorn_embedded_window::set_size(int width, int height) {
  width = at_least_one(width);
  height = at_least_one(height);
  const bool changed = resize_backing(width, height);
  SetSize(width, height);
  refresh(changed);
}

void vorn_embedded_window::redraw() { refresh(true); }

void vorn_embedded_window::OnPaint(wxPaintEvent &) {
  wxPaintDC dc(this);  // needed in every paint handler, drawing or not
  if (IsShown()) {
    draw(*backing);
    dc.DrawBitmap(*backing, 0, 0, false);
  }
}

void vorn_embedded_window::OnSize(wxSizeEvent &) {}

void vorn_embedded_window::OnEraseBackground(wxEraseEvent &) {}

void vorn_embedded_window::register_animation(vorn_embedded_window *window) {
  for (vorn_embedded_window *w = animated_windows; w != nullptr; w = w->next_animated) {
    if (w == window) return;
  }
  window->next_animated = animated_windows;
  animated_windows = window;
}

void vorn_embedded_window::unregister_animation(vorn_embedded_window *window) {
  for (vorn_embedded_window **link = &animated_windows; *link != nullptr;
       link = &(*link)->next_animated) {
    if (*link == window) {
      *link = window->next_animated;
      window->next_animated = nullptr;
      return;
    }
  }
}

void vorn_embedded_window::animate_windows(int elapsed_ms) {
  vorn_embedded_window *w = animated_windows;
  while (w != nullptr) {
    vorn_embedded_window *next = w->next_animated;  // the callback may unregister w
    if (w->animation_callback(elapsed_ms) == 0) unregister_animation(w);
    w = next;
  }
}

progress_bar::progress_bar(wxWindow *parent, wxWindowID id, const wxString &name)
    : vorn_embedded_window(parent, id, name, wxDefaultPosition, wxSize(20, 20), wxBORDER_NONE) {}

void progress_bar::set_fill_colour(int red, int green, int blue) {
  fill_colour = {red, green, blue};
}

void progress_bar::set_empty_colour(int red, int green, int blue) {
  empty_colour = {red, green, blue};
}

void progress_bar::set_value(double percent) {
  value = percent;
  refresh_if_changed();
}

void progress_bar::refresh_if_changed() {
  if (value.load() != drawn_value) refresh(true);
}

void progress_bar::refresh(bool) { Refresh(false); }

void progress_bar::draw(vorn_bitmap &bitmap) {
  const wxSize inside = GetClientSize();
  const int w = inside.x;
  const int h = inside.y;
  const double current = value.load();
  // Truncated toward zero, then kept on the bar (a NaN fills nothing).
  const double done = w * current / 100.0f;
  int d = done > 0 ? static_cast<int>(std::min(done, static_cast<double>(w))) : 0;
  d = std::min(std::max(d, 0), w);
  if (d > 0) bitmap.DrawFilledRectangle(0, 0, d - 1, h - 1, fill_colour);
  if (d < w) bitmap.DrawFilledRectangle(d, 0, w - 1, h - 1, empty_colour);
  drawn_value = current;
}
