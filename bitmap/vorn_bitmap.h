// vorn_bitmap: a 32-bit RGBA toolkit bitmap with software drawing.
//
// The launcher composes its window contents in these: every embedded window
// keeps one as its backing store, the status panel draws the background picture
// into it and the progress bar two rectangles. All drawing writes the pixels
// directly through the toolkit's raw access for 32-bit bitmaps with alpha (four
// bytes a pixel: red, green, blue, alpha), row by row with the stride, held for
// one operation only. Everything clips to the bitmap: no operation writes
// outside it, whatever its coordinates.
//
// Colours are three ints of which the low 8 bits reach the pixels. No operation
// takes an alpha value, and all of them except ClearAlpha, Clear and
// DrawBitmapIgnoreAlpha leave the destination's alpha bytes as they were.
//
// A bitmap belongs to one thread at a time; the launcher draws on the GUI
// thread only. When the toolkit cannot give pixel access an operation draws
// nothing and says so in the log (at debug level 2 and above).
#ifndef VIRELAN_BITMAP_VORN_BITMAP_H
#define VIRELAN_BITMAP_VORN_BITMAP_H

#include <wx/bitmap.h>
#include <wx/image.h>

struct bitmap_colour {
  int red;
  int green;
  int blue;
};

class vorn_bitmap : public wxBitmap {
 public:
  // 16 by 16, alpha 255.
  vorn_bitmap();
  // width by height, 32 bits, alpha 255 everywhere; the colours are undefined
  // until drawn.
  vorn_bitmap(int width, int height);
  // The toolkit's conversion of the image, alpha kept.
  explicit vorn_bitmap(const wxImage &image);
  // Deep copies: the result owns its pixels.
  vorn_bitmap(const wxBitmap &other);
  vorn_bitmap(const vorn_bitmap &other);
  vorn_bitmap &operator=(const wxBitmap &other);
  vorn_bitmap &operator=(const vorn_bitmap &other);
  ~vorn_bitmap() override;

  void ClearAlpha();
  void Clear(bitmap_colour colour);
  void SetPixel(int x, int y, bitmap_colour colour);
  void SetPixel(int x, int y, int red, int green, int blue);

  // The source's pixel (i, j) goes to (x + i, y + j), clipped to this bitmap.
  // UseAlpha stores each colour channel as (source * alpha) >> 8: the source
  // over black (an opaque 255 becomes 254). IgnoreAlpha copies whole pixels.
  void DrawBitmapUseAlpha(const vorn_bitmap &source, int x, int y);
  void DrawBitmapIgnoreAlpha(const vorn_bitmap &source, int x, int y);

  // Both corners included, in any order.
  void DrawFilledRectangle(int x1, int y1, int x2, int y2, bitmap_colour colour);
  void DrawFilledCircle(int x, int y, int radius, bitmap_colour colour);
  // A ramp from `from` to `to` across the columns (X) or the rows (Y).
  void DrawXGradientRectangle(int x1, int y1, int x2, int y2, bitmap_colour from, bitmap_colour to);
  void DrawYGradientRectangle(int x1, int y1, int x2, int y2, bitmap_colour from, bitmap_colour to);

  // A glyph's green channel is its ink coverage. The opaque form paints the
  // background where there is no ink; the transparent form leaves it.
  void DrawTextGlyph(const vorn_bitmap &glyph, int x, int y, bitmap_colour foreground,
                     bitmap_colour background);
  void DrawTextGlyphTransparent(const vorn_bitmap &glyph, int x, int y, bitmap_colour colour);
  // A font holds the glyph for character ch at index (ch & 127) + 2, null where
  // it has none.
  void DrawText(const vorn_bitmap *const *font, const char *text, int x, int y,
                bitmap_colour foreground, bitmap_colour background);
  void DrawTextTransparent(const vorn_bitmap *const *font, const char *text, int x, int y,
                           bitmap_colour colour);
  // The sum of the glyphs' widths and the height of the last glyph found.
  static void GetTextSize(const vorn_bitmap *const *font, const char *text, int *width,
                          int *height);

  // One-pixel lines, both end points included.
  void DrawLine(int x1, int y1, int x2, int y2, bitmap_colour colour);
  void DrawGradientLine(int x1, int y1, int x2, int y2, bitmap_colour from, bitmap_colour to);
  // A filled polygon of 3 to 999 points (offsets from (x, y)) with its outline.
  void DrawPolygon(int count, const wxPoint *points, int x, int y, bitmap_colour outline,
                   bitmap_colour fill);

 private:
  void copy_from(const wxBitmap &other);
  void draw_glyph(const vorn_bitmap &glyph, int x, int y, bitmap_colour foreground,
                  const bitmap_colour *background, const char *operation);
  void draw_gradient(int x1, int y1, int x2, int y2, bitmap_colour from, bitmap_colour to,
                     bool across_columns, const char *operation);
};

#endif  // VIRELAN_BITMAP_VORN_BITMAP_H
