#include "platform/font.h"

#include <algorithm>
#include <cstdint>

#include "platform/utf.h"

namespace quill {
namespace gfx {

namespace {

// The code point starting at text[*i]; advances *i past it.
char32_t NextCodePoint(std::u16string_view text, size_t* i) {
  const char16_t u = text[(*i)++];
  if (!IsSurrogate(u)) return u;
  if (IsHighSurrogate(u) && *i < text.size()) {
    const char16_t v = text[*i];
    if (IsLowSurrogate(v)) {
      ++*i;
      return CombineSurrogates(u, v);
    }
  }
  return 0xFFFD;
}

}  // namespace

Font::Font(FontFace* face, int pixel_size, bool bold)
    : face_(face),
      pixel_size_(std::clamp(pixel_size, kMinFontPixels, kMaxFontPixels)),
      bold_(bold),
      metrics_(face->Metrics(pixel_size_)) {}

int Font::Advance(char32_t cp) const { return face_->GetGlyph(pixel_size_, bold_, cp).advance; }

void Font::Advances(std::u16string_view text, std::vector<int>* out) const {
  out->assign(text.size(), 0);
  for (size_t i = 0; i < text.size();) {
    const size_t start = i;
    (*out)[start] = Advance(NextCodePoint(text, &i));
  }
}

int Font::MeasureText(std::u16string_view text) const {
  int width = 0;
  for (size_t i = 0; i < text.size();) width += Advance(NextCodePoint(text, &i));
  return width;
}

int Font::DrawText(Canvas* canvas, int x, int y, std::u16string_view text, Color color,
                   bool underline) const {
  if (color == kNoColor) return MeasureText(text);
  // 64-bit pen: a huge text must not overflow the pen position.
  int64_t pen = x;
  const int64_t baseline = int64_t{y} + metrics_.ascent;
  for (size_t i = 0; i < text.size();) {
    const Glyph& g = face_->GetGlyph(pixel_size_, bold_, NextCodePoint(text, &i));
    const int64_t gx = pen + g.left, gy = baseline - g.top;
    if (g.width > 0 && gx > INT32_MIN && gx < INT32_MAX && gy > INT32_MIN && gy < INT32_MAX) {
      canvas->BlendMask(static_cast<int>(gx), static_cast<int>(gy), g.coverage.data(), g.width,
                        g.height, g.width, color);
    }
    pen += g.advance;
  }
  const int64_t width = pen - x;
  if (underline) {
    canvas->FillRect(Rect::FromSize(x, int64_t{y} + metrics_.underline_row, width,
                                    metrics_.underline_thickness),
                     color);
  }
  return static_cast<int>(std::min<int64_t>(width, INT32_MAX));
}

}  // namespace gfx
}  // namespace quill
