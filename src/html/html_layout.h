// Places display elements into lines and boxes: no CSS, no word wrapping;
// every element goes in document order on the current line or a new one.
//
// Lines are ordered by y and boxes by line, so a band of the document or a
// point is found with binary searches. A text box refers to a range of its
// element's text. A run is measured once (prefix sums of its advances) and
// each line is fitted with a binary search over them: laying out a body is
// linear in its size.
//
// Adjacent links with the same target are one element: a link run that
// follows one with an equal target is appended to it (text and boxes), so a
// link cut by a chunk end or a FONT change is one focus stop.
//
// Closing punctuation never starts a line (see line_breaks.h): a break
// before it moves back, and a run that begins with it carries the end of
// the line before down with it (the only change to boxes already placed
// while appending; it counts as a new generation).
//
// Document coordinates are 64-bit: a document of many tall images may be
// higher than an int can count.
//
// Not thread-safe: the owner (the view, on the UI thread) serialises calls.
#ifndef QUILL_HTML_HTML_LAYOUT_H_
#define QUILL_HTML_HTML_LAYOUT_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

#include "html/display_element.h"
#include "html/text_font.h"
#include "platform/canvas.h"

namespace quill {
namespace html {

// The narrowest and widest line widths a document is laid out at.
constexpr int kMinLineWidth = 51;
constexpr int kMaxLineWidth = 1 << 15;
// Height of a line that holds nothing but a line break.
constexpr int kEmptyLineHeight = 16;
// Height of a horizontal rule's box.
constexpr int kRuleHeight = 20;
// The tallest spacer; taller ones are cut to this.
constexpr int kMaxSpacerHeight = 1 << 13;

struct LayoutGeometry {
  int left_margin = 0;   // x of every line in the view
  int top_margin = 0;    // document y of the first line
  int line_width = 0;    // room for content, kMinLineWidth..kMaxLineWidth
  int line_spacing = 0;  // vertical gap between lines; negative counts as 0
};

struct LayoutLine {
  int64_t y = 0;           // document y of the line's top
  int32_t height = 0;      // tallest box so far
  int32_t used_width = 0;  // x where the next box goes
  uint32_t first_box = 0;  // index of the line's first box (boxes are by line)
};

struct LayoutBox {
  int32_t x = 0;                 // x inside the line
  int32_t width = 0;             // pixels
  int32_t height = 0;            // pixels
  uint32_t element = 0;          // index of the element in the element list
  uint32_t line = 0;             // index of the line
  int32_t next = -1;             // next box of the same element; -1 = last
  uint32_t begin = 0;            // text and link boxes: first unit of the element's text
  uint32_t end = 0;              // text and link boxes: end of the range (exclusive)
  uint32_t colour = kNoColour;   // link boxes: COLORREF of their run
  bool sized_by_bitmap = false;  // image boxes: sized by the element's bitmap
};

class HtmlLayout {
 public:
  // Size an image takes before its picture arrives, without a placeholder.
  static constexpr int kPlaceholderWidth = 40;
  static constexpr int kPlaceholderHeight = 30;

  // `font` measures every run; borrowed, must outlive the layout.
  explicit HtmlLayout(const TextFont* font) : font_(font) {}

  // Drops every element and takes new geometry. Returns false, and refuses
  // every Append until the next Reset, when the line width is out of range.
  bool Reset(const LayoutGeometry& geometry);
  bool accepting() const { return accepting_; }
  const LayoutGeometry& geometry() const { return geometry_; }

  // Moves the elements to the end of the document (leaving *elements empty)
  // and lays them out. Does nothing when the layout refuses the document.
  // Elements beyond kMaxDocumentElements are dropped.
  void Append(ElementList* elements);

  // Gives image element `index` its picture (ownership taken, the previous
  // one deleted): its box takes the picture's size (no wider than the line),
  // re-centred, and every later line moves by the change of height. False
  // for another kind, an index out of range or a null bitmap.
  bool SetImage(size_t index, std::unique_ptr<gfx::Canvas> bitmap);

  // With image display off, images take no space. A change lays the whole
  // document out again.
  void SetImageDisplay(bool on);
  bool image_display() const { return image_display_; }
  // Size of images still without a picture (kPlaceholder* by default); takes
  // effect for images laid out afterwards.
  void SetPlaceholderSize(int width, int height);

  // top margin + all line heights + the spacing between them; 0 without lines.
  int64_t DocumentHeight() const;

  const ElementList& elements() const { return elements_; }
  size_t element_count() const { return elements_.size(); }
  const DisplayElement& element(size_t index) const { return *elements_[index]; }
  DisplayElement* mutable_element(size_t index) { return elements_[index].get(); }
  const std::vector<LayoutBox>& boxes() const { return boxes_; }
  const std::vector<LayoutLine>& lines() const { return lines_; }
  // Counts every change that moved or removed boxes already placed (Reset,
  // SetImage, SetImageDisplay, a carried line end); appending boxes does
  // not count.
  uint64_t generation() const { return generation_; }

  // Document y of a box's top.
  int64_t BoxTop(const LayoutBox& box) const { return lines_[box.line].y; }
  // [first, last) of the boxes on lines that meet document rows [top, bottom).
  std::pair<size_t, size_t> BoxesBetween(int64_t top, int64_t bottom) const;
  // Index of the element whose box contains the point (x in view
  // coordinates, left margin included; y in document coordinates), or -1.
  int HitTest(int x, int64_t y) const;
  // The nearest focusable element after (before) `from` that has boxes, all
  // inside document rows [top, bottom); -1 when none. A `from` out of range
  // starts the search at the first (last) element.
  int NextFocusable(int from, int64_t top, int64_t bottom) const;
  int PreviousFocusable(int from, int64_t top, int64_t bottom) const;
  // Image elements in document order: the first, and the next after `from`;
  // -1 when none.
  int FirstImage() const { return NextImage(-1); }
  int NextImage(int from) const;
  // Document y of the element's first box; 0 without a box.
  int64_t ElementTop(size_t index) const;

 private:
  void LayOut(size_t index);
  // Flows units [begin, end) of text, an element's text, as boxes of `height`.
  void Flow(size_t index, std::u16string_view text, size_t begin, size_t end, int height,
            uint32_t colour);
  // One box across the line, alone on its line.
  // Moves the end of the current line to a new line, from its last
  // character that is not closing punctuation, so that the closing
  // punctuation flowed next does not start a line. False, with nothing
  // changed, when the line holds other than text and links or no such
  // character (the line keeps its first one).
  bool CarryLineEnd();
  // The text of a text or link element; empty for other kinds.
  std::u16string_view FlowedText(uint32_t element) const;
  // Sum of the advances of text.
  int64_t Width(std::u16string_view text);
  // Takes the last box off, unlinking it from its element's chain.
  void PopBox();
  void LayOutBlock(size_t index, int height);
  void LayOutImage(size_t index);
  void LayOutLabelledBlock(size_t index);
  // Merges a link run into the previous element when it is a link with the
  // same target; true when merged.
  bool MergeLink(DisplayElement* element);
  void LayOutAll();
  void NewLine();
  void NewLineUnlessEmpty();
  bool CurrentLineEmpty() const;
  void AddBox(size_t index, const LayoutBox& box);
  bool AllInside(size_t index, int64_t top, int64_t bottom) const;
  // Measures text into sums_ (prefix sums of its advances).
  void Measure(std::u16string_view text);

  const TextFont* font_;           // borrowed
  LayoutGeometry geometry_;        // set by Reset
  bool accepting_ = false;         // the geometry is usable
  ElementList elements_;           // document order
  std::vector<LayoutBox> boxes_;   // by line, then x
  std::vector<LayoutLine> lines_;  // by y; the last is the current line
  std::vector<int32_t> last_box_;  // per element: its last box, -1 = none
  std::vector<int32_t> prev_box_;  // per box: the previous box of its element, -1 = none
  bool image_display_ = true;      // images take space
  int placeholder_width_ = kPlaceholderWidth;    // image width before its picture
  int placeholder_height_ = kPlaceholderHeight;  // image height before its picture
  uint64_t generation_ = 0;        // see generation()
  std::vector<int> advances_;      // scratch: advances of the text being measured
  std::vector<int64_t> sums_;      // scratch: prefix sums of advances_
  std::vector<int> carry_advances_;  // scratch of Width (advances_ may be in use)
};

}  // namespace html
}  // namespace quill

#endif  // QUILL_HTML_HTML_LAYOUT_H_
