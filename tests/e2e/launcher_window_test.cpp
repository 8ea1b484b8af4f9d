// The splash window as a player sees it: the real launcher under an Xvfb of the
// test's own, looked at with xdotool, xprop and screenshots, driven by keys.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <memory>
#include <sstream>
#include <string>

#include "common/test_support.h"
#include "e2e/launcher_harness.h"

namespace {

using e2e::launcher_process;
using testing_support::read_file;

struct rgb {
  int r, g, b;
  bool operator==(const rgb &o) const { return r == o.r && g == o.g && b == o.b; }
  bool operator!=(const rgb &o) const { return !(*this == o); }
};

std::ostream &operator<<(std::ostream &out, const rgb &c) {
  return out << "(" << c.r << ", " << c.g << ", " << c.b << ")";
}

// The colour of one pixel of an image file, read by ImageMagick.
rgb pixel_of(const std::string &image, int x, int y) {
  const std::string text = e2e::output_of("convert '" + image + "' -crop 1x1+" + std::to_string(x) +
                                          "+" + std::to_string(y) + " -depth 8 txt:- 2>/dev/null");
  rgb c{-1, -1, -1};
  const std::size_t at = text.find("\n0,0: (");
  if (at != std::string::npos) std::sscanf(text.c_str() + at + 7, "%d,%d,%d", &c.r, &c.g, &c.b);
  return c;
}

class LauncherWindowTest : public e2e::launcher_test {
 protected:
  void SetUp() override {
    launcher_test::SetUp();
    if (IsSkipped()) return;
    launcher_ = std::make_unique<launcher_process>(options());
    ASSERT_TRUE(e2e::eventually(20, [&] { return !window().empty(); }))
        << "display: " << display_name() << " " << x("xdpyinfo | head -2")
        << "\nrunning: " << launcher_->running() << "\nstderr: " << launcher_->standard_error()
        << "\nwindows: " << x("xdotool search --name Virelan") << "\nlog: "
        << (testing_support::path_exists(home_ / ".Virelan/torvane_launcher_log.txt")
                ? read_file(home_ / ".Virelan/torvane_launcher_log.txt")
                : "none");
  }

  std::string x(const std::string &command) const {
    return e2e::output_of("DISPLAY=" + display_name() + " " + command + " 2>/dev/null");
  }
  std::string screenshot() const {
    const std::string path = home_ / "screen.png";
    x("import -window root '" + path + "'");
    return path;
  }
  std::string beta_in_file() const {
    const std::string path = home_ / ".Virelan/launcher.cfg";
    const std::string text = testing_support::path_exists(path) ? read_file(path) : "";
    const std::size_t at = text.find("<beta_test_enable>");
    return at == std::string::npos ? "?" : text.substr(at + 18, 1);
  }

  std::unique_ptr<launcher_process> launcher_;
};

// 1280x1024 puts the 480x300 window at ((1280 - 480) / 2, (1024 - 300) / 2).
TEST_F(LauncherWindowTest, IsCentredUndecoratedAndSized) {
  const std::string geometry = x("xdotool getwindowgeometry " + window());
  EXPECT_NE(geometry.find("Position: 400,362"), std::string::npos) << geometry;
  EXPECT_NE(geometry.find("Geometry: 480x300"), std::string::npos) << geometry;
  // No decorations asked of a window manager.
  const std::string hints = x("xprop -id " + window() + " _MOTIF_WM_HINTS");
  EXPECT_NE(hints.find("0x2, 0x0, 0x0"), std::string::npos) << hints;
}

TEST_F(LauncherWindowTest, ShowsTheBackgroundAndTheEmptyBar) {
  ASSERT_TRUE(e2e::eventually(10, [&] {
    return pixel_of(screenshot(), 400 + 240, 362 + 285) == (rgb{32, 32, 32});
  }));
  const std::string shot = screenshot();
  const std::string picture = std::string(VIRELAN_SOURCE_DIR) + "/launcher/artwork/background.png";
  // The picture is opaque, so each channel comes out as value * 255 >> 8.
  for (const auto &[px, py] : {std::pair{240, 60}, {414, 122}, {30, 160}, {470, 210}}) {
    const rgb source = pixel_of(picture, px, py);
    const rgb expected = {source.r * 255 >> 8, source.g * 255 >> 8, source.b * 255 >> 8};
    EXPECT_EQ(pixel_of(shot, 400 + px, 362 + py), expected) << px << "," << py;
  }
  // The bar spans columns 10 to 469 of rows 280 to 289.
  EXPECT_EQ(pixel_of(shot, 400 + 10, 362 + 280), (rgb{32, 32, 32}));
  EXPECT_EQ(pixel_of(shot, 400 + 469, 362 + 289), (rgb{32, 32, 32}));
  EXPECT_NE(pixel_of(shot, 400 + 470, 362 + 285), (rgb{32, 32, 32}));
}

// A signature of the status lines' pixels (rows 230 to 274 of the window).
std::string status_lines_of(const std::string &shot) {
  return e2e::output_of("convert '" + shot + "' -crop 460x45+410+592 +repage -format '%#' info:");
}

TEST_F(LauncherWindowTest, KeysSwitchTheViewAndBetaModeAndQuit) {
  // A view's signature once two screenshots in a row agree: a screenshot can
  // catch the window half repainted.
  auto settled = [&] {
    std::string before = status_lines_of(screenshot());
    for (int i = 0; i < 50; ++i) {
      std::string now = status_lines_of(screenshot());
      if (now == before) break;
      before = std::move(now);
    }
    return before;
  };
  const std::string normal = settled();
  press("Escape");
  EXPECT_TRUE(e2e::eventually(10, [&] { return status_lines_of(screenshot()) != normal; }));
  const std::string options = settled();
  EXPECT_NE(options, normal);
  EXPECT_EQ(beta_in_file(), "0");  // the options view changes nothing stored
  press("b");
  EXPECT_TRUE(e2e::eventually(10, [&] { return beta_in_file() == "1"; }));
  press("shift+b");
  EXPECT_TRUE(e2e::eventually(10, [&] { return beta_in_file() == "0"; }));
  // Back in the options view with beta mode off. Q quits from here: the view
  // holds the boot, which (with no images to start) would otherwise close the
  // launcher by itself. Leaving the view is the boot sequence tests' part.
  EXPECT_TRUE(e2e::eventually(10, [&] { return status_lines_of(screenshot()) == options; }));
  EXPECT_TRUE(launcher_->running());
  press("q");
  EXPECT_EQ(launcher_->wait(20), 0);
}

}  // namespace
