// The splash window's parts in this process, on an Xvfb display of the test's
// own: the progress bar's drawing, the embedded windows' backing bitmaps and
// animation registry, and the status panel's texts and progress path.
#include <gtest/gtest.h>
#include <wx/app.h>
#include <wx/frame.h>
#include <wx/init.h>
#include <wx/rawbmp.h>

#include <cstdlib>
#include <string>
#include <thread>

#include "common/test_support.h"
#include "e2e/launcher_harness.h"
#include "launcher/embedded_window.h"
#include "launcher/launcher_config.h"
#include "launcher/launcher_state.h"
#include "launcher/launcher_window.h"

namespace {

// Columns of the bar's first row drawn in the fill colour.
int filled_columns(const vorn_bitmap &bitmap, bitmap_colour fill) {
  wxAlphaPixelData data(const_cast<vorn_bitmap &>(bitmap));
  wxAlphaPixelData::Iterator p(data);
  int n = 0;
  for (int x = 0; x < data.GetWidth(); ++x, ++p) {
    if (p.Red() == fill.red && p.Green() == fill.green && p.Blue() == fill.blue) ++n;
  }
  return n;
}

class counting_bar : public progress_bar {
 public:
  using progress_bar::progress_bar;
  void refresh(bool changed) override {
    ++refreshes;
    progress_bar::refresh(changed);
  }
  int refreshes = 0;
};

class WindowPartsTest : public testing::Test {
 protected:
  void SetUp() override { frame_ = new wxFrame(nullptr, wxID_ANY, "parts"); }
  void TearDown() override { delete frame_; }
  wxFrame *frame_;
};

TEST_F(WindowPartsTest, TheBarFillsItsShareOfItsWidth) {
  progress_bar *bar = new progress_bar(frame_, wxID_ANY, "Downloader progress bar");
  bar->set_fill_colour(128, 128, 128);
  bar->set_empty_colour(32, 32, 32);
  bar->set_geometry(10, 280, 460, 10);
  struct Case {
    double percent;
    int filled;
  };
  // 4.6 columns a percent, truncated, kept on the bar.
  const Case cases[] = {{0, 0}, {33.3, 153}, {50, 230}, {100, 460}, {150, 460}, {-5, 0}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.percent);
    bar->value = c.percent;
    bar->draw(*bar->backing);
    EXPECT_EQ(filled_columns(*bar->backing, bar->fill_colour), c.filled);
    EXPECT_EQ(filled_columns(*bar->backing, bar->empty_colour), 460 - c.filled);
    EXPECT_EQ(bar->drawn_value, c.percent);
  }
}

TEST_F(WindowPartsTest, AReportThatRepeatsTheValueDoesNotRepaint) {
  counting_bar *bar = new counting_bar(frame_, wxID_ANY, "bar");
  bar->set_geometry(0, 0, 100, 4);
  bar->refreshes = 0;
  bar->set_value(50);
  EXPECT_EQ(bar->refreshes, 1);
  bar->draw(*bar->backing);  // the repaint
  bar->set_value(50);
  EXPECT_EQ(bar->refreshes, 1);
  bar->set_value(51);
  EXPECT_EQ(bar->refreshes, 2);
}

TEST_F(WindowPartsTest, TheBackingBitmapFollowsTheSize) {
  progress_bar *bar = new progress_bar(frame_, wxID_ANY, "bar");
  EXPECT_EQ(bar->backing->GetSize(), wxSize(20, 20));
  bar->set_geometry(0, 0, 20, 20);
  const vorn_bitmap *before = bar->backing;
  bar->set_geometry(5, 5, 20, 20);  // moved, same size: kept
  EXPECT_EQ(bar->backing, before);
  bar->set_size(30, 0);  // a side of 0 counts as 1
  EXPECT_EQ(bar->backing->GetSize(), wxSize(30, 1));
  wxAlphaPixelData data(*bar->backing);
  EXPECT_EQ(wxAlphaPixelData::Iterator(data).Alpha(), 255);

  vorn_embedded_window *defaulted = new progress_bar(frame_, wxID_ANY, "d");
  defaulted->set_geometry(-1, -1, -1, -1);
  EXPECT_EQ(defaulted->backing->GetSize(), wxSize(1, 1));
}

class animated : public progress_bar {
 public:
  animated(wxWindow *parent, int lives) : progress_bar(parent, wxID_ANY, "a"), lives_(lives) {}
  int animation_callback(int elapsed_ms) override {
    total += elapsed_ms;
    return --lives_ > 0;
  }
  int total = 0;

 private:
  int lives_;
};

TEST_F(WindowPartsTest, TheRegistryCallsEachWindowUntilItIsDone) {
  testing_support::log_capture log;
  animated *twice = new animated(frame_, 2);
  animated *once = new animated(frame_, 1);
  vorn_embedded_window::register_animation(twice);
  vorn_embedded_window::register_animation(twice);  // listed once
  vorn_embedded_window::register_animation(once);
  vorn_embedded_window::animate_windows(20);
  vorn_embedded_window::animate_windows(20);
  vorn_embedded_window::animate_windows(20);
  EXPECT_EQ(twice->total, 40);
  EXPECT_EQ(once->total, 20);
  EXPECT_EQ(twice->next_animated, nullptr);

  // Without an override the callback complains once and the window is dropped.
  progress_bar *plain = new progress_bar(frame_, wxID_ANY, "plain");
  vorn_embedded_window::register_animation(plain);
  vorn_embedded_window::animate_windows(20);
  vorn_embedded_window::animate_windows(20);
  EXPECT_EQ(log.text(),
            "Error in vorn_embedded_window::animation_callback(), this handler should never be "
            "called.\n");

  // A destroyed window leaves the registry: the next tick must not call it.
  animated *doomed = new animated(frame_, 100);
  vorn_embedded_window::register_animation(doomed);
  delete doomed;
  vorn_embedded_window::animate_windows(20);
}

// The status panel's three lines in both views and the path of a progress
// report from another thread.
TEST_F(WindowPartsTest, TheStatusLinesTellTheState) {
  launcher_mw *panel = new launcher_mw(frame_, wxID_ANY, "Virelan Launcher", wxDefaultPosition,
                                       wxSize(480, 300), wxBORDER_NONE);
  auto lines = [&] {
    return std::string(panel->status_line_1->GetLabel().utf8_str()) + "|" +
           std::string(panel->status_line_2->GetLabel().utf8_str()) + "|" +
           std::string(panel->status_line_3->GetLabel().utf8_str());
  };
  EXPECT_EQ(lines(), "Virelan Launcher|Virelan Launcher|Virelan Launcher");

  beta_test_enable = 0;
  updater_started = 1;
  panel->update_display();
  EXPECT_EQ(lines(), "|(press 'escape' for options)|Checking for updates...");

  std::thread updater([&] { panel->set_progress(12.34); });
  updater.join();
  EXPECT_TRUE(testing_support::eventually(5, [&] {
    wxTheApp->ProcessPendingEvents();
    return lines() == "|(press 'escape' for options)|Downloading - 12.3%";
  })) << lines();

  panel->toggle_options();
  EXPECT_EQ(lines(),
            "|Launcher Version: 1.096-gtk-rc5|Press 'escape' to continue, 'b' to enter BETA TEST "
            "mode.");
  beta_test_enable = 1;
  panel->update_display();
  EXPECT_EQ(lines(),
            "Config Dir: (null)|Launcher Version: 1.096-gtk-rc5 - beta test mode enabled|Press "
            "'escape' to continue, 'b' to leave BETA TEST mode.");
  panel->toggle_options();
  EXPECT_EQ(lines(),
            "Config Dir: (null)|(beta test mode - press 'escape' for options)|Downloading - 12.3%");
  EXPECT_EQ(panel->status_line_1->GetForegroundColour(), *wxWHITE);
  beta_test_enable = 0;
  updater_started = 0;
}

}  // namespace
