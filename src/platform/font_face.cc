#include "platform/font_face.h"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H

#include <algorithm>
#include <cmath>
#include <cstring>

namespace quill {
namespace gfx {

namespace {

constexpr char kPreferredFamily[] = "WenQuanYi Micro Hei";
constexpr char32_t kProbeCodePoint = 0x4E2D;  // 中: a font lacking it is no CJK font

int ClampSize(int pixel_size) { return std::clamp(pixel_size, kMinFontPixels, kMaxFontPixels); }

// Whole pixels of a 26.6 value, rounded up.
int CeilPixels(FT_Pos v) { return static_cast<int>((v + 63) >> 6); }

// Synthetic bold widens each stem by whole pixels (about 1/24 of the size,
// at least one) so advances stay integral and prefix sums exact.
int BoldExtraPixels(int pixel_size) { return std::max(1, (pixel_size + 12) / 24); }

}  // namespace

struct FontFace::Impl {
  FT_Library library = nullptr;
  FT_Face face = nullptr;
  mutable int current_size = 0;  // pixel size last set on face, 0 = none
};

FontFace::FontFace(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

FontFace::~FontFace() {
  if (impl_->face != nullptr) FT_Done_Face(impl_->face);
  if (impl_->library != nullptr) FT_Done_FreeType(impl_->library);
}

FontStatus FontFace::FindCjkFont(std::string* path, int* index) {
  if (FcInit() == FcFalse) return FontStatus::kNotFound;
  FcPattern* pattern = FcPatternCreate();
  if (pattern == nullptr) return FontStatus::kNotFound;
  FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(kPreferredFamily));
  FcPatternAddString(pattern, FC_LANG, reinterpret_cast<const FcChar8*>("zh-cn"));
  FcPatternAddBool(pattern, FC_SCALABLE, FcTrue);
  FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
  FcDefaultSubstitute(pattern);
  FcResult result = FcResultNoMatch;
  FcPattern* match = FcFontMatch(nullptr, pattern, &result);
  FcPatternDestroy(pattern);
  if (match == nullptr) return FontStatus::kNotFound;

  // fontconfig always answers with some font; accept it only when it really
  // covers Chinese text.
  FontStatus status = FontStatus::kNotFound;
  FcChar8* file = nullptr;
  FcCharSet* charset = nullptr;
  int face_index = 0;
  if (FcPatternGetString(match, FC_FILE, 0, &file) == FcResultMatch &&
      FcPatternGetCharSet(match, FC_CHARSET, 0, &charset) == FcResultMatch &&
      FcCharSetHasChar(charset, kProbeCodePoint) == FcTrue) {
    if (FcPatternGetInteger(match, FC_INDEX, 0, &face_index) != FcResultMatch) face_index = 0;
    *path = reinterpret_cast<const char*>(file);
    *index = face_index;
    status = FontStatus::kOk;
  }
  FcPatternDestroy(match);
  return status;
}

FontStatus FontFace::Open(const std::string& path, int index, std::unique_ptr<FontFace>* out) {
  auto impl = std::make_unique<Impl>();
  if (FT_Init_FreeType(&impl->library) != 0) {
    impl->library = nullptr;
    return FontStatus::kUnreadable;
  }
  const FT_Error err = FT_New_Face(impl->library, path.c_str(), index, &impl->face);
  if (err != 0) {
    impl->face = nullptr;
    FT_Done_FreeType(impl->library);
    return err == FT_Err_Cannot_Open_Resource ? FontStatus::kNotFound : FontStatus::kUnreadable;
  }
  if (!FT_IS_SCALABLE(impl->face)) {
    FT_Done_Face(impl->face);
    FT_Done_FreeType(impl->library);
    return FontStatus::kUnreadable;
  }
  out->reset(new FontFace(std::move(impl)));
  return FontStatus::kOk;
}

FontStatus FontFace::OpenCjk(std::unique_ptr<FontFace>* out) {
  std::string path;
  int index = 0;
  const FontStatus status = FindCjkFont(&path, &index);
  if (status != FontStatus::kOk) return status;
  return Open(path, index, out);
}

bool FontFace::SelectSize(int pixel_size) const {
  if (impl_->current_size == pixel_size) return true;
  if (FT_Set_Pixel_Sizes(impl_->face, 0, static_cast<FT_UInt>(pixel_size)) != 0) {
    impl_->current_size = 0;
    return false;
  }
  impl_->current_size = pixel_size;
  return true;
}

FontMetrics FontFace::Metrics(int pixel_size) const {
  pixel_size = ClampSize(pixel_size);
  FontMetrics m;
  if (!SelectSize(pixel_size)) {
    m.ascent = pixel_size;
    m.line_height = pixel_size;
    m.underline_row = pixel_size - 1;
    return m;
  }
  const FT_Size_Metrics& sm = impl_->face->size->metrics;
  m.ascent = std::max(1, CeilPixels(sm.ascender));
  m.descent = std::max(1, CeilPixels(-sm.descender));
  m.line_height = m.ascent + m.descent;
  // Underline position and thickness are in font units; scale to 26.6.
  const FT_Face f = impl_->face;
  const FT_Pos pos = FT_MulFix(f->underline_position, sm.y_scale);          // < 0: below
  const FT_Pos thick = FT_MulFix(f->underline_thickness, sm.y_scale);
  m.underline_thickness = std::clamp(static_cast<int>((thick + 32) >> 6), 1, m.descent);
  const int below = std::max(1, static_cast<int>((-pos + 32) >> 6));
  // Keep the whole underline inside the line box.
  m.underline_row = std::min(m.ascent + below, m.line_height - m.underline_thickness);
  return m;
}

Glyph FontFace::Render(int pixel_size, bool bold, char32_t cp) {
  Glyph g;
  if (cp < 0x20 || !SelectSize(pixel_size)) return g;
  FT_Face face = impl_->face;
  const FT_UInt index = FT_Get_Char_Index(face, cp);
  if (FT_Load_Glyph(face, index, FT_LOAD_NO_BITMAP | FT_LOAD_TARGET_LIGHT) != 0) return g;
  FT_GlyphSlot slot = face->glyph;
  g.advance = static_cast<int>((slot->advance.x + 32) >> 6);
  if (slot->format != FT_GLYPH_FORMAT_OUTLINE) return g;
  if (bold) {
    const int extra = BoldExtraPixels(pixel_size);
    FT_Outline_EmboldenXY(&slot->outline, extra * 64, 0);
    g.advance += extra;
  }
  if (FT_Render_Glyph(slot, FT_RENDER_MODE_NORMAL) != 0) return g;
  const FT_Bitmap& bm = slot->bitmap;
  if (bm.pixel_mode != FT_PIXEL_MODE_GRAY || bm.num_grays != 256) return g;
  g.left = slot->bitmap_left;
  g.top = slot->bitmap_top;
  g.width = static_cast<int>(bm.width);
  g.height = static_cast<int>(bm.rows);
  g.coverage.resize(static_cast<size_t>(g.width) * g.height);
  for (int y = 0; y < g.height; ++y) {
    const unsigned char* row = bm.pitch >= 0 ? bm.buffer + static_cast<ptrdiff_t>(y) * bm.pitch
                                             : bm.buffer + static_cast<ptrdiff_t>(g.height - 1 - y) * -bm.pitch;
    std::memcpy(g.coverage.data() + static_cast<size_t>(y) * g.width, row, g.width);
  }
  return g;
}

const Glyph& FontFace::GetGlyph(int pixel_size, bool bold, char32_t cp) {
  pixel_size = ClampSize(pixel_size);
  if (cp > 0x10FFFF) cp = 0xFFFD;
  const uint64_t key = (static_cast<uint64_t>(pixel_size) << 32) |
                       (static_cast<uint64_t>(bold ? 1 : 0) << 31) | cp;
  auto it = cache_.find(key);
  if (it != cache_.end()) {
    ++stats_.hits;
    return it->second;
  }
  ++stats_.misses;
  if (cache_.size() >= kMaxCachedGlyphs) {
    cache_.clear();
    ++stats_.flushes;
  }
  const Glyph& g = cache_.emplace(key, Render(pixel_size, bold, cp)).first->second;
  stats_.entries = cache_.size();
  return g;
}

}  // namespace gfx
}  // namespace quill
