// One scalable font file opened with FreeType, with the cache of the glyphs
// rendered from it. The program uses one face (a CJK font found through
// fontconfig) at several pixel sizes, regular and synthetic bold; `Font`
// is the handle that draws and measures text with it.
//
// Thread safety: none. A face and its cache belong to the UI thread.
#ifndef QUILL_PLATFORM_FONT_FACE_H_
#define QUILL_PLATFORM_FONT_FACE_H_

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace quill {
namespace gfx {

enum class FontStatus {
  kOk,
  kNotFound,    // fontconfig knows no font with CJK coverage, or the file is missing
  kUnreadable,  // FreeType could not open the file as a scalable font
};

// Pixel sizes outside [kMinFontPixels, kMaxFontPixels] are clamped into it.
constexpr int kMinFontPixels = 4;
constexpr int kMaxFontPixels = 256;
// The glyph cache is emptied when it would grow beyond this many glyphs,
// which bounds it (a few MiB at reading sizes) whatever text is shown.
constexpr size_t kMaxCachedGlyphs = 4096;

// A rendered glyph: an 8-bit coverage bitmap placed relative to the pen
// position on the baseline.
struct Glyph {
  int advance = 0;               // pixels from this pen position to the next
  int left = 0;                  // x of the bitmap's first column, from the pen
  int top = 0;                   // rows from the bitmap's first row up to the baseline
  int width = 0;                 // bitmap columns
  int height = 0;                // bitmap rows
  std::vector<uint8_t> coverage;  // width * height values, rows width apart
};

// Vertical metrics of one pixel size, in whole pixels.
struct FontMetrics {
  int ascent = 0;               // rows from a line's top down to the baseline
  int descent = 0;              // rows below the baseline
  int line_height = 0;          // ascent + descent: the height of one text line
  int underline_row = 0;        // first underline row, from the line's top
  int underline_thickness = 1;  // underline rows (at least 1)
};

// Glyph cache counters since the face was opened.
struct GlyphCacheStats {
  uint64_t hits = 0;     // lookups answered from the cache
  uint64_t misses = 0;   // lookups that rendered a glyph
  uint64_t flushes = 0;  // times the full cache was emptied
  size_t entries = 0;    // glyphs cached now
};

class FontFace {
 public:
  ~FontFace();
  FontFace(const FontFace&) = delete;
  FontFace& operator=(const FontFace&) = delete;

  // Asks fontconfig for a font covering Chinese text (the family
  // "WenQuanYi Micro Hei" first). On success sets *path and *index (the face
  // inside a collection file).
  static FontStatus FindCjkFont(std::string* path, int* index);

  // Opens face `index` of the font file at path.
  static FontStatus Open(const std::string& path, int index, std::unique_ptr<FontFace>* out);

  // FindCjkFont followed by Open.
  static FontStatus OpenCjk(std::unique_ptr<FontFace>* out);

  // The glyph of code point cp at a pixel size, regular or synthetic bold.
  // A code point the font lacks gives its missing-glyph box; a C0 control
  // character gives an empty glyph of advance 0. The reference stays valid
  // until the next GetGlyph call.
  const Glyph& GetGlyph(int pixel_size, bool bold, char32_t cp);

  FontMetrics Metrics(int pixel_size) const;

  const GlyphCacheStats& cache_stats() const { return stats_; }

 private:
  struct Impl;
  explicit FontFace(std::unique_ptr<Impl> impl);

  // Renders a glyph (never fails: errors give an empty glyph).
  Glyph Render(int pixel_size, bool bold, char32_t cp);
  // Selects the pixel size on the FreeType face if it is not current.
  bool SelectSize(int pixel_size) const;

  std::unique_ptr<Impl> impl_;                 // FreeType library and face
  std::unordered_map<uint64_t, Glyph> cache_;  // key: size << 32 | bold << 31 | cp
  GlyphCacheStats stats_;
};

}  // namespace gfx
}  // namespace quill

#endif  // QUILL_PLATFORM_FONT_FACE_H_
