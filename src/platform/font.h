// Text drawing and measurement with one face at one pixel size, regular or
// synthetic bold. A Font is a small value that borrows its FontFace; the
// face must outlive it.
//
// Text is UTF-16. A surrogate pair is one code point; a lone surrogate is
// drawn and measured as U+FFFD. There is no kerning and no shaping: the
// width of a text is exactly the sum of its advances, so callers may build
// prefix sums from Advances and never measure a text twice.
//
// Thread safety: as FontFace (UI thread only).
#ifndef QUILL_PLATFORM_FONT_H_
#define QUILL_PLATFORM_FONT_H_

#include <string_view>
#include <vector>

#include "platform/canvas.h"
#include "platform/font_face.h"

namespace quill {
namespace gfx {

class Font {
 public:
  Font(FontFace* face, int pixel_size, bool bold);

  int pixel_size() const { return pixel_size_; }
  bool bold() const { return bold_; }
  const FontMetrics& metrics() const { return metrics_; }
  // Height of one text line (ascent + descent).
  int line_height() const { return metrics_.line_height; }
  int ascent() const { return metrics_.ascent; }

  // Advance of one code point in pixels.
  int Advance(char32_t cp) const;

  // Sets (*out)[i] to the advance of text[i], for every UTF-16 unit: the
  // first unit of a surrogate pair carries the pair's advance and the second
  // unit 0. out is resized to text.size().
  void Advances(std::u16string_view text, std::vector<int>* out) const;

  // Width of a whole text: the sum of its advances.
  int MeasureText(std::u16string_view text) const;

  // Draws text in a 0x00BBGGRR colour on a line whose top-left corner is
  // (x, y): the baseline is at y + ascent(). With underline, the underline
  // rows of the metrics are filled across the text's width. Returns the
  // text's width. kNoColor draws nothing but still returns the width.
  int DrawText(Canvas* canvas, int x, int y, std::u16string_view text, Color color,
               bool underline = false) const;

 private:
  FontFace* face_;       // borrowed, outlives the font
  int pixel_size_;       // clamped pixel size
  bool bold_;            // synthetic bold
  FontMetrics metrics_;  // metrics of pixel_size_
};

}  // namespace gfx
}  // namespace quill

#endif  // QUILL_PLATFORM_FONT_H_
