// Element type 2: text inside an open link. The builder makes one element per
// run; the layout merges adjacent runs of one link into the first of them,
// which then keeps each run's end and colour.
#ifndef QUILL_HTML_LINK_ELEMENT_H_
#define QUILL_HTML_LINK_ELEMENT_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "html/display_element.h"
#include "html/font_request.h"

namespace quill {
namespace html {

// One run of a link: text units up to `end` in `colour`.
struct LinkRun {
  size_t end = 0;               // end of the run in the link's text (exclusive)
  uint32_t colour = kNoColour;  // COLORREF of the run's FONT; kNoColour = unset
};

class LinkElement final : public DisplayElement {
 public:
  LinkElement(uint32_t colour, std::u16string target, std::u16string text, FontRequest font)
      : DisplayElement(ElementType::kLink),
        colour_(colour), target_(std::move(target)), text_(std::move(text)),
        font_(std::move(font)), runs_{LinkRun{text_.size(), colour}} {}

  bool CanTakeFocus() const override { return true; }

  uint32_t colour() const { return colour_; }
  const std::u16string& target() const { return target_; }
  const std::u16string& text() const { return text_; }
  const FontRequest& font() const { return font_; }
  // The runs in text order; the last ends at text().size().
  const std::vector<LinkRun>& runs() const { return runs_; }
  // Appends the text of a following run of the same link.
  void AppendRun(std::u16string_view text, uint32_t colour) {
    text_.append(text);
    runs_.push_back(LinkRun{text_.size(), colour});
  }

 private:
  uint32_t colour_;        // COLORREF of the enclosing FONT; kNoColour = unset
  std::u16string target_;  // HREF of the link, references decoded
  std::u16string text_;    // the runs, entities decoded
  FontRequest font_;       // font reference of the first run (underline set)
  std::vector<LinkRun> runs_;  // one per merged run; never empty
};

}  // namespace html
}  // namespace quill

#endif  // QUILL_HTML_LINK_ELEMENT_H_
