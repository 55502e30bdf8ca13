// The HTML engine on generated mail bodies (Chinese and Latin text, inline
// tags with attributes, entities, tables, images, comments, a style block):
//  - tokenizing and building a 5 MB body in the view's 512-unit chunks,
//    against Gumbo parsing the same UTF-8 bytes into its tree (and, to show
//    what the view's UTF-16 input costs, the builder fed the UTF-8 bytes);
//  - the first screen (240 x 320) of a 1 MB body and the layout of the whole
//    body, against tokenizing and building it;
//  - text drawing with the FreeType font and the glyph cache's hit rate for
//    one mail drawn from a fresh face.
// Every ratio is taken from the same iterations, on the thread's CPU time.
#include <benchmark/benchmark.h>
#include <gumbo.h>
#include <time.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "bench/first_screen.h"
#include "bench/mail_html.h"
#include "html/display_element.h"
#include "html/html_document_builder.h"
#include "html/html_layout.h"
#include "html/html_painter.h"
#include "html/html_view.h"
#include "html/text_element.h"
#include "html/text_font.h"
#include "platform/canvas.h"
#include "platform/font.h"
#include "platform/font_face.h"
#include "platform/utf.h"

namespace quill {
namespace {

using bench::MailWriter;
using bench::ThreadSeconds;

constexpr size_t kParseBytes = 5u << 20;
constexpr size_t kLayoutBytes = 1u << 20;
constexpr size_t kChunkUnits = html::HtmlView::kChunkUnits;
// The reader's screen and text, as quillpost-render lays a body out.
constexpr int kScreenWidth = 240;
constexpr int kScreenHeight = 320;
constexpr int kTextPixels = 14;
constexpr int kMargin = 7;
// Units per drawn piece of text: about one line of CJK text at kTextPixels.
constexpr size_t kDrawPieceUnits = 16;
constexpr double kMB = 1e6;


// Tokenizes and builds `body` as the view loads it, kChunkUnits per call.
void BuildChunked(std::u16string_view body, html::ElementList* out,
                  html::HtmlDocumentBuilder* builder) {
  for (size_t pos = 0; pos < body.size(); pos += kChunkUnits) {
    const std::u16string_view chunk = body.substr(pos, kChunkUnits);
    if (pos == 0) {
      builder->LoadDocument(chunk, out);
    } else {
      builder->AppendChunk(chunk, out);
    }
  }
  builder->FinishDocument(out);
}

// The same from UTF-8, kChunkUnits bytes per call: the builder without the
// conversion of the view's UTF-16 chunks.
void BuildChunkedUtf8(std::string_view body, html::ElementList* out,
                      html::HtmlDocumentBuilder* builder) {
  for (size_t pos = 0; pos < body.size(); pos += kChunkUnits) {
    const std::string_view chunk = body.substr(pos, kChunkUnits);
    if (pos == 0) {
      builder->LoadDocumentUtf8(chunk, out);
    } else {
      builder->AppendChunkUtf8(chunk, out);
    }
  }
  builder->FinishDocument(out);
}

html::LayoutGeometry ReaderGeometry() {
  html::LayoutGeometry geometry;
  geometry.left_margin = kMargin;
  geometry.line_width = kScreenWidth - 2 * kMargin;
  return geometry;
}

double HitRate(const gfx::GlyphCacheStats& before, const gfx::GlyphCacheStats& after) {
  const double hits = static_cast<double>(after.hits - before.hits);
  const double misses = static_cast<double>(after.misses - before.misses);
  return hits + misses > 0 ? hits / (hits + misses) : 0;
}

void BM_TokenizeBuild5MB(benchmark::State& state) {
  const std::string utf8 = MailWriter().Write(kParseBytes);
  const std::u16string body = Utf8ToUtf16(utf8);
  double ours = 0, gumbo = 0, from_utf8 = 0;
  size_t elements = 0;
  uint32_t dropped = 0;
  for (auto _ : state) {
    html::HtmlDocumentBuilder builder;
    html::ElementList out;
    const double t0 = ThreadSeconds();
    BuildChunked(body, &out, &builder);
    const double t1 = ThreadSeconds();
    GumboOutput* tree = gumbo_parse_with_options(&kGumboDefaultOptions, utf8.data(), utf8.size());
    const double t2 = ThreadSeconds();
    benchmark::DoNotOptimize(tree->root);
    gumbo_destroy_output(&kGumboDefaultOptions, tree);
    html::HtmlDocumentBuilder utf8_builder;
    html::ElementList utf8_out;
    const double t3 = ThreadSeconds();
    BuildChunkedUtf8(utf8, &utf8_out, &utf8_builder);
    const double t4 = ThreadSeconds();
    ours += t1 - t0;
    gumbo += t2 - t1;
    from_utf8 += t4 - t3;
    elements = out.size();
    dropped = builder.dropped_elements();
  }
  const double bytes = static_cast<double>(utf8.size()) * static_cast<double>(state.iterations());
  state.counters["MB_per_s"] = bytes / kMB / ours;
  state.counters["gumbo_MB_per_s"] = bytes / kMB / gumbo;
  state.counters["x_gumbo"] = gumbo / ours;  // goal: at least 5
  state.counters["utf8_MB_per_s"] = bytes / kMB / from_utf8;
  state.counters["utf8_x_gumbo"] = gumbo / from_utf8;
  state.counters["bytes"] = static_cast<double>(utf8.size());
  state.counters["units"] = static_cast<double>(body.size());
  state.counters["elements"] = static_cast<double>(elements);
  state.counters["dropped"] = dropped;
}
BENCHMARK(BM_TokenizeBuild5MB)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_LayoutPaint1MB(benchmark::State& state) {
  std::unique_ptr<gfx::FontFace> face;
  if (gfx::FontFace::OpenCjk(&face) != gfx::FontStatus::kOk) {
    return state.SkipWithError("no CJK font through fontconfig");
  }
  gfx::Font font(face.get(), kTextPixels, false);
  html::GfxTextFont text_font(&font);
  html::HtmlPainter painter(&text_font, html::ViewColours());
  const std::u16string body = Utf8ToUtf16(MailWriter().Write(kLayoutBytes));
  gfx::Canvas screen;
  screen.Reset(kScreenWidth, kScreenHeight);
  html::PaintTarget target;
  target.canvas = &screen;
  target.view_width = kScreenWidth;

  // The reader has drawn mails before: the cache holds the common glyphs.
  {
    html::HtmlDocumentBuilder builder;
    html::ElementList warm;
    BuildChunked(body, &warm, &builder);
    html::HtmlLayout layout(&text_font);
    layout.Reset(ReaderGeometry());
    layout.Append(&warm);
  }

  const gfx::GlyphCacheStats cache_before = face->cache_stats();
  double tokenize = 0, layout_all = 0, first_screen = 0, paint = 0;
  int64_t height = 0;
  size_t first_screen_units = 0;
  for (auto _ : state) {
    html::HtmlDocumentBuilder builder;
    html::ElementList elements;
    const double t0 = ThreadSeconds();
    BuildChunked(body, &elements, &builder);
    const double t1 = ThreadSeconds();
    html::HtmlLayout layout(&text_font);
    layout.Reset(ReaderGeometry());
    layout.Append(&elements);
    const double t2 = ThreadSeconds();
    height = layout.DocumentHeight();

    // The first screen as the view shows it.
    const double t3 = ThreadSeconds();
    double t4 = 0;
    const size_t pos = bench::EngineFirstScreen(body, &text_font, painter, target, ReaderGeometry(),
                                                kScreenHeight, [&t4] { t4 = ThreadSeconds(); });
    const double t5 = ThreadSeconds();
    benchmark::DoNotOptimize(screen.pixels());
    first_screen_units = pos;

    tokenize += t1 - t0;
    layout_all += t2 - t1;
    first_screen += t5 - t3;
    paint += t5 - t4;
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["tokenize_ms"] = tokenize / n * 1e3;
  state.counters["layout_ms"] = layout_all / n * 1e3;
  state.counters["layout_x_tokenize"] = layout_all / tokenize;  // goal: at most 3
  state.counters["first_screen_ms"] = first_screen / n * 1e3;
  state.counters["first_screen_x_tokenize"] = first_screen / tokenize;
  state.counters["paint_ms"] = paint / n * 1e3;
  state.counters["paint_x_tokenize"] = paint / tokenize;
  state.counters["first_screen_units"] = static_cast<double>(first_screen_units);
  state.counters["height_px"] = static_cast<double>(height);
  state.counters["glyph_hit_rate"] = HitRate(cache_before, face->cache_stats());
}
BENCHMARK(BM_LayoutPaint1MB)->Unit(benchmark::kMillisecond)->Iterations(10);

// Draws the pieces one under the other from the top, starting again at the
// top when the screen is full.
void DrawPieces(const std::vector<std::u16string>& pieces, const gfx::Font& font,
                gfx::Canvas* screen) {
  int y = 0;
  for (const std::u16string& piece : pieces) {
    font.DrawText(screen, kMargin, y, piece, 0x00000000);
    y += font.line_height();
    if (y + font.line_height() > kScreenHeight) y = 0;
  }
}

// Every text run of the 1 MB body, cut into pieces of about a line each, is
// drawn with a face opened for the iteration, so the hit rate and the first
// rate are those of reading that mail first after start-up; the warm rate
// draws it a second time.
void BM_TextDrawing(benchmark::State& state) {
  std::vector<std::u16string> pieces;
  double glyphs_per_mail = 0;
  {
    html::HtmlDocumentBuilder builder;
    html::ElementList elements;
    BuildChunked(Utf8ToUtf16(MailWriter().Write(kLayoutBytes)), &elements, &builder);
    for (const auto& element : elements) {
      if (element->type() != html::ElementType::kText) continue;
      const std::u16string& text = static_cast<const html::TextElement&>(*element).text();
      for (size_t pos = 0; pos < text.size();) {
        size_t n = std::min(kDrawPieceUnits, text.size() - pos);
        // A piece never ends between the halves of a surrogate pair.
        if (pos + n < text.size() && IsHighSurrogate(text[pos + n - 1])) {
          ++n;
        }
        pieces.emplace_back(text, pos, n);
        pos += n;
      }
    }
    for (const std::u16string& piece : pieces) {
      for (char16_t u : piece) glyphs_per_mail += IsLowSurrogate(u) ? 0 : 1;
    }
  }
  gfx::Canvas screen;
  screen.Reset(kScreenWidth, kScreenHeight);
  double cold = 0, warm = 0;
  gfx::GlyphCacheStats stats;
  for (auto _ : state) {
    std::unique_ptr<gfx::FontFace> face;
    if (gfx::FontFace::OpenCjk(&face) != gfx::FontStatus::kOk) {
      return state.SkipWithError("no CJK font through fontconfig");
    }
    gfx::Font font(face.get(), kTextPixels, false);
    const double t0 = ThreadSeconds();
    DrawPieces(pieces, font, &screen);
    const double t1 = ThreadSeconds();
    stats = face->cache_stats();
    // The same mail again: every glyph is cached now.
    DrawPieces(pieces, font, &screen);
    const double t2 = ThreadSeconds();
    benchmark::DoNotOptimize(screen.pixels());
    cold += t1 - t0;
    warm += t2 - t1;
  }
  const double glyphs = glyphs_per_mail * static_cast<double>(state.iterations());
  state.counters["glyphs_per_s"] = glyphs / cold;
  state.counters["warm_glyphs_per_s"] = glyphs / warm;
  state.counters["glyphs"] = glyphs_per_mail;
  state.counters["glyph_hit_rate"] = HitRate(gfx::GlyphCacheStats(), stats);
  state.counters["glyph_misses"] = static_cast<double>(stats.misses);
  state.counters["cache_flushes"] = static_cast<double>(stats.flushes);
}
BENCHMARK(BM_TextDrawing)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace
}  // namespace quill
