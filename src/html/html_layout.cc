#include "html/html_layout.h"

#include <algorithm>

#include "html/bar_element.h"
#include "html/image_element.h"
#include "html/labelled_block_element.h"
#include "html/line_breaks.h"
#include "html/link_element.h"
#include "html/text_element.h"
#include "html/text_fit.h"

namespace quill {
namespace html {

bool HtmlLayout::Reset(const LayoutGeometry& geometry) {
  geometry_ = geometry;
  if (geometry_.line_spacing < 0) geometry_.line_spacing = 0;
  accepting_ = geometry_.line_width >= kMinLineWidth && geometry_.line_width <= kMaxLineWidth;
  elements_.clear();
  boxes_.clear();
  prev_box_.clear();
  lines_.clear();
  last_box_.clear();
  ++generation_;
  return accepting_;
}

void HtmlLayout::Append(ElementList* elements) {
  if (accepting_) {
    for (auto& element : *elements) {
      if (MergeLink(element.get())) continue;
      if (elements_.size() >= kMaxDocumentElements) break;
      elements_.push_back(std::move(element));
      last_box_.push_back(-1);
      LayOut(elements_.size() - 1);
    }
  }
  elements->clear();
}

bool HtmlLayout::MergeLink(DisplayElement* element) {
  if (element->type() != ElementType::kLink || elements_.empty() ||
      elements_.back()->type() != ElementType::kLink) {
    return false;
  }
  auto* first = static_cast<LinkElement*>(elements_.back().get());
  const auto& next = static_cast<const LinkElement&>(*element);
  if (first->target() != next.target()) return false;
  const size_t begin = first->text().size();
  first->AppendRun(next.text(), next.colour());
  Flow(elements_.size() - 1, first->text(), begin, first->text().size(),
       font_->line_height() + 2, next.colour());
  return true;
}

void HtmlLayout::LayOutAll() {
  boxes_.clear();
  prev_box_.clear();
  lines_.clear();
  for (size_t i = 0; i < elements_.size(); ++i) {
    elements_[i]->set_first_box(-1);
    last_box_[i] = -1;
  }
  for (size_t i = 0; i < elements_.size(); ++i) LayOut(i);
}

void HtmlLayout::LayOut(size_t index) {
  DisplayElement* element = elements_[index].get();
  switch (element->type()) {
    case ElementType::kText: {
      const auto& text = static_cast<const TextElement&>(*element).text();
      Flow(index, text, 0, text.size(), font_->line_height() + 1, kNoColour);
      break;
    }
    case ElementType::kLink: {
      const auto& link = static_cast<const LinkElement&>(*element);
      size_t begin = 0;
      for (const LinkRun& run : link.runs()) {
        Flow(index, link.text(), begin, run.end, font_->line_height() + 2, run.colour);
        begin = run.end;
      }
      break;
    }
    case ElementType::kLineBreak:
      if (lines_.empty()) NewLine();
      if (lines_.back().height == 0) lines_.back().height = kEmptyLineHeight;
      NewLine();
      break;
    case ElementType::kImage:
      if (image_display_) LayOutImage(index);
      break;
    case ElementType::kRule:
      LayOutBlock(index, kRuleHeight);
      break;
    case ElementType::kSeparatorBar:
      LayOutBlock(index, 1);
      break;
    case ElementType::kSpacer:
      LayOutBlock(index, std::min(static_cast<const BarElement&>(*element).height(),
                                  kMaxSpacerHeight));
      break;
    case ElementType::kLabelledBlock:
      LayOutLabelledBlock(index);
      break;
  }
}

void HtmlLayout::Measure(std::u16string_view text) {
  font_->Advances(text, &advances_);
  PrefixSums(advances_, &sums_);
}

void HtmlLayout::Flow(size_t index, std::u16string_view text, size_t begin, size_t end,
                      int height, uint32_t colour) {
  if (begin >= end) return;
  const std::u16string_view run = text.substr(begin, end - begin);
  Measure(run);
  if (lines_.empty()) NewLine();
  size_t pos = 0;
  while (pos < run.size()) {
    const LayoutLine& line = lines_.back();
    const bool empty = CurrentLineEmpty();
    size_t taken = FitUnits(sums_, run, pos, run.size(),
                            geometry_.line_width - line.used_width, empty);
    if (taken > 0 && pos + taken < run.size() && IsClosingPunctuation(run[pos + taken])) {
      const size_t earlier = BreakBeforeClosing(run, pos, taken);
      // A line that holds nothing else keeps what fits: moving the break
      // would leave it empty.
      if (earlier > 0 || !empty) taken = earlier;
    }
    if (taken == 0) {
      // Closing punctuation that fits nowhere on this line takes the line's
      // last characters down with it.
      if (empty || !IsClosingPunctuation(run[pos]) || !CarryLineEnd()) NewLine();
      continue;
    }
    LayoutBox box;
    box.x = line.used_width;
    box.width = static_cast<int32_t>(sums_[pos + taken] - sums_[pos]);
    box.height = height;
    box.begin = static_cast<uint32_t>(begin + pos);
    box.end = static_cast<uint32_t>(begin + pos + taken);
    box.colour = colour;
    AddBox(index, box);
    pos += taken;
    // What is left did not fit, or was held back from ending this line.
    if (pos < run.size()) NewLine();
  }
}

std::u16string_view HtmlLayout::FlowedText(uint32_t element) const {
  const DisplayElement& e = *elements_[element];
  if (e.type() == ElementType::kText) return static_cast<const TextElement&>(e).text();
  if (e.type() == ElementType::kLink) return static_cast<const LinkElement&>(e).text();
  return {};
}

int64_t HtmlLayout::Width(std::u16string_view text) {
  font_->Advances(text, &carry_advances_);
  int64_t width = 0;
  for (int a : carry_advances_) width += a;
  return width;
}

void HtmlLayout::PopBox() {
  const LayoutBox& box = boxes_.back();
  const int32_t prev = prev_box_.back();
  if (prev < 0) {
    elements_[box.element]->set_first_box(-1);
  } else {
    boxes_[prev].next = -1;
  }
  last_box_[box.element] = prev;
  boxes_.pop_back();
  prev_box_.pop_back();
}

bool HtmlLayout::CarryLineEnd() {
  if (lines_.empty() || CurrentLineEmpty()) return false;
  const uint32_t first = lines_.back().first_box;
  // The last character of the line that is neither closing punctuation nor
  // the line's first character: the carry starts there.
  size_t from_box = boxes_.size();
  size_t cut = 0;
  for (size_t i = boxes_.size(); i-- > first && from_box == boxes_.size();) {
    const LayoutBox& box = boxes_[i];
    const std::u16string_view text = FlowedText(box.element);
    if (text.empty()) return false;  // only text and links share a line
    const size_t lowest = i == first ? box.begin + 1 : box.begin;
    for (size_t at = box.end; at-- > lowest;) {
      if (!IsClosingPunctuation(text[at]) && !InsidePair(text, at)) {
        from_box = i;
        cut = at;
        break;
      }
    }
  }
  if (from_box == boxes_.size()) return false;
  // The pieces that go down, in order: the end of from_box, then every box
  // after it. Boxes are taken off the end, so every chain stays in order.
  struct Piece {
    uint32_t element, begin, end;  // units [begin, end) of the element's text
    int32_t height;
    uint32_t colour;
  };
  std::vector<Piece> pieces;
  for (size_t i = from_box; i < boxes_.size(); ++i) {
    const LayoutBox& box = boxes_[i];
    pieces.push_back({box.element, i == from_box ? static_cast<uint32_t>(cut) : box.begin,
                      box.end, box.height, box.colour});
  }
  while (boxes_.size() > from_box + 1) PopBox();
  if (cut == boxes_.back().begin) {
    PopBox();
  } else {
    LayoutBox& kept = boxes_.back();
    kept.end = static_cast<uint32_t>(cut);
    kept.width = static_cast<int32_t>(
        Width(FlowedText(kept.element).substr(kept.begin, kept.end - kept.begin)));
  }
  LayoutLine& line = lines_.back();
  line.used_width = 0;
  line.height = 0;
  for (size_t i = line.first_box; i < boxes_.size(); ++i) {
    line.used_width = boxes_[i].x + boxes_[i].width;
    line.height = std::max(line.height, boxes_[i].height);
  }
  ++generation_;  // boxes already placed changed
  NewLine();
  for (const Piece& piece : pieces) {
    LayoutBox box;
    box.x = lines_.back().used_width;
    box.width = static_cast<int32_t>(
        Width(FlowedText(piece.element).substr(piece.begin, piece.end - piece.begin)));
    box.height = piece.height;
    box.begin = piece.begin;
    box.end = piece.end;
    box.colour = piece.colour;
    AddBox(piece.element, box);
  }
  return true;
}

void HtmlLayout::LayOutBlock(size_t index, int height) {
  NewLineUnlessEmpty();
  LayoutBox box;
  box.width = geometry_.line_width;
  box.height = std::max(height, 0);
  AddBox(index, box);
  NewLine();
}

void HtmlLayout::LayOutImage(size_t index) {
  auto* image = static_cast<ImageElement*>(elements_[index].get());
  const bool has_bitmap = image->bitmap() != nullptr;
  if (has_bitmap) {
    image->set_size(image->bitmap()->width(), image->bitmap()->height());
  } else {
    image->set_size(placeholder_width_, placeholder_height_);
  }
  NewLineUnlessEmpty();
  LayoutBox box;
  box.width = std::min(std::max(image->width(), 0), geometry_.line_width);
  box.height = std::max(image->height(), 0);
  box.x = (geometry_.line_width - box.width) / 2;
  box.sized_by_bitmap = has_bitmap;
  AddBox(index, box);
  NewLine();
}

void HtmlLayout::LayOutLabelledBlock(size_t index) {
  auto* block = static_cast<LabelledBlockElement*>(elements_[index].get());
  NewLineUnlessEmpty();
  const int line_height = font_->line_height();
  block->value_lines.clear();
  int64_t text_height = line_height;
  if (!block->value.empty()) {
    // The value column keeps room for at least one character per line.
    const int64_t room = std::max<int64_t>(
        1, int64_t{geometry_.line_width} - block->label_width - block->label_gap);
    const size_t max_lines = static_cast<size_t>(std::max(block->max_lines, 1));
    Measure(block->value);
    size_t pos = 0;
    while (pos < block->value.size() && block->value_lines.size() < max_lines) {
      size_t taken = FitUnits(sums_, block->value, pos, block->value.size(), room, true);
      if (pos + taken < block->value.size() && IsClosingPunctuation(block->value[pos + taken])) {
        const size_t earlier = BreakBeforeClosing(block->value, pos, taken);
        if (earlier > 0) taken = earlier;
      }
      block->value_lines.emplace_back(pos, pos + taken);
      pos += taken;
    }
    const int64_t n = static_cast<int64_t>(block->value_lines.size());
    text_height = n * line_height + (n - 1) * std::max(block->line_gap, 0);
  }
  LayoutBox box;
  box.width = geometry_.line_width;
  box.height = static_cast<int32_t>(std::min<int64_t>(
      text_height + std::max(block->top_space, 0) + std::max(block->bottom_space, 0),
      kMaxSpacerHeight));
  AddBox(index, box);
  NewLine();
}

void HtmlLayout::NewLine() {
  LayoutLine line;
  if (lines_.empty()) {
    line.y = geometry_.top_margin;
  } else {
    const LayoutLine& last = lines_.back();
    line.y = last.y + last.height + geometry_.line_spacing;
  }
  line.first_box = static_cast<uint32_t>(boxes_.size());
  lines_.push_back(line);
}

bool HtmlLayout::CurrentLineEmpty() const {
  return lines_.empty() || lines_.back().first_box == boxes_.size();
}

void HtmlLayout::NewLineUnlessEmpty() {
  if (!CurrentLineEmpty()) NewLine();
  if (lines_.empty()) NewLine();
}

void HtmlLayout::AddBox(size_t index, const LayoutBox& box_in) {
  LayoutBox box = box_in;
  box.element = static_cast<uint32_t>(index);
  box.line = static_cast<uint32_t>(lines_.size() - 1);
  LayoutLine& line = lines_.back();
  line.used_width = static_cast<int32_t>(
      std::min<int64_t>(int64_t{box.x} + box.width, kMaxLineWidth * 2));
  line.height = std::max(line.height, box.height);
  const int32_t at = static_cast<int32_t>(boxes_.size());
  boxes_.push_back(box);
  prev_box_.push_back(last_box_[index]);
  if (last_box_[index] < 0) {
    elements_[index]->set_first_box(at);
  } else {
    boxes_[last_box_[index]].next = at;
  }
  last_box_[index] = at;
}

bool HtmlLayout::SetImage(size_t index, std::unique_ptr<gfx::Canvas> bitmap) {
  if (index >= elements_.size() || bitmap == nullptr ||
      elements_[index]->type() != ElementType::kImage) {
    return false;
  }
  auto* image = static_cast<ImageElement*>(elements_[index].get());
  image->set_size(bitmap->width(), bitmap->height());
  image->set_bitmap(std::move(bitmap));
  ++generation_;
  const int32_t at = image->first_box();
  if (at < 0) return true;
  LayoutBox& box = boxes_[at];
  box.width = std::min(image->width(), geometry_.line_width);
  box.height = image->height();
  box.x = (geometry_.line_width - box.width) / 2;
  box.sized_by_bitmap = true;
  LayoutLine& line = lines_[box.line];
  line.used_width = box.x + box.width;
  const int64_t change = int64_t{box.height} - line.height;
  line.height = box.height;
  if (change != 0) {
    for (size_t i = box.line + 1; i < lines_.size(); ++i) lines_[i].y += change;
  }
  return true;
}

void HtmlLayout::SetImageDisplay(bool on) {
  if (on == image_display_) return;
  image_display_ = on;
  ++generation_;
  LayOutAll();
}

void HtmlLayout::SetPlaceholderSize(int width, int height) {
  placeholder_width_ = std::max(width, 0);
  placeholder_height_ = std::max(height, 0);
}

int64_t HtmlLayout::DocumentHeight() const {
  if (lines_.empty()) return 0;
  return lines_.back().y + lines_.back().height;
}

std::pair<size_t, size_t> HtmlLayout::BoxesBetween(int64_t top, int64_t bottom) const {
  // Both the tops and the bottoms of the lines are non-decreasing.
  const auto first = std::partition_point(lines_.begin(), lines_.end(), [top](const LayoutLine& l) {
    return l.y + l.height <= top;
  });
  const auto past = std::partition_point(first, lines_.end(), [bottom](const LayoutLine& l) {
    return l.y < bottom;
  });
  if (first == past) return {0, 0};
  const size_t begin = first->first_box;
  const size_t end = past == lines_.end() ? boxes_.size() : past->first_box;
  return {begin, end};
}

int HtmlLayout::HitTest(int x, int64_t y) const {
  // The only line that can hold y is the last one starting at or above it.
  const auto after = std::partition_point(lines_.begin(), lines_.end(),
                                          [y](const LayoutLine& l) { return l.y <= y; });
  if (after == lines_.begin()) return -1;
  const size_t line_index = static_cast<size_t>(after - lines_.begin()) - 1;
  const LayoutLine& line = lines_[line_index];
  const size_t end =
      line_index + 1 < lines_.size() ? lines_[line_index + 1].first_box : boxes_.size();
  const int64_t dx = int64_t{x} - geometry_.left_margin;
  for (size_t i = line.first_box; i < end; ++i) {
    const LayoutBox& box = boxes_[i];
    if (dx >= box.x && dx < int64_t{box.x} + box.width && y < line.y + box.height) {
      return static_cast<int>(box.element);
    }
  }
  return -1;
}

bool HtmlLayout::AllInside(size_t index, int64_t top, int64_t bottom) const {
  int32_t at = elements_[index]->first_box();
  if (at < 0) return false;
  for (; at >= 0; at = boxes_[at].next) {
    const LayoutBox& box = boxes_[at];
    const int64_t box_top = BoxTop(box);
    if (box_top < top || box_top + box.height > bottom) return false;
  }
  return true;
}

int HtmlLayout::NextFocusable(int from, int64_t top, int64_t bottom) const {
  const int count = static_cast<int>(elements_.size());
  int start = from < 0 || from >= count ? 0 : from + 1;
  // An element before the one owning the band's first box starts above it.
  const auto band = BoxesBetween(top, bottom);
  if (band.first == band.second) return -1;
  start = std::max(start, static_cast<int>(boxes_[band.first].element));
  for (int i = start; i < count; ++i) {
    const int32_t first = elements_[i]->first_box();
    // First boxes follow document order: once one starts below the band,
    // every later element does too.
    if (first >= 0 && BoxTop(boxes_[first]) >= bottom) break;
    if (elements_[i]->CanTakeFocus() && AllInside(i, top, bottom)) return i;
  }
  return -1;
}

int HtmlLayout::PreviousFocusable(int from, int64_t top, int64_t bottom) const {
  const int count = static_cast<int>(elements_.size());
  int start = from < 0 || from >= count ? count - 1 : from - 1;
  // An element after the one owning the band's last box starts below it.
  const auto band = BoxesBetween(top, bottom);
  if (band.first == band.second) return -1;
  start = std::min(start, static_cast<int>(boxes_[band.second - 1].element));
  for (int i = start; i >= 0; --i) {
    const int32_t first = elements_[i]->first_box();
    // Once an element starts above the band, every earlier one does too.
    if (first >= 0 && BoxTop(boxes_[first]) < top) break;
    if (elements_[i]->CanTakeFocus() && AllInside(i, top, bottom)) return i;
  }
  return -1;
}

int HtmlLayout::NextImage(int from) const {
  const int count = static_cast<int>(elements_.size());
  for (int i = from < 0 ? 0 : from + 1; i < count; ++i) {
    if (elements_[i]->type() == ElementType::kImage) return i;
  }
  return -1;
}

int64_t HtmlLayout::ElementTop(size_t index) const {
  if (index >= elements_.size()) return 0;
  const int32_t first = elements_[index]->first_box();
  return first < 0 ? 0 : BoxTop(boxes_[first]);
}

}  // namespace html
}  // namespace quill
