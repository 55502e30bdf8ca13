#include "platform/canvas.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace quill {
namespace gfx {

namespace {

// (a * b + 127) / 255 for a, b in 0..255, exact for every pair.
inline uint32_t Mul255(uint32_t a, uint32_t b) {
  const uint32_t t = a * b + 128;
  return (t + (t >> 8)) >> 8;
}

// Blends channel-wise: s * a + d * (255 - a), all over 255.
inline uint32_t Lerp255(uint32_t d, uint32_t s, uint32_t a) {
  return Mul255(s, a) + Mul255(d, 255 - a);
}

}  // namespace

Rect Rect::FromSize(int64_t x, int64_t y, int64_t w, int64_t h) {
  auto sat = [](int64_t v) {
    return static_cast<int>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX));
  };
  return Rect{sat(x), sat(y), sat(x + w), sat(y + h)};
}

Rect Rect::Intersect(const Rect& o) const {
  Rect r{std::max(left, o.left), std::max(top, o.top), std::min(right, o.right),
         std::min(bottom, o.bottom)};
  if (r.empty()) return Rect{};
  return r;
}

bool Canvas::Reset(int width, int height, uint32_t fill) {
  pixels_.clear();
  clip_stack_.clear();
  width_ = height_ = 0;
  clip_ = Rect{};
  if (width <= 0 || height <= 0 || width > kMaxCanvasSide || height > kMaxCanvasSide ||
      static_cast<int64_t>(width) * height > kMaxCanvasPixels) {
    pixels_.shrink_to_fit();
    return false;
  }
  pixels_.assign(static_cast<size_t>(width) * height, fill);
  width_ = width;
  height_ = height;
  clip_ = Rect{0, 0, width, height};
  return true;
}

uint32_t Canvas::PixelAt(int x, int y) const {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return 0;
  return Row(y)[x];
}

void Canvas::PushClip(const Rect& r) {
  clip_stack_.push_back(clip_);
  clip_ = clip_.Intersect(r);
}

void Canvas::PopClip() {
  if (clip_stack_.empty()) return;
  clip_ = clip_stack_.back();
  clip_stack_.pop_back();
}

void Canvas::FillRect(const Rect& r, Color color) {
  if (color == kNoColor) return;
  const Rect c = clip_.Intersect(r);
  if (c.empty()) return;
  const uint32_t p = PixelFromColor(color);
  for (int y = c.top; y < c.bottom; ++y) std::fill(Row(y) + c.left, Row(y) + c.right, p);
}

void Canvas::DrawHLine(int x0, int x1, int y, Color color) {
  if (x0 > x1) std::swap(x0, x1);
  FillRect(Rect::FromSize(x0, y, int64_t{x1} - x0 + 1, 1), color);
}

void Canvas::DrawVLine(int x, int y0, int y1, Color color) {
  if (y0 > y1) std::swap(y0, y1);
  FillRect(Rect::FromSize(x, y0, 1, int64_t{y1} - y0 + 1), color);
}

void Canvas::DrawLine(int x0, int y0, int x1, int y1, Color color) {
  if (color == kNoColor) return;
  if (y0 == y1) return DrawHLine(x0, x1, y0, color);
  if (x0 == x1) return DrawVLine(x0, y0, y1, color);
  // 64-bit arithmetic: end points may be anywhere in the int range.
  int64_t x = x0, y = y0;
  const int64_t dx = std::llabs(static_cast<int64_t>(x1) - x0);
  const int64_t dy = -std::llabs(static_cast<int64_t>(y1) - y0);
  const int sx = x0 < x1 ? 1 : -1, sy = y0 < y1 ? 1 : -1;
  int64_t err = dx + dy;
  const uint32_t p = PixelFromColor(color);
  const int64_t max_steps = std::max(dx, -dy);
  if (max_steps > kMaxLineSteps) return;
  for (int64_t i = 0; i <= max_steps; ++i) {
    if (x >= clip_.left && x < clip_.right && y >= clip_.top && y < clip_.bottom) {
      Row(static_cast<int>(y))[x] = p;
    }
    if (x == x1 && y == y1) break;
    const int64_t e2 = 2 * err;
    if (e2 >= dy) { err += dy; x += sx; }
    if (e2 <= dx) { err += dx; y += sy; }
  }
}

void Canvas::DrawRectOutline(const Rect& r, Color color) {
  if (r.empty()) return;
  DrawHLine(r.left, r.right - 1, r.top, color);
  DrawHLine(r.left, r.right - 1, r.bottom - 1, color);
  DrawVLine(r.left, r.top, r.bottom - 1, color);
  DrawVLine(r.right - 1, r.top, r.bottom - 1, color);
}

void Canvas::DrawFocusRect(const Rect& r) {
  if (r.empty()) return;
  const int64_t l = r.left, t = r.top, rr = int64_t{r.right} - 1, b = int64_t{r.bottom} - 1;
  auto invert = [&](int64_t x, int64_t y) {
    if (((x - l + y - t) & 1) == 0) Row(static_cast<int>(y))[x] ^= 0x00FFFFFFu;
  };
  // Each outline pixel is visited once; only the parts inside the clip.
  const int64_t x_lo = std::max<int64_t>(l, clip_.left), x_hi = std::min<int64_t>(rr, clip_.right - 1);
  for (int64_t x = x_lo; x <= x_hi; ++x) {
    if (t >= clip_.top && t < clip_.bottom) invert(x, t);
    if (b != t && b >= clip_.top && b < clip_.bottom) invert(x, b);
  }
  const int64_t y_lo = std::max<int64_t>(t + 1, clip_.top), y_hi = std::min<int64_t>(b - 1, clip_.bottom - 1);
  for (int64_t y = y_lo; y <= y_hi; ++y) {
    if (l >= clip_.left && l < clip_.right) invert(l, y);
    if (rr != l && rr >= clip_.left && rr < clip_.right) invert(rr, y);
  }
}

void Canvas::BlendPixel(uint32_t* d, uint32_t s) {
  const uint32_t a = s >> 24;
  if (a == 255) { *d = s; return; }
  if (a == 0) return;
  const uint32_t dv = *d;
  const uint32_t r = Lerp255(dv & 0xFF, s & 0xFF, a);
  const uint32_t g = Lerp255((dv >> 8) & 0xFF, (s >> 8) & 0xFF, a);
  const uint32_t b = Lerp255((dv >> 16) & 0xFF, (s >> 16) & 0xFF, a);
  const uint32_t out_a = a + Mul255(dv >> 24, 255 - a);
  *d = r | (g << 8) | (b << 16) | (out_a << 24);
}

void Canvas::BlendMask(int x, int y, const uint8_t* mask, int w, int h, int pitch,
                       Color color) {
  if (color == kNoColor || mask == nullptr || w <= 0 || h <= 0) return;
  const Rect c = clip_.Intersect(Rect::FromSize(x, y, w, h));
  if (c.empty()) return;
  const uint32_t rgb = color & 0x00FFFFFFu;
  for (int yy = c.top; yy < c.bottom; ++yy) {
    const uint8_t* m = mask + static_cast<ptrdiff_t>(yy - y) * pitch - x;
    uint32_t* d = Row(yy);
    for (int xx = c.left; xx < c.right; ++xx) {
      if (m[xx] != 0) BlendPixel(d + xx, rgb | (uint32_t{m[xx]} << 24));
    }
  }
}

void Canvas::Blit(const Canvas& src, int x, int y) {
  if (src.empty()) return;
  const Rect c = clip_.Intersect(Rect::FromSize(x, y, src.width_, src.height_));
  if (c.empty()) return;
  for (int yy = c.top; yy < c.bottom; ++yy) {
    const uint32_t* s = src.Row(yy - y) - x;
    uint32_t* d = Row(yy);
    for (int xx = c.left; xx < c.right; ++xx) BlendPixel(d + xx, s[xx]);
  }
}

void Canvas::BlitScaled(const Canvas& src, const Rect& dst) {
  if (src.empty() || dst.empty()) return;
  const Rect c = clip_.Intersect(dst);
  if (c.empty()) return;
  const int64_t dw = int64_t{dst.right} - dst.left, dh = int64_t{dst.bottom} - dst.top;
  // Source position of a destination pixel centre in 16.16 fixed point:
  // ((d + 0.5) * src / dst - 0.5), clamped to the source.
  auto src_pos = [](int64_t d, int64_t src_size, int64_t dst_size) {
    int64_t p = ((2 * d + 1) * src_size * 65536) / (2 * dst_size) - 32768;
    return std::clamp<int64_t>(p, 0, (src_size - 1) * 65536);
  };
  for (int yy = c.top; yy < c.bottom; ++yy) {
    const int64_t fy = src_pos(yy - dst.top, src.height_, dh);
    const int y0 = static_cast<int>(fy >> 16);
    const int y1 = std::min(y0 + 1, src.height_ - 1);
    const uint32_t wy = static_cast<uint32_t>((fy >> 8) & 0xFF);
    const uint32_t* r0 = src.Row(y0);
    const uint32_t* r1 = src.Row(y1);
    uint32_t* d = Row(yy);
    for (int xx = c.left; xx < c.right; ++xx) {
      const int64_t fx = src_pos(xx - dst.left, src.width_, dw);
      const int x0 = static_cast<int>(fx >> 16);
      const int x1 = std::min(x0 + 1, src.width_ - 1);
      const uint32_t wx = static_cast<uint32_t>((fx >> 8) & 0xFF);
      const uint32_t px[4] = {r0[x0], r0[x1], r1[x0], r1[x1]};
      const uint32_t wt[4] = {(256 - wx) * (256 - wy), wx * (256 - wy), (256 - wx) * wy, wx * wy};
      // Interpolate premultiplied channels so transparent neighbours do not
      // bleed their (meaningless) colour into the result.
      uint64_t acc[4] = {0, 0, 0, 0};
      for (int i = 0; i < 4; ++i) {
        const uint32_t a = px[i] >> 24;
        acc[0] += uint64_t{wt[i]} * (px[i] & 0xFF) * a;
        acc[1] += uint64_t{wt[i]} * ((px[i] >> 8) & 0xFF) * a;
        acc[2] += uint64_t{wt[i]} * ((px[i] >> 16) & 0xFF) * a;
        acc[3] += uint64_t{wt[i]} * a;
      }
      const uint32_t a = static_cast<uint32_t>((acc[3] + 32768) >> 16);
      if (a == 0) continue;
      // Un-premultiply: channel = sum(w * c * a) / sum(w * a).
      auto ch = [&](int i) {
        return static_cast<uint32_t>(std::min<uint64_t>(255, (acc[i] + acc[3] / 2) / acc[3]));
      };
      BlendPixel(d + xx, ch(0) | (ch(1) << 8) | (ch(2) << 16) | (std::min(a, 255u) << 24));
    }
  }
}

}  // namespace gfx
}  // namespace quill
