// Element types 7 (separator bar, one pixel high) and 8 (spacer of a given
// height): rows filled with one colour across the view.
#ifndef QUILL_HTML_BAR_ELEMENT_H_
#define QUILL_HTML_BAR_ELEMENT_H_

#include <cstdint>

#include "html/display_element.h"

namespace quill {
namespace html {

class BarElement final : public DisplayElement {
 public:
  // A separator bar.
  explicit BarElement(uint32_t colour) : DisplayElement(ElementType::kSeparatorBar),
                                         colour_(colour), height_(1) {}
  // A spacer; a negative height counts as 0.
  BarElement(uint32_t colour, int32_t height)
      : DisplayElement(ElementType::kSpacer), colour_(colour), height_(height < 0 ? 0 : height) {}

  bool CanTakeFocus() const override { return false; }
  uint32_t colour() const { return colour_; }
  int32_t height() const { return height_; }

 private:
  uint32_t colour_;  // COLORREF of the rows
  int32_t height_;   // rows; 1 for a separator bar
};

}  // namespace html
}  // namespace quill

#endif  // QUILL_HTML_BAR_ELEMENT_H_
