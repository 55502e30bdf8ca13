// Element type 6: a header field of the reader, a label column on the left
// and a value wrapped into at most a few lines on the right.
#ifndef QUILL_HTML_LABELLED_BLOCK_ELEMENT_H_
#define QUILL_HTML_LABELLED_BLOCK_ELEMENT_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "html/display_element.h"

namespace quill {
namespace html {

class LabelledBlockElement final : public DisplayElement {
 public:
  LabelledBlockElement() : DisplayElement(ElementType::kLabelledBlock) {}
  bool CanTakeFocus() const override { return true; }

  uint32_t background = 0x00FFFFFF;  // COLORREF filled across the view
  uint32_t label_colour = 0;         // COLORREF of the label
  uint32_t value_colour = 0;         // COLORREF of the value
  std::u16string label;              // label text, right-aligned in its column
  std::u16string value;              // value text, wrapped
  std::u16string target;             // told to tap listeners
  int32_t label_width = 45;          // label column width
  int32_t line_gap = 0;              // gap between wrapped value lines
  int32_t max_lines = 2;             // most value lines shown (at least 1 is used)
  int32_t top_space = 3;             // space above the text
  int32_t bottom_space = 3;          // space below the text
  int32_t label_gap = 3;             // gap between the label column and the value

  // Set by the layout: [begin, end) of value for each shown value line.
  std::vector<std::pair<size_t, size_t>> value_lines;
};

}  // namespace html
}  // namespace quill

#endif  // QUILL_HTML_LABELLED_BLOCK_ELEMENT_H_
