// Element type 2: a run of text inside an open link.
#ifndef QUILL_HTML_LINK_ELEMENT_H_
#define QUILL_HTML_LINK_ELEMENT_H_

#include <cstdint>
#include <string>
#include <utility>

#include "html/display_element.h"
#include "html/font_request.h"

namespace quill {
namespace html {

class LinkElement final : public DisplayElement {
 public:
  LinkElement(uint32_t colour, std::u16string target, std::u16string text, FontRequest font)
      : DisplayElement(ElementType::kLink),
        colour_(colour), target_(std::move(target)), text_(std::move(text)),
        font_(std::move(font)) {}

  bool CanTakeFocus() const override { return true; }

  uint32_t colour() const { return colour_; }
  const std::u16string& target() const { return target_; }
  const std::u16string& text() const { return text_; }
  // The layout merges adjacent runs of one link into the first of them.
  std::u16string* mutable_text() { return &text_; }
  const FontRequest& font() const { return font_; }

 private:
  uint32_t colour_;        // COLORREF of the enclosing FONT; kNoColour = unset
  std::u16string target_;  // HREF of the link, references decoded
  std::u16string text_;    // the run, entities decoded
  FontRequest font_;       // font reference of the run (underline set)
};

}  // namespace html
}  // namespace quill

#endif  // QUILL_HTML_LINK_ELEMENT_H_
