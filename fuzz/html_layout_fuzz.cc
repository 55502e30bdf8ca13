// Fuzzes the HTML layout and painter over random line widths. The first two
// bytes choose the line width, the spacing and a picture size; the rest is
// the body (UTF-8), built into elements. Checks: the layout keeps its
// invariants (lines by y, boxes by line and inside their text, the document
// height, only a line's first box wider than the line) through the
// image-display switch and a picture's arrival.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "html/bar_element.h"
#include "html/html_document_builder.h"
#include "html/html_layout.h"
#include "html/html_painter.h"
#include "html/labelled_block_element.h"
#include "html/link_element.h"
#include "html/text_element.h"
#include "html/text_font.h"
#include "platform/canvas.h"
#include "platform/utf.h"

namespace {

using namespace quill;
using namespace quill::html;

// Glyphs of varying width (0 for C0 controls), 12 pixels high; drawn as blocks.
class BlockFont final : public TextFont {
 public:
  int line_height() const override { return 12; }
  void Advances(std::u16string_view text, std::vector<int>* out) const override {
    out->resize(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
      (*out)[i] = text[i] < 0x20 ? 0 : 1 + text[i] % 23;
      if (i > 0 && IsHighSurrogate(text[i - 1]) && IsLowSurrogate(text[i])) {
        (*out)[i] = 0;
      }
    }
  }
  void Draw(gfx::Canvas* canvas, int x, int y, std::u16string_view text,
            gfx::Color color) const override {
    std::vector<int> advances;
    Advances(text, &advances);
    for (int a : advances) {
      canvas->FillRect(gfx::Rect{x, y + 1, x + a - 1, y + 11}, color);
      x += a;
    }
  }
};

void Check(bool ok) {
  if (!ok) std::abort();
}

size_t TextSize(const DisplayElement& e) {
  if (e.type() == ElementType::kText) return static_cast<const TextElement&>(e).text().size();
  if (e.type() == ElementType::kLink) return static_cast<const LinkElement&>(e).text().size();
  return 0;
}

void CheckLayout(const HtmlLayout& layout) {
  const auto& lines = layout.lines();
  const auto& boxes = layout.boxes();
  const int width = layout.geometry().line_width;
  for (size_t i = 1; i < lines.size(); ++i) {
    Check(lines[i].y == lines[i - 1].y + lines[i - 1].height + layout.geometry().line_spacing);
    Check(lines[i].first_box >= lines[i - 1].first_box);
  }
  Check(layout.DocumentHeight() == (lines.empty() ? 0 : lines.back().y + lines.back().height));
  for (size_t i = 0; i < boxes.size(); ++i) {
    const LayoutBox& box = boxes[i];
    Check(box.line < lines.size() && box.element < layout.element_count());
    Check(lines[box.line].first_box <= i);
    Check(box.line + 1 == lines.size() || i < lines[box.line + 1].first_box);
    Check(box.height <= lines[box.line].height);
    const DisplayElement& e = layout.element(box.element);
    if (e.type() == ElementType::kText || e.type() == ElementType::kLink) {
      Check(box.begin < box.end && box.end <= TextSize(e));
      // Only the first box of a line may stick out (a glyph wider than the line).
      Check(box.x + box.width <= width || box.x == 0);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const int line_width = 40 + data[0] * 2;  // some widths are refused
  HtmlDocumentBuilder builder;
  ElementList elements;
  builder.LoadDocumentUtf8(std::string_view(reinterpret_cast<const char*>(data + 2), size - 2),
                           &elements);
  builder.FinishDocument(&elements);

  BlockFont font;
  HtmlLayout layout(&font);
  LayoutGeometry geometry;
  geometry.left_margin = 3;
  geometry.line_width = line_width;
  geometry.line_spacing = data[1] % 3;
  const bool accepted = layout.Reset(geometry);
  Check(accepted == (line_width >= kMinLineWidth));
  layout.Append(&elements);
  // The reader's header kinds, sized by the input too.
  auto block = std::make_unique<LabelledBlockElement>();
  block->label = u"标签";
  block->value = std::u16string(data[0] % 50, u'值');
  block->label_width = data[1];
  block->max_lines = data[0] % 5 - 1;
  block->line_gap = data[1] % 4;
  elements.push_back(std::move(block));
  elements.push_back(std::make_unique<BarElement>(0x00123456u, data[0] * 100));
  elements.push_back(std::make_unique<BarElement>(0x00654321u));
  layout.Append(&elements);
  Check(accepted || layout.element_count() == 0);
  CheckLayout(layout);
  layout.SetImageDisplay(false);
  CheckLayout(layout);
  layout.SetImageDisplay(true);
  const int image = layout.FirstImage();
  if (image >= 0) {
    auto bitmap = std::make_unique<gfx::Canvas>();
    bitmap->Reset(1 + data[0] % 300, 1 + data[1] % 50);
    Check(layout.SetImage(image, std::move(bitmap)));
    CheckLayout(layout);
  }
  (void)layout.HitTest(10, 20);
  (void)layout.NextFocusable(-1, 0, 200);
  (void)layout.PreviousFocusable(-1, 0, 200);

  gfx::Canvas canvas;
  canvas.Reset(64, 64);
  HtmlPainter painter(&font, ViewColours());
  PaintTarget target;
  target.canvas = &canvas;
  target.origin_y = data[0];
  target.view_width = 64;
  painter.PaintArea(layout, target, gfx::Rect{0, 0, 64, 64});
  return 0;
}
