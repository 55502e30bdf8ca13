// Element type 3: a run of text.
#ifndef QUILL_HTML_TEXT_ELEMENT_H_
#define QUILL_HTML_TEXT_ELEMENT_H_

#include <cstdint>
#include <string>
#include <utility>

#include "html/display_element.h"
#include "html/font_request.h"

namespace quill {
namespace html {

class TextElement final : public DisplayElement {
 public:
  TextElement(std::u16string text, uint32_t colour, FontRequest font)
      : DisplayElement(ElementType::kText),
        text_(std::move(text)), colour_(colour), font_(std::move(font)) {}

  bool CanTakeFocus() const override { return false; }

  const std::u16string& text() const { return text_; }
  uint32_t colour() const { return colour_; }
  const FontRequest& font() const { return font_; }

 private:
  std::u16string text_;  // the run, entities decoded
  uint32_t colour_;      // COLORREF of the enclosing FONT; kNoColour = unset
  FontRequest font_;     // font reference of the run
};

}  // namespace html
}  // namespace quill

#endif  // QUILL_HTML_TEXT_ELEMENT_H_
