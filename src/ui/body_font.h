// The font the reader's HTML view measures and paints mail with: the CJK
// face found through fontconfig at the reading size. Opened once by the
// program and lent to every reader; opening a face costs a fontconfig
// search and a file open, which a reader should not pay each time.
//
// Threading: UI thread only (the face's glyph cache is not locked).
#ifndef QUILL_UI_BODY_FONT_H_
#define QUILL_UI_BODY_FONT_H_

#include <memory>

#include "html/text_font.h"
#include "platform/font.h"
#include "platform/font_face.h"

namespace quill {
namespace ui {

class BodyFont {
 public:
  // Pixel size of mail text.
  static constexpr int kPixels = 14;

  // Null when fontconfig knows no CJK font or it cannot be opened.
  static std::unique_ptr<BodyFont> Open();

  const html::TextFont* text_font() const { return &text_font_; }
  const gfx::FontFace* face() const { return face_.get(); }

 private:
  explicit BodyFont(std::unique_ptr<gfx::FontFace> face)
      : face_(std::move(face)), font_(face_.get(), kPixels, false), text_font_(&font_) {}

  std::unique_ptr<gfx::FontFace> face_;  // owns the glyph cache
  gfx::Font font_;                        // kPixels, regular
  html::GfxTextFont text_font_;           // font_ for the view
};

inline std::unique_ptr<BodyFont> BodyFont::Open() {
  std::unique_ptr<gfx::FontFace> face;
  if (gfx::FontFace::OpenCjk(&face) != gfx::FontStatus::kOk) return nullptr;
  return std::unique_ptr<BodyFont>(new BodyFont(std::move(face)));
}

}  // namespace ui
}  // namespace quill

#endif  // QUILL_UI_BODY_FONT_H_
