// vorn_embedded_window: a child window that draws itself through a backing
// bitmap. On every paint it asks its subclass to draw the complete contents
// into the bitmap and copies the bitmap to the screen in one operation; the
// toolkit never erases the background, so nothing flickers. The window owns its
// backing bitmap, which set_geometry() and set_size() replace when the size
// changes (a size event alone keeps the old one).
//
// The animation registry is a process-wide list of windows whose
// animation_callback() the launcher's 20 ms timer advances; a window leaves it
// when its callback returns 0 or when it is destroyed.
//
// progress_bar: the download progress bar. Its `value` is written by the
// updater thread (an atomic, so the GUI thread always reads a whole value) and
// drawn on the GUI thread; everything else here belongs to the GUI thread.
#ifndef VIRELAN_LAUNCHER_EMBEDDED_WINDOW_H
#define VIRELAN_LAUNCHER_EMBEDDED_WINDOW_H

#include <wx/window.h>

#include <atomic>

#include "bitmap/vorn_bitmap.h"

class vorn_embedded_window : public wxWindow {
 public:
  // A backing bitmap of `size`, each side at least 1 (the toolkit's default -1
  // gives 1).
  vorn_embedded_window(wxWindow *parent, wxWindowID id, const wxString &name,
                       const wxPoint &position, const wxSize &size, long style);
  ~vorn_embedded_window() override;

  // Asks the toolkit to repaint the whole window; `changed` says that the
  // backing bitmap was replaced.
  virtual void refresh(bool changed) = 0;
  // Draws the complete contents into `backing`.
  virtual void draw(vorn_bitmap &backing) = 0;
  // One animation step: nonzero keeps the window registered.
  virtual int animation_callback(int elapsed_ms);
  // Moves and sizes the window (-1 for x or y keeps that coordinate); a new
  // size gets a new backing bitmap.
  virtual void set_geometry(int x, int y, int width, int height);
  virtual void set_size(int width, int height);
  virtual void redraw();

  static void register_animation(vorn_embedded_window *window);
  static void unregister_animation(vorn_embedded_window *window);
  // Calls every registered window's animation_callback(elapsed_ms) and drops
  // those that return 0.
  static void animate_windows(int elapsed_ms);

  vorn_bitmap *backing;
  vorn_embedded_window *next_animated = nullptr;

 private:
  void OnPaint(wxPaintEvent &event);
  void OnSize(wxSizeEvent &event);
  void OnEraseBackground(wxEraseEvent &event);
  // A new backing bitmap when the size differs; true when it was replaced.
  bool resize_backing(int width, int height);

  wxDECLARE_EVENT_TABLE();
};

class progress_bar : public vorn_embedded_window {
 public:
  progress_bar(wxWindow *parent, wxWindowID id, const wxString &name);

  void set_fill_colour(int red, int green, int blue);
  void set_empty_colour(int red, int green, int blue);
  // Stores the value and repaints when it moved since the last draw.
  void set_value(double percent);
  void refresh_if_changed();

  void refresh(bool changed) override;
  // The done part in the fill colour from the left, the rest in the empty
  // colour; values outside 0..100 are clamped to the bar.
  void draw(vorn_bitmap &backing) override;

  std::atomic<double> value{0.0};  // percent done; written by the updater thread
  double drawn_value = -1.0;       // `value` at the last draw
  bitmap_colour fill_colour = {0, 255, 0};
  bitmap_colour empty_colour = {0, 0, 0};
};

#endif  // VIRELAN_LAUNCHER_EMBEDDED_WINDOW_H
