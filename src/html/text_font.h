// What layout and painting need of a font: advances, a line height and text
// drawing. The view measures and paints every run with one such font (the
// font lookup of the builder answers with no font), so layout tests can use
// a fake with fixed glyph sizes.
//
// Widths are sums of advances (no kerning), which is what lets the layout
// measure a run once and fit lines with a binary search over prefix sums.
#ifndef QUILL_HTML_TEXT_FONT_H_
#define QUILL_HTML_TEXT_FONT_H_

#include <string_view>
#include <vector>

#include "platform/canvas.h"
#include "platform/font.h"

namespace quill {
namespace html {

class TextFont {
 public:
  virtual ~TextFont() = default;
  // Height of one text line.
  virtual int line_height() const = 0;
  // (*out)[i] = advance of text[i]; the second unit of a surrogate pair is 0.
  virtual void Advances(std::u16string_view text, std::vector<int>* out) const = 0;
  // Draws text with its line's top-left corner at (x, y).
  virtual void Draw(gfx::Canvas* canvas, int x, int y, std::u16string_view text,
                    gfx::Color color) const = 0;
};

// A TextFont over a FreeType font; borrows it, so the font must outlive it.
class GfxTextFont final : public TextFont {
 public:
  explicit GfxTextFont(const gfx::Font* font) : font_(font) {}
  int line_height() const override { return font_->line_height(); }
  void Advances(std::u16string_view text, std::vector<int>* out) const override {
    font_->Advances(text, out);
  }
  void Draw(gfx::Canvas* canvas, int x, int y, std::u16string_view text,
            gfx::Color color) const override {
    font_->DrawText(canvas, x, y, text, color);
  }

 private:
  const gfx::Font* font_;  // borrowed
};

}  // namespace html
}  // namespace quill

#endif  // QUILL_HTML_TEXT_FONT_H_
