#include "html/html_painter.h"

#include <algorithm>
#include <string_view>
#include <vector>

#include "html/bar_element.h"
#include "html/image_element.h"
#include "html/labelled_block_element.h"
#include "html/link_element.h"
#include "html/text_element.h"

namespace quill {
namespace html {
namespace {

bool SpansView(ElementType type) {
  return type == ElementType::kSeparatorBar || type == ElementType::kSpacer ||
         type == ElementType::kLabelledBlock;
}

int TextWidth(const TextFont& font, std::u16string_view text) {
  std::vector<int> advances;
  font.Advances(text, &advances);
  int64_t width = 0;
  for (int a : advances) width += a;
  return static_cast<int>(std::min<int64_t>(width, gfx::kMaxCanvasSide * 4));
}

}  // namespace

gfx::Rect HtmlPainter::BoxRect(const HtmlLayout& layout, const PaintTarget& target,
                               const LayoutBox& box) const {
  const int64_t x = int64_t{layout.geometry().left_margin} + box.x - target.origin_x;
  return gfx::Rect::FromSize(x, layout.BoxTop(box) - target.origin_y, box.width, box.height);
}

gfx::Rect HtmlPainter::BoxArea(const HtmlLayout& layout, const PaintTarget& target,
                               const LayoutBox& box) const {
  gfx::Rect r = BoxRect(layout, target, box);
  if (SpansView(layout.element(box.element).type())) {
    const gfx::Rect row = gfx::Rect::FromSize(-int64_t{target.origin_x}, r.top, target.view_width,
                                              box.height);
    r.left = row.left;
    r.right = row.right;
  }
  return r;
}

void HtmlPainter::PaintArea(const HtmlLayout& layout, const PaintTarget& target,
                            const gfx::Rect& area) const {
  gfx::Canvas* canvas = target.canvas;
  canvas->PushClip(area);
  canvas->FillRect(area, colours_.window);
  const auto range = layout.BoxesBetween(target.origin_y + area.top, target.origin_y + area.bottom);
  for (size_t i = range.first; i < range.second; ++i) {
    const LayoutBox& box = layout.boxes()[i];
    if (!BoxArea(layout, target, box).Intersect(canvas->clip()).empty()) {
      PaintBox(layout, target, box);
    }
  }
  canvas->PopClip();
}

void HtmlPainter::PaintBoxes(const HtmlLayout& layout, const PaintTarget& target, size_t first,
                             size_t last) const {
  const gfx::Rect all{0, 0, target.canvas->width(), target.canvas->height()};
  for (size_t i = first; i < last && i < layout.boxes().size(); ++i) {
    const LayoutBox& box = layout.boxes()[i];
    if (!BoxArea(layout, target, box).Intersect(all).empty()) PaintBox(layout, target, box);
  }
}

void HtmlPainter::RepaintElement(const HtmlLayout& layout, const PaintTarget& target,
                                 size_t element) const {
  if (element >= layout.element_count()) return;
  for (int32_t at = layout.element(element).first_box(); at >= 0; at = layout.boxes()[at].next) {
    const LayoutBox& box = layout.boxes()[at];
    const gfx::Rect area = BoxArea(layout, target, box);
    target.canvas->PushClip(area);
    target.canvas->FillRect(area, colours_.window);
    PaintBox(layout, target, box);
    target.canvas->PopClip();
  }
}

void HtmlPainter::PaintBox(const HtmlLayout& layout, const PaintTarget& target,
                           const LayoutBox& box) const {
  const DisplayElement& element = layout.element(box.element);
  const gfx::Rect r = BoxRect(layout, target, box);
  gfx::Canvas* canvas = target.canvas;
  switch (element.type()) {
    case ElementType::kText: {
      const auto& text = static_cast<const TextElement&>(element);
      font_->Draw(canvas, r.left, r.top,
                  std::u16string_view(text.text()).substr(box.begin, box.end - box.begin),
                  OrDefault(text.colour()));
      break;
    }
    case ElementType::kLink:
      PaintLink(layout, target, box);
      break;
    case ElementType::kImage:
      PaintImage(layout, target, box);
      break;
    case ElementType::kRule: {
      const int middle = r.top + box.height / 2;
      canvas->DrawHLine(r.left, r.right - 1, middle - 1, kRuleUpperColour);
      canvas->DrawHLine(r.left, r.right - 1, middle, kRuleLowerColour);
      break;
    }
    case ElementType::kSeparatorBar:
    case ElementType::kSpacer:
      canvas->FillRect(BoxArea(layout, target, box),
                       static_cast<const BarElement&>(element).colour());
      break;
    case ElementType::kLabelledBlock:
      PaintLabelledBlock(layout, target, box);
      break;
    case ElementType::kLineBreak:
      break;
  }
}

void HtmlPainter::PaintLink(const HtmlLayout& layout, const PaintTarget& target,
                            const LayoutBox& box) const {
  const auto& link = static_cast<const LinkElement&>(layout.element(box.element));
  const gfx::Rect r = BoxRect(layout, target, box);
  const bool highlighted = link.focused() && target.view_focused;
  gfx::Color background = colours_.window;
  gfx::Color colour = box.colour == kNoColour ? kLinkColour : box.colour;
  if (highlighted) {
    background = colours_.highlight;
    colour = colours_.highlight_text;
    target.canvas->FillRect(r, background);
  }
  font_->Draw(target.canvas, r.left, r.top,
              std::u16string_view(link.text()).substr(box.begin, box.end - box.begin), colour);
  // The underline: the two bottom rows cleared, the upper one drawn.
  if (box.height < 2 || r.empty()) return;
  target.canvas->FillRect(gfx::Rect{r.left, r.bottom - 2, r.right, r.bottom}, background);
  const int inset = highlighted ? 1 : 0;
  if (r.right - 1 - inset >= r.left + inset) {
    target.canvas->DrawHLine(r.left + inset, r.right - 1 - inset, r.bottom - 2, colour);
  }
}

void HtmlPainter::PaintImage(const HtmlLayout& layout, const PaintTarget& target,
                             const LayoutBox& box) const {
  const auto& image = static_cast<const ImageElement&>(layout.element(box.element));
  const gfx::Rect r = BoxRect(layout, target, box);
  const gfx::Canvas* bitmap = image.bitmap() != nullptr ? image.bitmap() : target.placeholder;
  gfx::Canvas* canvas = target.canvas;
  if (bitmap != nullptr && !bitmap->empty()) {
    canvas->PushClip(r);
    canvas->Blit(*bitmap, r.left, r.top);
    canvas->PopClip();
  } else {
    canvas->DrawRectOutline(r, colours_.window_text);
  }
  if (image.focused()) canvas->DrawFocusRect(r);
}

void HtmlPainter::PaintLabelledBlock(const HtmlLayout& layout, const PaintTarget& target,
                                     const LayoutBox& box) const {
  const auto& block = static_cast<const LabelledBlockElement&>(layout.element(box.element));
  gfx::Canvas* canvas = target.canvas;
  const gfx::Rect area = BoxArea(layout, target, box);
  canvas->FillRect(area, block.background);
  const gfx::Rect r = BoxRect(layout, target, box);
  const int line_height = font_->line_height();
  const int text_top = r.top + std::max(block.top_space, 0);
  // The label, right-aligned inside its column.
  const gfx::Rect column = gfx::Rect::FromSize(r.left, r.top, std::max(block.label_width, 0),
                                               box.height);
  canvas->PushClip(column);
  font_->Draw(canvas, column.right - TextWidth(*font_, block.label), text_top, block.label,
              OrDefault(block.label_colour));
  canvas->PopClip();
  // The value lines beside it.
  const int value_left = column.right + std::max(block.label_gap, 0);
  const bool highlighted = block.focused() && target.view_focused;
  const gfx::Color colour = highlighted ? colours_.highlight_text : OrDefault(block.value_colour);
  canvas->PushClip(gfx::Rect{value_left, r.top, std::max(value_left, r.right), r.bottom});
  int y = text_top;
  for (const auto& [begin, end] : block.value_lines) {
    const std::u16string_view line = std::u16string_view(block.value).substr(begin, end - begin);
    if (highlighted) {
      canvas->FillRect(gfx::Rect::FromSize(value_left, y, TextWidth(*font_, line), line_height),
                       colours_.highlight);
    }
    font_->Draw(canvas, value_left, y, line, colour);
    y += line_height + std::max(block.line_gap, 0);
  }
  canvas->PopClip();
}

}  // namespace html
}  // namespace quill
