#include "platform/canvas.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/font.h"
#include "platform/font_face.h"

namespace quill {
namespace gfx {
namespace {

constexpr Color kWhite = 0x00FFFFFF;
constexpr Color kRed = 0x000000FF;   // 0x00BBGGRR
constexpr Color kBlue = 0x00FF0000;
const uint32_t kWhitePx = PixelFromColor(kWhite);
const uint32_t kRedPx = PixelFromColor(kRed);

Canvas White(int w, int h) {
  Canvas c;
  EXPECT_TRUE(c.Reset(w, h, kWhitePx));
  return c;
}

// Pixels equal to px inside r, kWhitePx elsewhere.
void ExpectOnlyRect(const Canvas& c, const Rect& r, uint32_t px) {
  for (int y = 0; y < c.height(); ++y) {
    for (int x = 0; x < c.width(); ++x) {
      const bool inside = x >= r.left && x < r.right && y >= r.top && y < r.bottom;
      ASSERT_EQ(c.PixelAt(x, y), inside ? px : kWhitePx) << x << "," << y;
    }
  }
}

TEST(Canvas, ResetEnforcesLimits) {
  Canvas c;
  EXPECT_FALSE(c.Reset(0, 10));
  EXPECT_FALSE(c.Reset(10, -1));
  EXPECT_FALSE(c.Reset(kMaxCanvasSide + 1, 1));
  EXPECT_FALSE(c.Reset(4097, 4097));  // each side fine, too many pixels
  EXPECT_TRUE(c.empty());
  EXPECT_EQ(c.pixels(), nullptr);
  ASSERT_TRUE(c.Reset(3, 2, 7));
  EXPECT_EQ(c.PixelAt(2, 1), 7u);
  EXPECT_EQ(c.PixelAt(3, 1), 0u);  // outside reads as 0
  EXPECT_EQ(c.clip(), (Rect{0, 0, 3, 2}));
}

TEST(Canvas, ColourIsBgrInMemoryAsRgbaBytes) {
  Canvas c = White(1, 1);
  c.FillRect(Rect{0, 0, 1, 1}, 0x00332211);
  uint8_t bytes[4];
  std::memcpy(bytes, c.pixels(), 4);
  EXPECT_EQ(bytes[0], 0x11);  // red
  EXPECT_EQ(bytes[1], 0x22);  // green
  EXPECT_EQ(bytes[2], 0x33);  // blue
  EXPECT_EQ(bytes[3], 0xFF);  // opaque
}

TEST(Canvas, FillIsClippedToSurfaceAndClipStack) {
  Canvas c = White(10, 8);
  c.FillRect(Rect{-100, -100, 3, 2}, kRed);
  ExpectOnlyRect(c, Rect{0, 0, 3, 2}, kRedPx);

  c.Clear(kWhite);
  c.PushClip(Rect{2, 2, 8, 6});
  c.PushClip(Rect{4, 0, 20, 4});  // narrows to {4,2,8,4}
  EXPECT_EQ(c.clip(), (Rect{4, 2, 8, 4}));
  c.FillRect(Rect{INT_MIN, INT_MIN, INT_MAX, INT_MAX}, kRed);
  ExpectOnlyRect(c, Rect{4, 2, 8, 4}, kRedPx);
  c.PopClip();
  EXPECT_EQ(c.clip(), (Rect{2, 2, 8, 6}));
  c.PopClip();
  c.PopClip();  // unbalanced pop is harmless
  EXPECT_EQ(c.clip(), (Rect{0, 0, 10, 8}));

  c.PushClip(Rect{20, 20, 30, 30});  // outside: nothing may be drawn
  c.Clear(kBlue);
  c.PopClip();
  ExpectOnlyRect(c, Rect{4, 2, 8, 4}, kRedPx);

  c.FillRect(Rect{0, 0, 10, 8}, kNoColor);  // no colour draws nothing
  ExpectOnlyRect(c, Rect{4, 2, 8, 4}, kRedPx);
}

TEST(Canvas, LinesIncludeBothEnds) {
  Canvas c = White(10, 10);
  c.DrawHLine(7, 2, 3, kRed);
  ExpectOnlyRect(c, Rect{2, 3, 8, 4}, kRedPx);
  c.Clear(kWhite);
  c.DrawVLine(5, 9, 1, kRed);
  ExpectOnlyRect(c, Rect{5, 1, 6, 10}, kRedPx);
  c.Clear(kWhite);
  c.DrawHLine(INT_MIN, INT_MAX, 0, kRed);  // extreme ends: no overflow
  c.DrawVLine(0, INT_MAX, INT_MIN, kRed);
  EXPECT_EQ(c.PixelAt(9, 0), kRedPx);
  EXPECT_EQ(c.PixelAt(0, 9), kRedPx);

  c.Clear(kWhite);
  c.DrawLine(1, 1, 4, 4, kRed);
  for (int i = 1; i <= 4; ++i) EXPECT_EQ(c.PixelAt(i, i), kRedPx);
  EXPECT_EQ(c.PixelAt(5, 5), kWhitePx);
  EXPECT_EQ(c.PixelAt(2, 1), kWhitePx);

  // A shallow line: one pixel per column, rows stepping monotonically.
  c.Clear(kWhite);
  c.DrawLine(0, 0, 9, 3, kRed);
  int last_row = 0;
  for (int x = 0; x < 10; ++x) {
    int count = 0, row = -1;
    for (int y = 0; y < 10; ++y) {
      if (c.PixelAt(x, y) == kRedPx) { ++count; row = y; }
    }
    EXPECT_EQ(count, 1) << x;
    EXPECT_GE(row, last_row);
    last_row = row;
  }
  EXPECT_EQ(c.PixelAt(9, 3), kRedPx);

  // End points far outside the int-safe range draw nothing and do not crash.
  c.Clear(kWhite);
  c.DrawLine(INT_MIN, INT_MIN, INT_MAX, INT_MAX - 1, kRed);
  ExpectOnlyRect(c, Rect{}, kRedPx);
}

TEST(Canvas, RectOutlineLeavesInside) {
  Canvas c = White(6, 5);
  c.DrawRectOutline(Rect{1, 1, 5, 4}, kRed);
  for (int y = 0; y < 5; ++y) {
    for (int x = 0; x < 6; ++x) {
      const bool edge = (x >= 1 && x <= 4 && (y == 1 || y == 3)) || (y >= 1 && y <= 3 && (x == 1 || x == 4));
      EXPECT_EQ(c.PixelAt(x, y), edge ? kRedPx : kWhitePx) << x << "," << y;
    }
  }
}

TEST(Canvas, FocusRectIsDottedAndSelfInverse) {
  Canvas c = White(8, 7);
  const Rect r{1, 1, 7, 6};
  c.DrawFocusRect(r);
  const uint32_t inverted = kWhitePx ^ 0x00FFFFFF;  // black, opaque
  for (int y = 0; y < 7; ++y) {
    for (int x = 0; x < 8; ++x) {
      const bool edge = x >= 1 && x <= 6 && y >= 1 && y <= 5 && (x == 1 || x == 6 || y == 1 || y == 5);
      const bool dot = edge && ((x - 1 + y - 1) % 2 == 0);
      EXPECT_EQ(c.PixelAt(x, y), dot ? inverted : kWhitePx) << x << "," << y;
    }
  }
  // Neighbouring pixels along an edge alternate.
  EXPECT_NE(c.PixelAt(2, 1), c.PixelAt(3, 1));
  c.DrawFocusRect(r);
  ExpectOnlyRect(c, Rect{}, 0);

  // Clipped drawing matches the unclipped pattern inside the clip.
  Canvas full = White(8, 7);
  full.DrawFocusRect(Rect{-3, -2, 7, 6});
  Canvas clipped = White(8, 7);
  clipped.PushClip(Rect{0, 0, 5, 4});
  clipped.DrawFocusRect(Rect{-3, -2, 7, 6});
  for (int y = 0; y < 7; ++y) {
    for (int x = 0; x < 8; ++x) {
      const bool in_clip = x < 5 && y < 4;
      EXPECT_EQ(clipped.PixelAt(x, y), in_clip ? full.PixelAt(x, y) : kWhitePx) << x << "," << y;
    }
  }
}

TEST(Canvas, BlendMaskUsesCoverage) {
  Canvas c = White(3, 1);
  const uint8_t mask[3] = {0, 128, 255};
  c.BlendMask(0, 0, mask, 3, 1, 3, 0x00000000);
  EXPECT_EQ(c.PixelAt(0, 0), kWhitePx);
  EXPECT_EQ(c.PixelAt(1, 0), 0xFF7F7F7Fu);
  EXPECT_EQ(c.PixelAt(2, 0), 0xFF000000u);
  // Off the surface in every direction: nothing happens.
  c.BlendMask(INT_MAX, 0, mask, 3, 1, 3, 0);
  c.BlendMask(-3, 0, mask, 3, 1, 3, 0);
  EXPECT_EQ(c.PixelAt(0, 0), kWhitePx);
}

Canvas Numbered(int w, int h) {
  Canvas s;
  EXPECT_TRUE(s.Reset(w, h));
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) s.Row(y)[x] = 0xFF000000u | static_cast<uint32_t>(y * 256 + x);
  }
  return s;
}

TEST(Canvas, BlitIsClippedAtEveryEdge) {
  const Canvas src = Numbered(4, 3);
  for (int oy = -4; oy <= 6; ++oy) {
    for (int ox = -5; ox <= 7; ++ox) {
      Canvas c = White(6, 5);
      c.PushClip(Rect{1, 0, 6, 4});
      c.Blit(src, ox, oy);
      for (int y = 0; y < 5; ++y) {
        for (int x = 0; x < 6; ++x) {
          const int sx = x - ox, sy = y - oy;
          const bool covered = sx >= 0 && sx < 4 && sy >= 0 && sy < 3 && x >= 1 && y < 4;
          ASSERT_EQ(c.PixelAt(x, y), covered ? src.PixelAt(sx, sy) : kWhitePx)
              << "offset " << ox << "," << oy << " pixel " << x << "," << y;
        }
      }
    }
  }
  Canvas c = White(6, 5);
  c.Blit(src, INT_MAX, INT_MIN);  // far away: nothing, no overflow
  ExpectOnlyRect(c, Rect{}, 0);
}

TEST(Canvas, BlitBlendsAlpha) {
  Canvas src;
  ASSERT_TRUE(src.Reset(3, 1));
  src.Row(0)[0] = 0x00000000;  // transparent
  src.Row(0)[1] = 0x80000000;  // half black
  src.Row(0)[2] = 0xFF0000FF;  // opaque red
  Canvas c = White(3, 1);
  c.Blit(src, 0, 0);
  EXPECT_EQ(c.PixelAt(0, 0), kWhitePx);
  EXPECT_EQ(c.PixelAt(1, 0), 0xFF7F7F7Fu);
  EXPECT_EQ(c.PixelAt(2, 0), kRedPx);
}

TEST(Canvas, ScaledBlit) {
  // A single pixel fills any destination exactly, clipped.
  Canvas dot;
  ASSERT_TRUE(dot.Reset(1, 1, kRedPx));
  Canvas c = White(10, 10);
  c.BlitScaled(dot, Rect{-5, 2, 4, 7});
  ExpectOnlyRect(c, Rect{0, 2, 4, 7}, kRedPx);

  // Same size is a plain copy.
  const Canvas src = Numbered(4, 3);
  Canvas same = White(4, 3);
  same.BlitScaled(src, Rect{0, 0, 4, 3});
  for (int y = 0; y < 3; ++y) {
    for (int x = 0; x < 4; ++x) EXPECT_EQ(same.PixelAt(x, y), src.PixelAt(x, y));
  }

  // Doubling a two-colour image: outer columns keep their colours and the
  // middle ones are between them.
  Canvas two;
  ASSERT_TRUE(two.Reset(2, 1));
  two.Row(0)[0] = 0xFF000000;
  two.Row(0)[1] = 0xFF0000FF;
  Canvas big = White(4, 2);
  big.BlitScaled(two, Rect{0, 0, 4, 2});
  EXPECT_EQ(big.PixelAt(0, 0), 0xFF000000u);
  EXPECT_EQ(big.PixelAt(3, 1), 0xFF0000FFu);
  const uint32_t mid_red = big.PixelAt(1, 0) & 0xFF;
  EXPECT_GT(mid_red, 0u);
  EXPECT_LT(mid_red, 0x80u);
  EXPECT_GT(big.PixelAt(2, 0) & 0xFF, 0x80u);

  // Transparent neighbours do not darken an opaque pixel's colour.
  Canvas holey;
  ASSERT_TRUE(holey.Reset(2, 1));
  holey.Row(0)[0] = 0x00000000;
  holey.Row(0)[1] = 0xFF0000FF;
  Canvas out = White(8, 1);
  out.BlitScaled(holey, Rect{0, 0, 8, 1});
  for (int x = 0; x < 8; ++x) {
    const uint32_t p = out.PixelAt(x, 0);
    EXPECT_EQ(p & 0xFF, 0xFFu) << x;  // red stays full
  }

  // A large reduction stays inside the destination.
  Canvas large;
  ASSERT_TRUE(large.Reset(500, 300, kRedPx));
  Canvas small = White(10, 10);
  small.BlitScaled(large, Rect{2, 2, 7, 5});
  ExpectOnlyRect(small, Rect{2, 2, 7, 5}, kRedPx);
}

// ---- Text ----------------------------------------------------------------

class CanvasText : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string path;
    int index = 0;
    if (FontFace::FindCjkFont(&path, &index) != FontStatus::kOk) {
      GTEST_SKIP() << "no CJK font found through fontconfig";
    }
    ASSERT_EQ(FontFace::Open(path, index, &face_), FontStatus::kOk) << path;
  }

  // Sum of (255 - red) over the canvas: the amount of dark ink.
  static int64_t Ink(const Canvas& c) {
    int64_t ink = 0;
    for (int y = 0; y < c.height(); ++y) {
      for (int x = 0; x < c.width(); ++x) ink += 255 - (c.PixelAt(x, y) & 0xFF);
    }
    return ink;
  }

  std::unique_ptr<FontFace> face_;
};

TEST(FontFaceOpen, MissingOrBadFileIsAStatus) {
  std::unique_ptr<FontFace> face;
  EXPECT_EQ(FontFace::Open("/nonexistent/quill-font.ttf", 0, &face), FontStatus::kNotFound);
  EXPECT_EQ(face, nullptr);
  const std::string junk = ::testing::TempDir() + "/quill_not_a_font.ttf";
  FILE* f = std::fopen(junk.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fputs("this is not a font file at all", f);
  std::fclose(f);
  EXPECT_EQ(FontFace::Open(junk, 0, &face), FontStatus::kUnreadable);
  EXPECT_EQ(face, nullptr);
  std::remove(junk.c_str());
}

TEST_F(CanvasText, ChineseTextLeavesInkInsideItsBox) {
  Font font(face_.get(), 16, false);
  EXPECT_GE(font.line_height(), 16);
  EXPECT_GT(font.ascent(), 0);
  Canvas c = White(80, 30);
  const int width = font.DrawText(&c, 5, 4, u"中文", 0);
  EXPECT_EQ(width, font.MeasureText(u"中文"));
  EXPECT_GE(width, 28);  // two full-width characters
  EXPECT_GT(Ink(c), 20 * 255);
  for (int y = 0; y < c.height(); ++y) {
    for (int x = 0; x < c.width(); ++x) {
      const bool in_box = x >= 5 && x < 5 + width && y >= 4 && y < 4 + font.line_height();
      if (!in_box) {
        ASSERT_EQ(c.PixelAt(x, y), kWhitePx) << x << "," << y;
      }
    }
  }
  // Each character has ink of its own.
  Canvas left = c;
  left.FillRect(Rect{5 + width / 2, 0, 80, 30}, kWhite);
  EXPECT_GT(Ink(left), 5 * 255);
  EXPECT_GT(Ink(c) - Ink(left), 5 * 255);
}

TEST_F(CanvasText, BoldIsWiderAndHeavier) {
  Font regular(face_.get(), 16, false);
  Font bold(face_.get(), 16, true);
  const std::u16string text = u"Mail 中文";
  EXPECT_GT(bold.MeasureText(text), regular.MeasureText(text));
  Canvas a = White(200, 30), b = White(200, 30);
  regular.DrawText(&a, 0, 0, text, 0);
  bold.DrawText(&b, 0, 0, text, 0);
  EXPECT_GT(Ink(b), Ink(a) * 11 / 10);
}

TEST_F(CanvasText, UnderlineFillsItsRowsAcrossTheText) {
  Font font(face_.get(), 16, false);
  const FontMetrics& m = font.metrics();
  EXPECT_GT(m.underline_row, m.ascent - 1);
  EXPECT_LE(m.underline_row + m.underline_thickness, m.line_height);
  Canvas plain = White(100, 30), under = White(100, 30);
  const int w = font.DrawText(&plain, 2, 3, u"link", kBlue);
  font.DrawText(&under, 2, 3, u"link", kBlue, true);
  const uint32_t blue = PixelFromColor(kBlue);
  int plain_blue = 0;
  for (int x = 0; x < 100; ++x) {
    const bool inside = x >= 2 && x < 2 + w;
    EXPECT_EQ(under.PixelAt(x, 3 + m.underline_row), inside ? blue : kWhitePx) << x;
    plain_blue += plain.PixelAt(x, 3 + m.underline_row) == blue;
  }
  EXPECT_LT(plain_blue, w);
}

TEST_F(CanvasText, MeasurementMatchesDrawing) {
  Font font(face_.get(), 14, false);
  const std::u16string text = u"Hello, 世界 abc";
  std::vector<int> adv;
  font.Advances(text, &adv);
  ASSERT_EQ(adv.size(), text.size());
  int sum = 0;
  for (int a : adv) sum += a;
  EXPECT_EQ(sum, font.MeasureText(text));

  // Drawing piecewise at the advances gives the same pixels as one call.
  Canvas whole = White(200, 20), pieces = White(200, 20);
  EXPECT_EQ(font.DrawText(&whole, 3, 2, text, 0), sum);
  int x = 3;
  for (size_t i = 0; i < text.size(); ++i) {
    font.DrawText(&pieces, x, 2, text.substr(i, 1), 0);
    x += adv[i];
  }
  EXPECT_EQ(std::memcmp(whole.pixels(), pieces.pixels(), 200 * 20 * 4), 0);

  // kNoColor draws nothing but measures.
  Canvas none = White(200, 20);
  EXPECT_EQ(font.DrawText(&none, 0, 0, text, kNoColor), sum);
  EXPECT_EQ(Ink(none), 0);
}

TEST_F(CanvasText, SurrogatePairsAreOneCodePoint) {
  Font font(face_.get(), 16, false);
  const std::u16string text = u"a\U0001F600b";
  std::vector<int> adv;
  font.Advances(text, &adv);
  ASSERT_EQ(adv.size(), 4u);
  EXPECT_EQ(adv[0], font.Advance(U'a'));
  EXPECT_EQ(adv[1], font.Advance(0x1F600));
  EXPECT_EQ(adv[2], 0);
  EXPECT_EQ(adv[3], font.Advance(U'b'));
  // Lone surrogates, at the end or followed by a normal unit, count as U+FFFD.
  const std::u16string lone{0xD83D, u'x', 0xDE00, 0xD800};
  font.Advances(lone, &adv);
  ASSERT_EQ(adv.size(), 4u);
  EXPECT_EQ(adv[0], font.Advance(0xFFFD));
  EXPECT_EQ(adv[1], font.Advance(U'x'));
  EXPECT_EQ(adv[2], font.Advance(0xFFFD));
  EXPECT_EQ(adv[3], font.Advance(0xFFFD));
  // Control characters take no room.
  EXPECT_EQ(font.Advance(U'\t'), 0);
}

TEST_F(CanvasText, GlyphCacheCountsHitsAndStaysBounded) {
  Font font(face_.get(), 16, false);
  Canvas c = White(100, 20);
  const GlyphCacheStats before = face_->cache_stats();
  font.DrawText(&c, 0, 0, u"中中中文", 0);
  EXPECT_EQ(face_->cache_stats().misses - before.misses, 2u);
  EXPECT_EQ(face_->cache_stats().hits - before.hits, 2u);
  // Size and weight are part of the key.
  Font bold(face_.get(), 16, true);
  Font big(face_.get(), 20, false);
  bold.Advance(U'中');
  big.Advance(U'中');
  EXPECT_EQ(face_->cache_stats().misses - before.misses, 4u);
  font.Advance(U'中');
  EXPECT_EQ(face_->cache_stats().hits - before.hits, 3u);

  const int advance = font.Advance(U'中');
  for (char32_t cp = 0x4E00; cp < 0x4E00 + kMaxCachedGlyphs + 10; ++cp) font.Advance(cp);
  EXPECT_LE(face_->cache_stats().entries, kMaxCachedGlyphs);
  EXPECT_GE(face_->cache_stats().flushes, 1u);
  // Still correct after a flush.
  EXPECT_EQ(font.Advance(U'中'), advance);
}

TEST_F(CanvasText, ExtremeSizesAndPositionsAreSafe) {
  Font tiny(face_.get(), -5, false);
  Font huge(face_.get(), 100000, true);
  EXPECT_EQ(tiny.pixel_size(), kMinFontPixels);
  EXPECT_EQ(huge.pixel_size(), kMaxFontPixels);
  Canvas c = White(20, 20);
  tiny.DrawText(&c, INT_MAX - 3, INT_MIN, u"中文", 0, true);
  huge.DrawText(&c, INT_MIN, INT_MAX, u"中文", 0, true);
  huge.DrawText(&c, -100, -100, u"中", 0, true);
  EXPECT_GT(Ink(c), 0);
}

}  // namespace
}  // namespace gfx
}  // namespace quill
