#include <gtest/gtest.h>
#include <wx/rawbmp.h>

#include <string>
#include <vector>

#include "bitmap/vorn_bitmap.h"
#include "common/test_support.h"

namespace {

const bitmap_colour kRed = {255, 0, 0};
const bitmap_colour kBlue = {0, 0, 255};
const bitmap_colour kGrey = {32, 32, 32};

struct rgba {
  int r, g, b, a;
  bool operator==(const rgba &o) const { return r == o.r && g == o.g && b == o.b && a == o.a; }
};

std::ostream &operator<<(std::ostream &out, const rgba &p) {
  return out << "(" << p.r << ", " << p.g << ", " << p.b << ", " << p.a << ")";
}

rgba pixel(const wxBitmap &bitmap, int x, int y) {
  wxAlphaPixelData data(const_cast<wxBitmap &>(bitmap));
  wxAlphaPixelData::Iterator p(data);
  p.MoveTo(data, x, y);
  return {p.Red(), p.Green(), p.Blue(), p.Alpha()};
}

// Sets every pixel of `bitmap` through raw access, alpha included.
void fill(wxBitmap &bitmap, rgba colour) {
  wxAlphaPixelData data(bitmap);
  wxAlphaPixelData::Iterator p(data);
  for (int y = 0; y < data.GetHeight(); ++y) {
    wxAlphaPixelData::Iterator row = p;
    for (int x = 0; x < data.GetWidth(); ++x, ++p) {
      p.Red() = colour.r;
      p.Green() = colour.g;
      p.Blue() = colour.b;
      p.Alpha() = colour.a;
    }
    p = row;
    p.OffsetY(data, 1);
  }
}

// One character per pixel: 'R' red, 'B' blue, '.' anything else; rows by '\n'.
std::string picture(const wxBitmap &bitmap) {
  std::string out;
  for (int y = 0; y < bitmap.GetHeight(); ++y) {
    for (int x = 0; x < bitmap.GetWidth(); ++x) {
      const rgba p = pixel(bitmap, x, y);
      out += (p.r == 255 && p.g == 0 && p.b == 0)   ? 'R'
             : (p.r == 0 && p.g == 0 && p.b == 255) ? 'B'
                                                    : '.';
    }
    out += '\n';
  }
  return out;
}

vorn_bitmap blank(int w, int h) {
  vorn_bitmap b(w, h);
  fill(b, {0, 0, 0, 255});
  return b;
}

TEST(BitmapTest, ANewBitmapIsOpaqueEverywhere) {
  vorn_bitmap b(480, 300);
  ASSERT_TRUE(b.IsOk());
  EXPECT_EQ(b.GetWidth(), 480);
  EXPECT_EQ(b.GetHeight(), 300);
  for (int y = 0; y < 300; y += 7) {
    for (int x = 0; x < 480; x += 11) ASSERT_EQ(pixel(b, x, y).a, 255) << x << "," << y;
  }
  EXPECT_EQ(pixel(b, 479, 299).a, 255);
}

TEST(BitmapTest, RectanglesAreNormalisedAndClipped) {
  struct Case {
    int x1, y1, x2, y2;
    std::string expected;  // on a 5 by 4 bitmap
  };
  const Case cases[] = {
      {1, 1, 2, 2, ".....\n.RR..\n.RR..\n.....\n"},
      {2, 2, 1, 1, ".....\n.RR..\n.RR..\n.....\n"},  // corners in reverse order
      {-5, -5, 1, 0, "RR...\n.....\n.....\n.....\n"},
      {3, 2, 20, 20, ".....\n.....\n...RR\n...RR\n"},
      {5, 0, 9, 3, ".....\n.....\n.....\n.....\n"},    // right of the bitmap
      {0, -3, 4, -1, ".....\n.....\n.....\n.....\n"},  // above it
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::Message() << c.x1 << "," << c.y1 << " - " << c.x2 << "," << c.y2);
    vorn_bitmap b = blank(5, 4);
    b.DrawFilledRectangle(c.x1, c.y1, c.x2, c.y2, kRed);
    EXPECT_EQ(picture(b), c.expected);
  }
}

TEST(BitmapTest, DrawingLeavesAlphaAlone) {
  vorn_bitmap b(3, 1);
  fill(b, {1, 2, 3, 77});
  b.DrawFilledRectangle(0, 0, 2, 0, kGrey);
  EXPECT_EQ(pixel(b, 1, 0), (rgba{32, 32, 32, 77}));
  b.ClearAlpha();
  EXPECT_EQ(pixel(b, 1, 0), (rgba{32, 32, 32, 255}));
  fill(b, {1, 2, 3, 77});
  b.Clear(kBlue);
  EXPECT_EQ(pixel(b, 2, 0), (rgba{0, 0, 255, 255}));
}

// The source composed over black with a divisor of 256; the destination's old
// colour does not take part and its alpha stays.
TEST(BitmapTest, AlphaBlitFollowsTheBlendRule) {
  struct Case {
    rgba source;
    rgba expected;  // onto a destination of (9, 9, 9, 100)
  };
  const Case cases[] = {
      {{255, 255, 255, 255}, {254, 254, 254, 100}},
      {{200, 100, 50, 0}, {0, 0, 0, 100}},
      {{200, 100, 50, 128}, {100, 50, 25, 100}},
      {{0, 0, 0, 255}, {0, 0, 0, 100}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::Message() << c.source);
    vorn_bitmap source(1, 1);
    fill(source, c.source);
    vorn_bitmap dest(1, 1);
    fill(dest, {9, 9, 9, 100});
    dest.DrawBitmapUseAlpha(source, 0, 0);
    EXPECT_EQ(pixel(dest, 0, 0), c.expected);
  }
}

TEST(BitmapTest, BlitsAtNegativeAndOverhangingOffsetsAreClipped) {
  // A 10 by 10 source whose pixel (i, j) holds red i, green j.
  vorn_bitmap source(10, 10);
  {
    wxAlphaPixelData data(source);
    wxAlphaPixelData::Iterator p(data);
    for (int j = 0; j < 10; ++j) {
      for (int i = 0; i < 10; ++i) {
        p.MoveTo(data, i, j);
        p.Red() = i;
        p.Green() = j;
        p.Blue() = 0;
        p.Alpha() = 255;
      }
    }
  }
  for (const bool use_alpha : {true, false}) {
    SCOPED_TRACE(use_alpha ? "with alpha" : "ignoring alpha");
    vorn_bitmap dest(10, 10);
    fill(dest, {200, 200, 200, 255});
    if (use_alpha) {
      dest.DrawBitmapUseAlpha(source, -3, -3);
    } else {
      dest.DrawBitmapIgnoreAlpha(source, -3, -3);
    }
    // Source pixels (3..9, 3..9) land at (0..6, 0..6); alpha 255 scales by 255/256.
    const int three = use_alpha ? 3 * 255 >> 8 : 3;
    const int nine = use_alpha ? 9 * 255 >> 8 : 9;
    EXPECT_EQ(pixel(dest, 0, 0), (rgba{three, three, 0, 255}));
    EXPECT_EQ(pixel(dest, 6, 6), (rgba{nine, nine, 0, 255}));
    EXPECT_EQ(pixel(dest, 7, 7), (rgba{200, 200, 200, 255}));
    EXPECT_EQ(pixel(dest, 0, 7), (rgba{200, 200, 200, 255}));

    vorn_bitmap far(10, 10);
    fill(far, {200, 200, 200, 255});
    far.DrawBitmapIgnoreAlpha(source, 10, 0);  // entirely outside
    far.DrawBitmapUseAlpha(source, 0, -10);
    EXPECT_EQ(pixel(far, 0, 0), (rgba{200, 200, 200, 255}));
  }
}

TEST(BitmapTest, GradientsRampAcrossTheDrawnPart) {
  vorn_bitmap b = blank(4, 1);
  // Four columns, a divisor of 5: a step of 255 * 256 / 5 = 13056 per column.
  b.DrawXGradientRectangle(0, 0, 3, 0, {0, 0, 0}, {255, 0, 0});
  EXPECT_EQ(pixel(b, 0, 0).r, 51);
  EXPECT_EQ(pixel(b, 1, 0).r, 102);
  EXPECT_EQ(pixel(b, 3, 0).r, 204);
  // Cut at the left edge, the ramp still starts at the first drawn column.
  b.DrawXGradientRectangle(-2, 0, 3, 0, {0, 0, 0}, {0, 0, 255});
  EXPECT_EQ(pixel(b, 0, 0).b, 255 * 256 / 7 >> 8);
  vorn_bitmap v = blank(1, 3);
  v.DrawYGradientRectangle(0, 2, 0, 0, {0, 100, 0}, {0, 0, 0});
  EXPECT_EQ(pixel(v, 0, 0).g, (100 * 256 - 100 * 256 / 4) >> 8);
  EXPECT_EQ(pixel(v, 0, 2).g, (100 * 256 - 3 * (100 * 256 / 4)) >> 8);
}

TEST(BitmapTest, CirclesAndLines) {
  vorn_bitmap b = blank(7, 7);
  b.DrawFilledCircle(3, 3, 2, kRed);  // q = 6: half widths 1, 2, 2, 2, 1
  EXPECT_EQ(picture(b),
            ".......\n"
            "..RRR..\n"
            ".RRRRR.\n"
            ".RRRRR.\n"
            ".RRRRR.\n"
            "..RRR..\n"
            ".......\n");
  vorn_bitmap c = blank(3, 3);
  c.DrawFilledCircle(-10, 1, 2, kRed);  // wholly outside
  c.DrawFilledCircle(1, 1, -4, kBlue);  // a negative radius is a dot
  EXPECT_EQ(picture(c), "...\n.B.\n...\n");

  vorn_bitmap l = blank(5, 3);
  l.DrawLine(0, 0, 4, 2, kRed);
  l.DrawLine(-3, 2, -1, 2, kBlue);  // off the bitmap: nothing
  EXPECT_EQ(picture(l), "RR...\n..RR.\n....R\n");
  vorn_bitmap dot = blank(2, 2);
  dot.DrawLine(1, 1, 1, 1, kBlue);
  EXPECT_EQ(picture(dot), "..\n.B\n");
  vorn_bitmap g = blank(3, 1);
  g.DrawGradientLine(0, 0, 2, 0, {0, 0, 0}, {0, 0, 255});
  EXPECT_EQ(pixel(g, 2, 0).b, 255);
  EXPECT_EQ(pixel(g, 0, 0).b, 85);
}

TEST(BitmapTest, GlyphsMixByCoverage) {
  vorn_bitmap glyph(2, 1);
  {
    wxAlphaPixelData data(glyph);
    wxAlphaPixelData::Iterator p(data);
    p.Green() = 0;  // no ink
    ++p;
    p.Green() = 128;  // half ink
  }
  vorn_bitmap opaque(2, 1);
  fill(opaque, {10, 10, 10, 255});
  opaque.DrawTextGlyph(glyph, 0, 0, {255, 255, 255}, {0, 0, 100});
  EXPECT_EQ(pixel(opaque, 0, 0), (rgba{0, 0, 100, 255}));
  EXPECT_EQ(pixel(opaque, 1, 0), (rgba{127, 127, (127 * 100 + 128 * 255) / 256, 255}));

  vorn_bitmap transparent(2, 1);
  fill(transparent, {10, 10, 10, 255});
  transparent.DrawTextGlyphTransparent(glyph, 0, 0, {255, 0, 0});
  EXPECT_EQ(pixel(transparent, 0, 0), (rgba{10, 10, 10, 255}));
  EXPECT_EQ(pixel(transparent, 1, 0),
            (rgba{(128 * 255 + 127 * 10) / 256, 127 * 10 / 256, 127 * 10 / 256, 255}));

  // A font: glyph for 'a' only; text advances by glyph widths.
  std::vector<const vorn_bitmap *> font(130, nullptr);
  font[('a' & 127) + 2] = &glyph;
  int w = -1, h = -1;
  vorn_bitmap::GetTextSize(font.data(), "a?a", &w, &h);
  EXPECT_EQ(w, 4);
  EXPECT_EQ(h, 1);
  vorn_bitmap line(4, 1);
  fill(line, {10, 10, 10, 255});
  line.DrawText(font.data(), "a?a", 0, 0, {255, 255, 255}, {0, 0, 100});
  EXPECT_EQ(pixel(line, 2, 0), (rgba{0, 0, 100, 255}));
  line.DrawText(font.data(), nullptr, 0, 0, kRed, kRed);
}

TEST(BitmapTest, PolygonsNeedThreeToNineHundredNinetyNinePoints) {
  testing_support::log_capture log;
  vorn_bitmap b = blank(6, 6);
  const wxPoint square[] = {{1, 1}, {4, 1}, {4, 4}, {1, 4}};
  b.DrawPolygon(4, square, 0, 0, kBlue, kRed);
  EXPECT_EQ(picture(b),
            "......\n"
            ".BBBB.\n"
            ".BRRB.\n"
            ".BRRB.\n"
            ".BBBB.\n"
            "......\n");
  b.DrawPolygon(2, square, 0, 0, kBlue, kRed);
  std::vector<wxPoint> many(1000, wxPoint(0, 0));
  for (int i = 0; i < 1000; ++i) many[i] = wxPoint(i % 5, i % 3);
  b.DrawPolygon(1000, many.data(), 0, 0, kBlue, kRed);
  b.DrawPolygon(999, many.data(), 0, 0, kBlue, kRed);
  EXPECT_EQ(log.text(),
            "Error in vorn_bitmap::DrawPolygon(), only got 2 points, need a minimum of 3.\n"
            "Error in vorn_bitmap::DrawPolygon(), got 1000 points, max is 1000.\n");
}

TEST(BitmapTest, CopiesOwnTheirPixels) {
  vorn_bitmap a = blank(2, 2);
  vorn_bitmap b(a);
  b.DrawFilledRectangle(0, 0, 1, 1, kRed);
  EXPECT_EQ(picture(a), "..\n..\n");
  EXPECT_EQ(picture(b), "RR\nRR\n");
  a = b;
  b.DrawFilledRectangle(0, 0, 1, 1, kBlue);
  EXPECT_EQ(picture(a), "RR\nRR\n");
}

TEST(BitmapTest, AnImageKeepsItsAlpha) {
  wxImage image(2, 1);
  image.InitAlpha();
  image.SetRGB(0, 0, 10, 20, 30);
  image.SetAlpha(0, 0, 40);
  image.SetRGB(1, 0, 1, 2, 3);
  image.SetAlpha(1, 0, 255);
  vorn_bitmap b(image);
  EXPECT_EQ(pixel(b, 0, 0), (rgba{10, 20, 30, 40}));
  EXPECT_EQ(pixel(b, 1, 0), (rgba{1, 2, 3, 255}));
}

}  // namespace
