// The HTML engine's own first screen of a body, the baseline the reader's
// first screen is measured against: 512-unit chunks parsed and laid out, as
// the view loads them, until they fill the screen's height, then painted.
#ifndef QUILL_BENCH_FIRST_SCREEN_H_
#define QUILL_BENCH_FIRST_SCREEN_H_

#include <cstddef>
#include <functional>
#include <string_view>

#include "html/html_document_builder.h"
#include "html/html_layout.h"
#include "html/html_painter.h"
#include "html/html_view.h"

namespace quill {
namespace bench {

// Lays out the first screen of body and paints rows [0, height) onto
// target; laid_out is called between the layout and the painting. Returns
// the units parsed.
inline size_t EngineFirstScreen(std::u16string_view body, const html::TextFont* font,
                                const html::HtmlPainter& painter, const html::PaintTarget& target,
                                const html::LayoutGeometry& geometry, int height,
                                const std::function<void()>& laid_out) {
  html::HtmlDocumentBuilder builder;
  html::HtmlLayout layout(font);
  layout.Reset(geometry);
  size_t pos = 0;
  while (pos < body.size() && layout.DocumentHeight() < height) {
    html::ElementList fresh;
    const std::u16string_view chunk = body.substr(pos, html::HtmlView::kChunkUnits);
    if (pos == 0) {
      builder.LoadDocument(chunk, &fresh);
    } else {
      builder.AppendChunk(chunk, &fresh);
    }
    pos += chunk.size();
    if (pos == body.size()) builder.FinishDocument(&fresh);
    layout.Append(&fresh);
  }
  if (laid_out) laid_out();
  painter.PaintArea(layout, target, gfx::Rect{0, 0, target.canvas->width(), height});
  return pos;
}

}  // namespace bench
}  // namespace quill

#endif  // QUILL_BENCH_FIRST_SCREEN_H_
