// The unit of a displayed mail body. The HTML builder makes the kinds 1 to 5;
// the reader makes the header kinds 6 to 8 itself. A view owns its elements in
// document order and lays them out into lines.
#ifndef QUILL_HTML_DISPLAY_ELEMENT_H_
#define QUILL_HTML_DISPLAY_ELEMENT_H_

#include <cstdint>
#include <memory>
#include <vector>

namespace quill {
namespace html {

enum class ElementType : uint32_t {
  kImage = 1,
  kLink = 2,
  kText = 3,
  kLineBreak = 4,
  kRule = 5,
  kLabelledBlock = 6,
  kSeparatorBar = 7,
  kSpacer = 8,
};

// COLORREF 0x00BBGGRR meaning "no colour set".
constexpr uint32_t kNoColour = 0xFFFFFFFF;

// A document never holds more elements than this; the builders drop (and
// count) the rest so that hostile bodies cannot grow the view without bound.
constexpr uint32_t kMaxDocumentElements = 1u << 18;

class DisplayElement {
 public:
  explicit DisplayElement(ElementType type) : type_(type) {}
  virtual ~DisplayElement() = default;

  DisplayElement(const DisplayElement&) = delete;
  DisplayElement& operator=(const DisplayElement&) = delete;

  // True when the element can take the focus (images, links, labelled blocks).
  virtual bool CanTakeFocus() const = 0;

  ElementType type() const { return type_; }

  // Set by the view on the focused element only.
  bool focused() const { return focused_; }
  void set_focused(bool focused) { focused_ = focused; }

  // Index of the element's first layout box in its view, -1 while unplaced.
  int32_t first_box() const { return first_box_; }
  void set_first_box(int32_t index) { first_box_ = index; }

 private:
  bool focused_ = false;     // focus flag, owned by the view
  ElementType type_;         // kind of the element; fixed at construction
  int32_t first_box_ = -1;   // layout reference, filled by the layout
};

// The element list of one view, in document order.
using ElementList = std::vector<std::unique_ptr<DisplayElement>>;

}  // namespace html
}  // namespace quill

#endif  // QUILL_HTML_DISPLAY_ELEMENT_H_
