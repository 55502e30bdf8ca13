// Element type 4: ends the current line.
#ifndef QUILL_HTML_LINE_BREAK_ELEMENT_H_
#define QUILL_HTML_LINE_BREAK_ELEMENT_H_

#include "html/display_element.h"

namespace quill {
namespace html {

class LineBreakElement final : public DisplayElement {
 public:
  LineBreakElement() : DisplayElement(ElementType::kLineBreak) {}
  bool CanTakeFocus() const override { return false; }
};

}  // namespace html
}  // namespace quill

#endif  // QUILL_HTML_LINE_BREAK_ELEMENT_H_
