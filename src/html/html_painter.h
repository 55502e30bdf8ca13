// Paints the boxes of a laid-out document onto a canvas. The canvas shows
// the view from `origin`: a point (x, y) of the view (x with the left
// margin, y in document coordinates) lands at (x - origin_x, y - origin_y).
//
// Only the boxes on lines that meet the painted area are visited (a binary
// search over the lines), so painting a screen costs the same wherever it
// is in a long document. Not thread-safe.
#ifndef QUILL_HTML_HTML_PAINTER_H_
#define QUILL_HTML_HTML_PAINTER_H_

#include <cstddef>
#include <cstdint>

#include "html/html_layout.h"
#include "html/text_font.h"
#include "html/view_colours.h"
#include "platform/canvas.h"

namespace quill {
namespace html {

struct PaintTarget {
  gfx::Canvas* canvas = nullptr;              // painted on; not owned
  int origin_x = 0;                           // view x shown at canvas column 0
  int64_t origin_y = 0;                       // document y shown at canvas row 0
  int view_width = 0;                         // bars and blocks fill columns [0, this) of the view
  bool view_focused = false;                  // focus highlights show only then
  const gfx::Canvas* placeholder = nullptr;   // drawn for images without a picture; may be null
};

class HtmlPainter {
 public:
  // The font is borrowed and must outlive the painter.
  HtmlPainter(const TextFont* font, const ViewColours& colours)
      : font_(font), colours_(colours) {}

  const ViewColours& colours() const { return colours_; }

  // Fills `area` (canvas coordinates) with the window colour and paints
  // every box that meets it, clipped to it.
  void PaintArea(const HtmlLayout& layout, const PaintTarget& target, const gfx::Rect& area) const;
  // Paints boxes [first, last) over what the canvas holds (new boxes on
  // fresh background), clipped to the canvas.
  void PaintBoxes(const HtmlLayout& layout, const PaintTarget& target, size_t first,
                  size_t last) const;
  // Repaints every box of one element on a fresh background (after a focus
  // change).
  void RepaintElement(const HtmlLayout& layout, const PaintTarget& target, size_t element) const;

 private:
  // The canvas rectangle a box covers; bars and blocks span the view.
  gfx::Rect BoxArea(const HtmlLayout& layout, const PaintTarget& target,
                    const LayoutBox& box) const;
  gfx::Rect BoxRect(const HtmlLayout& layout, const PaintTarget& target,
                    const LayoutBox& box) const;
  void PaintBox(const HtmlLayout& layout, const PaintTarget& target, const LayoutBox& box) const;
  void PaintLink(const HtmlLayout& layout, const PaintTarget& target, const LayoutBox& box) const;
  void PaintImage(const HtmlLayout& layout, const PaintTarget& target, const LayoutBox& box) const;
  void PaintLabelledBlock(const HtmlLayout& layout, const PaintTarget& target,
                          const LayoutBox& box) const;
  gfx::Color OrDefault(gfx::Color colour) const {
    return colour == gfx::kNoColor ? colours_.window_text : colour;
  }

  const TextFont* font_;  // borrowed
  ViewColours colours_;   // theme colours
};

}  // namespace html
}  // namespace quill

#endif  // QUILL_HTML_HTML_PAINTER_H_
