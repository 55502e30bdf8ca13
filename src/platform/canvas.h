// A software RGBA drawing surface. Screens and the HTML view paint into
// canvases; a window only shows one; decoded images are canvases too.
//
// Pixels are uint32_t values, row-major, stride = width, with red in bits
// 0-7, green in bits 8-15, blue in bits 16-23 and alpha in bits 24-31. A
// colour in the system's 0x00BBGGRR form is therefore an opaque pixel once
// its top byte is set (see PixelFromColor). In memory each pixel is the
// bytes R, G, B, A (the hosts are little-endian, checked below), the layout
// the image codecs read and write directly. Alpha is straight (not
// premultiplied); drawing operations leave the destination opaque wherever
// they draw opaque colour.
//
// Coordinates are in pixels, rectangles half-open (right and bottom are
// excluded). Every drawing operation is clipped to the current clip
// rectangle, which is always inside the surface, so no call can touch memory
// outside the pixel buffer whatever its arguments.
//
// Thread safety: none; a canvas is used by one thread at a time.
#ifndef QUILL_PLATFORM_CANVAS_H_
#define QUILL_PLATFORM_CANVAS_H_

#include <cstddef>
#include <cstdint>
#include <vector>

namespace quill {
namespace gfx {

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "pixels are exchanged with the codecs as R, G, B, A bytes");

// A colour 0x00BBGGRR; kNoColor means "no colour set" and draws nothing.
using Color = uint32_t;
constexpr Color kNoColor = 0xFFFFFFFFu;

// The largest surface a canvas may have: each side at most kMaxCanvasSide
// and at most kMaxCanvasPixels pixels (64 MiB of pixel memory).
constexpr int kMaxCanvasSide = 8192;
constexpr int64_t kMaxCanvasPixels = 16 * 1024 * 1024;
constexpr int64_t kMaxLineSteps = 4 * kMaxCanvasSide;

// The opaque pixel of a colour (the top byte of color is ignored).
inline uint32_t PixelFromColor(Color color) { return (color & 0x00FFFFFFu) | 0xFF000000u; }

// A half-open rectangle [left, right) x [top, bottom). Empty when
// right <= left or bottom <= top.
struct Rect {
  int left = 0;    // first column inside
  int top = 0;     // first row inside
  int right = 0;   // first column past the right edge
  int bottom = 0;  // first row past the bottom edge

  // The rectangle of w x h at (x, y); edges beyond the int range saturate.
  static Rect FromSize(int64_t x, int64_t y, int64_t w, int64_t h);
  bool empty() const { return right <= left || bottom <= top; }
  int width() const { return right - left; }
  int height() const { return bottom - top; }
  // The common part of both; empty (all zero) when they do not meet.
  Rect Intersect(const Rect& o) const;
  bool operator==(const Rect& o) const {
    return left == o.left && top == o.top && right == o.right && bottom == o.bottom;
  }
};

class Canvas {
 public:
  // An empty 0 x 0 canvas.
  Canvas() = default;

  // Resizes to width x height, every pixel set to `fill` (a raw pixel, not a
  // colour), and resets the clip to the whole surface. Returns false and
  // leaves the canvas empty when a side is not positive or the size is above
  // the limits.
  bool Reset(int width, int height, uint32_t fill = 0);

  int width() const { return width_; }
  int height() const { return height_; }
  bool empty() const { return width_ == 0; }
  uint32_t* pixels() { return pixels_.data(); }
  const uint32_t* pixels() const { return pixels_.data(); }
  uint32_t* Row(int y) { return pixels_.data() + static_cast<size_t>(y) * width_; }
  const uint32_t* Row(int y) const { return pixels_.data() + static_cast<size_t>(y) * width_; }
  // The pixel at (x, y); 0 outside the surface.
  uint32_t PixelAt(int x, int y) const;

  // Clipping. PushClip narrows the clip to its intersection with r until the
  // matching PopClip; PopClip without a push does nothing.
  void PushClip(const Rect& r);
  void PopClip();
  const Rect& clip() const { return clip_; }

  // Opaque fills and strokes in a 0x00BBGGRR colour.
  void FillRect(const Rect& r, Color color);
  void Clear(Color color) { FillRect(Rect{0, 0, width_, height_}, color); }
  // The pixels x0..x1 (both included, either order) of row y.
  void DrawHLine(int x0, int x1, int y, Color color);
  // The pixels y0..y1 (both included, either order) of column x.
  void DrawVLine(int x, int y0, int y1, Color color);
  // A one-pixel Bresenham line including both end points. A slanted line
  // longer than kMaxLineSteps on its major axis is not drawn (horizontal and
  // vertical lines have no such limit).
  void DrawLine(int x0, int y0, int x1, int y1, Color color);
  // A one-pixel outline along the inside of r.
  void DrawRectOutline(const Rect& r, Color color);
  // The dotted focus rectangle: the outline pixels of r whose distance
  // dx + dy from the top-left corner is even have their colour inverted, so
  // every other pixel along each edge. Drawing it twice restores the pixels.
  void DrawFocusRect(const Rect& r);

  // Blends `color` through an 8-bit coverage mask (0 = none, 255 = full)
  // of w x h values whose rows are `pitch` bytes apart, top-left at (x, y).
  // Glyphs are drawn this way.
  void BlendMask(int x, int y, const uint8_t* mask, int w, int h, int pitch, Color color);

  // Draws src with its top-left corner at (x, y), blending by src's alpha.
  void Blit(const Canvas& src, int x, int y);
  // Draws src scaled to fill dst (bilinear filter, alpha blended). Does
  // nothing when src or dst is empty.
  void BlitScaled(const Canvas& src, const Rect& dst);

 private:
  // Blends one straight-alpha pixel over *d.
  static void BlendPixel(uint32_t* d, uint32_t s);

  int width_ = 0;
  int height_ = 0;
  std::vector<uint32_t> pixels_;  // width_ * height_ pixels
  Rect clip_;                     // current clip, always inside the surface
  std::vector<Rect> clip_stack_;  // clips saved by PushClip
};

}  // namespace gfx
}  // namespace quill

#endif  // QUILL_PLATFORM_CANVAS_H_
