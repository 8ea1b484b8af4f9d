#include "bitmap/vorn_bitmap.h"

#include <wx/rawbmp.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "support/debug_log.h"

namespace {

static_assert(wxAlphaPixelFormat::RED == 0 && wxAlphaPixelFormat::GREEN == 1 &&
                  wxAlphaPixelFormat::BLUE == 2 && wxAlphaPixelFormat::ALPHA == 3,
              "the drawing code expects pixels laid out as red, green, blue, alpha");

// Raw access to one bitmap's pixels for the life of the object.
class pixels {
 public:
  explicit pixels(const wxBitmap &bitmap)
      : data_(const_cast<wxBitmap &>(bitmap), wxPoint(0, 0), bitmap.GetSize()) {
    if (!data_) return;
    wxAlphaPixelData::Iterator first(data_);
    base_ = &first.Red();
    width = data_.GetWidth();
    height = data_.GetHeight();
    stride = data_.GetRowStride();
  }
  bool ok() const { return base_ != nullptr; }
  unsigned char *row(int y) const { return base_ + static_cast<std::ptrdiff_t>(y) * stride; }
  unsigned char *at(int x, int y) const { return row(y) + 4 * x; }

  int width = 0;
  int height = 0;
  int stride = 0;

 private:
  wxAlphaPixelData data_;
  unsigned char *base_ = nullptr;
};

void report(const char *operation, const char *which) {
  if (debug_level > 1)
    debug_log("Error in vorn_bitmap::%s(), pixel data %sfailed?\n", operation, which);
}

inline void store(unsigned char *p, int red, int green, int blue) {
  p[0] = static_cast<unsigned char>(red);
  p[1] = static_cast<unsigned char>(green);
  p[2] = static_cast<unsigned char>(blue);
}

inline void store(unsigned char *p, bitmap_colour c) { store(p, c.red, c.green, c.blue); }

// The part of a blit of a (sw, sh) source at (x, y) that lands inside (dw, dh):
// source columns [i0, i1) and rows [j0, j1).
struct blit_range {
  int i0, i1, j0, j1;
  bool empty() const { return i0 >= i1 || j0 >= j1; }
};

blit_range clip_blit(int sw, int sh, int dw, int dh, int x, int y) {
  return {std::max(0, -x), std::min(sw, dw - x), std::max(0, -y), std::min(sh, dh - y)};
}

// Normalises and clips a rectangle; false when nothing of it is inside.
bool clip_rectangle(int &x1, int &y1, int &x2, int &y2, int width, int height) {
  if (x2 < x1) std::swap(x1, x2);
  if (y2 < y1) std::swap(y1, y2);
  if (x2 < 0 || y2 < 0 || x1 >= width || y1 >= height) return false;
  x1 = std::max(x1, 0);
  y1 = std::max(y1, 0);
  x2 = std::min(x2, width - 1);
  y2 = std::min(y2, height - 1);
  return true;
}

// One row of DrawBitmapUseAlpha: each colour channel becomes source * alpha
// >> 8. Source and destination never overlap, which lets the compiler
// vectorise the loop.
void blend_row(const unsigned char *__restrict s, unsigned char *__restrict d, int count) {
  for (int i = 0; i < count; ++i) {
    const unsigned a = s[4 * i + 3];
    d[4 * i + 0] = static_cast<unsigned char>((s[4 * i + 0] * a) >> 8);
    d[4 * i + 1] = static_cast<unsigned char>((s[4 * i + 1] * a) >> 8);
    d[4 * i + 2] = static_cast<unsigned char>((s[4 * i + 2] * a) >> 8);
  }
}

}  // namespace

vorn_bitmap::vorn_bitmap() : vorn_bitmap(16, 16) {}

vorn_bitmap::vorn_bitmap(int width, int height) : wxBitmap(width, height, 32) {
  UseAlpha();
  ClearAlpha();
}

vorn_bitmap::vorn_bitmap(const wxImage &image) : wxBitmap(image, 32) {}

vorn_bitmap::vorn_bitmap(const wxBitmap &other) : wxBitmap() { copy_from(other); }

vorn_bitmap::vorn_bitmap(const vorn_bitmap &other) : wxBitmap() { copy_from(other); }

vorn_bitmap &vorn_bitmap::operator=(const wxBitmap &other) {
  if (&other != this) copy_from(other);
  return *this;
}

vorn_bitmap &vorn_bitmap::operator=(const vorn_bitmap &other) {
  if (&other != this) copy_from(other);
  return *this;
}

vorn_bitmap::~vorn_bitmap() = default;

void vorn_bitmap::copy_from(const wxBitmap &other) {
  wxBitmap::operator=(other.IsOk()
                          ? other.GetSubBitmap(wxRect(0, 0, other.GetWidth(), other.GetHeight()))
                          : wxBitmap());
}

void vorn_bitmap::ClearAlpha() {
  pixels p(*this);
  if (!p.ok()) return report("ClearAlpha", "");
  for (int y = 0; y < p.height; ++y) {
    unsigned char *q = p.row(y);
    for (int x = 0; x < p.width; ++x) q[4 * x + 3] = 255;
  }
}

void vorn_bitmap::Clear(bitmap_colour colour) {
  pixels p(*this);
  if (!p.ok()) return report("Clear", "");
  for (int y = 0; y < p.height; ++y) {
    for (int x = 0; x < p.width; ++x) {
      unsigned char *q = p.at(x, y);
      store(q, colour);
      q[3] = 255;
    }
  }
}

void vorn_bitmap::SetPixel(int x, int y, bitmap_colour colour) {
  SetPixel(x, y, colour.red, colour.green, colour.blue);
}

void vorn_bitmap::SetPixel(int x, int y, int red, int green, int blue) {
  if (x < 0 || y < 0 || x >= GetWidth() || y >= GetHeight()) return;
  pixels p(*this);
  if (p.ok()) store(p.at(x, y), red, green, blue);
}

void vorn_bitmap::DrawBitmapUseAlpha(const vorn_bitmap &source, int x, int y) {
  pixels dest(*this);
  if (!dest.ok()) return report("DrawBitmapUseAlpha", "dest ");
  pixels src(source);
  if (!src.ok()) return report("DrawBitmapUseAlpha", "src ");
  const blit_range r = clip_blit(src.width, src.height, dest.width, dest.height, x, y);
  if (r.empty()) return;
  const int count = r.i1 - r.i0;
  for (int j = r.j0; j < r.j1; ++j) {
    blend_row(src.at(r.i0, j), dest.at(x + r.i0, y + j), count);
  }
}

void vorn_bitmap::DrawBitmapIgnoreAlpha(const vorn_bitmap &source, int x, int y) {
  pixels dest(*this);
  if (!dest.ok()) return report("DrawBitmapIgnoreAlpha", "dest ");
  pixels src(source);
  if (!src.ok()) return report("DrawBitmapIgnoreAlpha", "src ");
  const blit_range r = clip_blit(src.width, src.height, dest.width, dest.height, x, y);
  if (r.empty()) return;
  for (int j = r.j0; j < r.j1; ++j) {
    std::copy(src.at(r.i0, j), src.at(r.i1, j), dest.at(x + r.i0, y + j));
  }
}

void vorn_bitmap::DrawFilledRectangle(int x1, int y1, int x2, int y2, bitmap_colour colour) {
  pixels p(*this);
  if (!p.ok()) return report("DrawFilledRectangle", "");
  if (!clip_rectangle(x1, y1, x2, y2, p.width, p.height)) return;
  for (int y = y1; y <= y2; ++y) {
    unsigned char *q = p.at(x1, y);
    for (int x = x1; x <= x2; ++x, q += 4) store(q, colour);
  }
}

void vorn_bitmap::DrawFilledCircle(int cx, int cy, int radius, bitmap_colour colour) {
  pixels p(*this);
  if (!p.ok()) return report("DrawFilledCircle", "");
  const long long r = std::max(radius, 0);
  if (cy - r >= p.height || cy + r < 0) return;
  const long long q = r * (r + 1);
  const long long top = std::max<long long>(cy - r, 0);
  const long long bottom = std::min<long long>(cy + r, p.height - 1);
  for (long long y = top; y <= bottom; ++y) {
    const long long dy = y - cy;
    const long long half =
        static_cast<long long>(std::sqrt(static_cast<double>(std::max(0LL, q - dy * dy))));
    if (cx - half >= p.width || cx + half < 0) continue;
    const long long from = std::max<long long>(cx - half, 0);
    const long long to = std::min<long long>(cx + half, p.width - 1);
    unsigned char *d = p.at(static_cast<int>(from), static_cast<int>(y));
    for (long long x = from; x <= to; ++x, d += 4) store(d, colour);
  }
}

void vorn_bitmap::draw_gradient(int x1, int y1, int x2, int y2, bitmap_colour from,
                                bitmap_colour to, bool across_columns, const char *operation) {
  pixels p(*this);
  if (!p.ok()) return report(operation, "");
  if (x2 < x1) std::swap(x1, x2);
  if (y2 < y1) std::swap(y1, y2);
  // The ramp's length comes from the corners as given, before clipping.
  const long long steps = across_columns ? (static_cast<long long>(x2) - x1 + 2)
                                         : (static_cast<long long>(y2) - y1 + 2);
  if (!clip_rectangle(x1, y1, x2, y2, p.width, p.height)) return;
  long long acc[3] = {from.red * 256LL, from.green * 256LL, from.blue * 256LL};
  const long long step[3] = {(to.red - static_cast<long long>(from.red)) * 256 / steps,
                             (to.green - static_cast<long long>(from.green)) * 256 / steps,
                             (to.blue - static_cast<long long>(from.blue)) * 256 / steps};
  const int lines_from = across_columns ? x1 : y1;
  const int lines_to = across_columns ? x2 : y2;
  for (int line = lines_from; line <= lines_to; ++line) {
    for (int c = 0; c < 3; ++c) acc[c] += step[c];
    const bitmap_colour colour = {static_cast<int>(acc[0] >> 8), static_cast<int>(acc[1] >> 8),
                                  static_cast<int>(acc[2] >> 8)};
    if (across_columns) {
      for (int y = y1; y <= y2; ++y) store(p.at(line, y), colour);
    } else {
      unsigned char *d = p.at(x1, line);
      for (int x = x1; x <= x2; ++x, d += 4) store(d, colour);
    }
  }
}

void vorn_bitmap::DrawXGradientRectangle(int x1, int y1, int x2, int y2, bitmap_colour from,
                                         bitmap_colour to) {
  draw_gradient(x1, y1, x2, y2, from, to, true, "DrawXGradientRectangle");
}

void vorn_bitmap::DrawYGradientRectangle(int x1, int y1, int x2, int y2, bitmap_colour from,
                                         bitmap_colour to) {
  draw_gradient(x1, y1, x2, y2, from, to, false, "DrawYGradientRectangle");
}

void vorn_bitmap::draw_glyph(const vorn_bitmap &glyph, int x, int y, bitmap_colour ink,
                             const bitmap_colour *background, const char *operation) {
  pixels dest(*this);
  if (!dest.ok()) return report(operation, "dest ");
  pixels src(glyph);
  if (!src.ok()) return report(operation, "src ");
  const blit_range r = clip_blit(src.width, src.height, dest.width, dest.height, x, y);
  if (r.empty()) return;
  for (int j = r.j0; j < r.j1; ++j) {
    for (int i = r.i0; i < r.i1; ++i) {
      const int c = src.at(i, j)[1];
      unsigned char *d = dest.at(x + i, y + j);
      if (background != nullptr) {
        if (c == 0) {
          store(d, *background);
        } else {
          store(d, ((255 - c) * background->red + c * ink.red) / 256,
                ((255 - c) * background->green + c * ink.green) / 256,
                ((255 - c) * background->blue + c * ink.blue) / 256);
        }
      } else if (c != 0) {
        store(d, (c * ink.red + (255 - c) * d[0]) / 256, (c * ink.green + (255 - c) * d[1]) / 256,
              (c * ink.blue + (255 - c) * d[2]) / 256);
      }
    }
  }
}

void vorn_bitmap::DrawTextGlyph(const vorn_bitmap &glyph, int x, int y, bitmap_colour foreground,
                                bitmap_colour background) {
  draw_glyph(glyph, x, y, foreground, &background, "DrawTextGlyph");
}

void vorn_bitmap::DrawTextGlyphTransparent(const vorn_bitmap &glyph, int x, int y,
                                           bitmap_colour colour) {
  draw_glyph(glyph, x, y, colour, nullptr, "DrawTextGlyphTransparent");
}

namespace {
const vorn_bitmap *glyph_for(const vorn_bitmap *const *font, char ch) {
  return font[(static_cast<unsigned char>(ch) & 127) + 2];
}
}  // namespace

void vorn_bitmap::DrawText(const vorn_bitmap *const *font, const char *text, int x, int y,
                           bitmap_colour foreground, bitmap_colour background) {
  if (font == nullptr || text == nullptr || y > GetHeight() || x > GetWidth()) return;
  for (const char *p = text; *p != '\0'; ++p) {
    const vorn_bitmap *glyph = glyph_for(font, *p);
    if (glyph == nullptr) continue;
    DrawTextGlyph(*glyph, x, y, foreground, background);
    x += glyph->GetWidth();
  }
}

void vorn_bitmap::DrawTextTransparent(const vorn_bitmap *const *font, const char *text, int x,
                                      int y, bitmap_colour colour) {
  if (font == nullptr || text == nullptr || y > GetHeight() || x > GetWidth()) return;
  for (const char *p = text; *p != '\0'; ++p) {
    const vorn_bitmap *glyph = glyph_for(font, *p);
    if (glyph == nullptr) continue;
    DrawTextGlyphTransparent(*glyph, x, y, colour);
    x += glyph->GetWidth();
  }
}

void vorn_bitmap::GetTextSize(const vorn_bitmap *const *font, const char *text, int *width,
                              int *height) {
  int w = 0;
  int h = 0;
  if (font != nullptr && text != nullptr) {
    for (const char *p = text; *p != '\0'; ++p) {
      const vorn_bitmap *glyph = glyph_for(font, *p);
      if (glyph == nullptr) continue;
      w += glyph->GetWidth();
      h = glyph->GetHeight();
    }
  }
  if (width != nullptr) *width = w;
  if (height != nullptr) *height = h;
}

namespace {

// Visits the pixels of a line from (x1, y1) to (x2, y2), both ends included,
// stepping along the major axis with an error term that starts at half its
// length and moves by the minor axis's length.
template <typename Plot>
void walk_line(int x1, int y1, int x2, int y2, Plot plot) {
  const int dx = std::abs(x2 - x1);
  const int dy = std::abs(y2 - y1);
  const int sx = x1 < x2 ? 1 : -1;
  const int sy = y1 < y2 ? 1 : -1;
  const bool x_major = dx >= dy;
  const int major = x_major ? dx : dy;
  const int minor = x_major ? dy : dx;
  int x = x1;
  int y = y1;
  int &along = x_major ? x : y;
  int &across = x_major ? y : x;
  const int step_along = x_major ? sx : sy;
  const int step_across = x_major ? sy : sx;
  int error = major / 2;
  for (int i = 0; i <= major; ++i) {
    plot(x, y, major);
    error -= minor;
    if (error < 0) {
      error += major;
      across += step_across;
    }
    along += step_along;
  }
}

}  // namespace

void vorn_bitmap::DrawLine(int x1, int y1, int x2, int y2, bitmap_colour colour) {
  pixels p(*this);
  if (!p.ok()) return report("DrawLine", "");
  walk_line(x1, y1, x2, y2, [&](int x, int y, int) {
    if (x >= 0 && y >= 0 && x < p.width && y < p.height) store(p.at(x, y), colour);
  });
}

void vorn_bitmap::DrawGradientLine(int x1, int y1, int x2, int y2, bitmap_colour from,
                                   bitmap_colour to) {
  pixels p(*this);
  if (!p.ok()) return report("DrawGradientLine", "");
  // Each channel in 8.8 fixed point, one step per pixel before it is drawn.
  long long acc[3] = {from.red * 256LL, from.green * 256LL, from.blue * 256LL};
  const long long delta[3] = {to.red - static_cast<long long>(from.red),
                              to.green - static_cast<long long>(from.green),
                              to.blue - static_cast<long long>(from.blue)};
  walk_line(x1, y1, x2, y2, [&](int x, int y, int major) {
    for (int c = 0; c < 3; ++c) acc[c] += delta[c] * 256 / (major + 1);
    if (x >= 0 && y >= 0 && x < p.width && y < p.height) {
      store(p.at(x, y), static_cast<int>(acc[0] >> 8), static_cast<int>(acc[1] >> 8),
            static_cast<int>(acc[2] >> 8));
    }
  });
}

void vorn_bitmap::DrawPolygon(int count, const wxPoint *points, int x, int y, bitmap_colour outline,
                              bitmap_colour fill) {
  constexpr int most_points = 999;
  if (count < 3 || points == nullptr) {
    if (debug_level > 0) {
      debug_log("Error in vorn_bitmap::DrawPolygon(), only got %d points, need a minimum of 3.\n",
                count);
    }
    return;
  }
  if (count > most_points) {
    if (debug_level > 0) {
      debug_log("Error in vorn_bitmap::DrawPolygon(), got %d points, max is %d.\n", count, 1000);
    }
    return;
  }
  struct edge {
    int top, bottom;  // rows [top, bottom)
    double x_at_top, slope;
  };
  std::vector<edge> edges;
  int top = points[0].y + y;
  int bottom = top;
  for (int i = 0; i < count; ++i) {
    const wxPoint a = points[i] + wxPoint(x, y);
    const wxPoint b = points[(i + 1) % count] + wxPoint(x, y);
    top = std::min(top, a.y);
    bottom = std::max(bottom, a.y);
    if (a.y == b.y) continue;  // horizontal edges only show in the outline
    const wxPoint &upper = a.y < b.y ? a : b;
    const wxPoint &lower = a.y < b.y ? b : a;
    edges.push_back({upper.y, lower.y, static_cast<double>(upper.x),
                     static_cast<double>(lower.x - upper.x) / (lower.y - upper.y)});
  }
  // Only the rows that can show anything are walked.
  top = std::max(top, 0);
  bottom = std::min(bottom, GetHeight());
  std::vector<double> crossings;
  for (int row = top; row < bottom; ++row) {
    crossings.clear();
    for (const edge &e : edges) {
      if (row >= e.top && row < e.bottom) crossings.push_back(e.x_at_top + (row - e.top) * e.slope);
    }
    std::sort(crossings.begin(), crossings.end());
    if (crossings.size() % 2 != 0 && debug_level > 1) {
      debug_log("Error in DrawPolygon(), unclosed poly for draw line?\n");
    }
    for (std::size_t i = 0; i + 1 < crossings.size(); i += 2) {
      DrawLine(static_cast<int>(crossings[i]), row, static_cast<int>(crossings[i + 1]), row, fill);
    }
  }
  for (int i = 0; i < count; ++i) {
    const wxPoint a = points[i] + wxPoint(x, y);
    const wxPoint b = points[(i + 1) % count] + wxPoint(x, y);
    DrawLine(a.x, a.y, b.x, b.y, outline);
  }
}
