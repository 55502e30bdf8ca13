// A TextFont for layout and painting tests: every glyph is a cell of fixed
// width and height (or a width chosen per character), drawn as a filled
// block inset by one pixel, so geometry and pixels are easy to compute.
#ifndef QUILL_TESTS_HTML_FAKE_TEXT_FONT_H_
#define QUILL_TESTS_HTML_FAKE_TEXT_FONT_H_

#include <functional>
#include <string_view>
#include <utility>
#include <vector>

#include "html/text_font.h"
#include "platform/canvas.h"
#include "platform/utf.h"

namespace quill {
namespace html {

class FakeTextFont final : public TextFont {
 public:
  FakeTextFont(int width, int height) : width_(width), height_(height) {}
  // Advance of each unit chosen by `width_of` (the second unit of a
  // surrogate pair still gets 0).
  FakeTextFont(std::function<int(char16_t)> width_of, int height)
      : width_(0), height_(height), width_of_(std::move(width_of)) {}

  int line_height() const override { return height_; }
  void Advances(std::u16string_view text, std::vector<int>* out) const override {
    out->resize(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
      const bool low_of_pair = i > 0 && IsHighSurrogate(text[i - 1]) && IsLowSurrogate(text[i]);
      (*out)[i] = low_of_pair ? 0 : (width_of_ ? width_of_(text[i]) : width_);
    }
  }
  void Draw(gfx::Canvas* canvas, int x, int y, std::u16string_view text,
            gfx::Color color) const override {
    std::vector<int> advances;
    Advances(text, &advances);
    for (int advance : advances) {
      if (advance > 2) canvas->FillRect(gfx::Rect{x + 1, y + 1, x + advance - 1, y + height_ - 1}, color);
      x += advance;
    }
  }

 private:
  int width_;                               // advance of every glyph
  int height_;                              // line height
  std::function<int(char16_t)> width_of_;   // per-character advances, when set
};

}  // namespace html
}  // namespace quill

#endif  // QUILL_TESTS_HTML_FAKE_TEXT_FONT_H_
