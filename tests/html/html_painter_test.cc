// Pixels painted for each element kind: with the fake font (glyphs are
// blocks inset by one pixel) for exact colours, and with the real CJK font
// for ink.
#include "html/html_painter.h"

#include <memory>
#include <string>

#include "gtest/gtest.h"
#include "html/bar_element.h"
#include "html/html_layout.h"
#include "html/image_element.h"
#include "html/labelled_block_element.h"
#include "html/line_break_element.h"
#include "html/link_element.h"
#include "html/rule_element.h"
#include "html/text_element.h"
#include "platform/font.h"
#include "platform/font_face.h"
#include "tests/html/fake_text_font.h"

namespace quill {
namespace html {
namespace {

constexpr uint32_t kWhite = 0xFFFFFFFFu;

uint32_t Px(gfx::Color c) { return gfx::PixelFromColor(c); }

class PainterTest : public ::testing::Test {
 protected:
  PainterTest() : font_(10, 12), layout_(&font_), painter_(&font_, ViewColours()) {
    LayoutGeometry g;
    g.left_margin = 7;
    g.line_width = 100;
    EXPECT_TRUE(layout_.Reset(g));
    EXPECT_TRUE(canvas_.Reset(120, 200, 0));
  }

  void Add(std::unique_ptr<DisplayElement> element) {
    ElementList list;
    list.push_back(std::move(element));
    layout_.Append(&list);
  }

  void PaintAll(bool view_focused = false) {
    PaintTarget target;
    target.canvas = &canvas_;
    target.view_width = 120;
    target.view_focused = view_focused;
    target.placeholder = placeholder_.get();
    painter_.PaintArea(layout_, target, gfx::Rect{0, 0, 120, 200});
  }

  FakeTextFont font_;
  HtmlLayout layout_;
  HtmlPainter painter_;
  gfx::Canvas canvas_;
  std::unique_ptr<gfx::Canvas> placeholder_;
};

TEST_F(PainterTest, TextTakesItsColourOrTheWindowText) {
  Add(std::make_unique<TextElement>(u"a", 0x000000FFu, FontRequest()));
  Add(std::make_unique<TextElement>(u"b", kNoColour, FontRequest()));
  PaintAll();
  EXPECT_EQ(canvas_.PixelAt(0, 0), kWhite);        // background left of the margin
  EXPECT_EQ(canvas_.PixelAt(7, 0), kWhite);        // the glyph's inset
  EXPECT_EQ(canvas_.PixelAt(8, 1), Px(0x0000FF));  // red glyph
  EXPECT_EQ(canvas_.PixelAt(18, 1), Px(0));        // black glyph
  EXPECT_EQ(canvas_.PixelAt(30, 5), kWhite);
}

TEST_F(PainterTest, LinksAreUnderlinedInTheirColour) {
  Add(std::make_unique<LinkElement>(kNoColour, u"t", u"ab", FontRequest()));
  Add(std::make_unique<LinkElement>(0x00112233u, u"t", u"c", FontRequest()));
  PaintAll();
  // Box rows 0..13; the underline is row 12 (the upper of the two bottom rows).
  for (int x = 7; x < 27; ++x) ASSERT_EQ(canvas_.PixelAt(x, 12), Px(kLinkColour)) << x;
  for (int x = 27; x < 37; ++x) ASSERT_EQ(canvas_.PixelAt(x, 12), Px(0x00112233)) << x;
  EXPECT_EQ(canvas_.PixelAt(37, 12), kWhite);
  EXPECT_EQ(canvas_.PixelAt(10, 13), kWhite);  // the lowest row stays clear
  EXPECT_EQ(canvas_.PixelAt(10, 5), Px(kLinkColour));
}

TEST_F(PainterTest, AFocusedLinkInAFocusedViewIsHighlighted) {
  Add(std::make_unique<LinkElement>(kNoColour, u"t", u"ab", FontRequest()));
  layout_.mutable_element(0)->set_focused(true);
  PaintAll(/*view_focused=*/false);
  EXPECT_EQ(canvas_.PixelAt(7, 0), kWhite);
  PaintAll(/*view_focused=*/true);
  const ViewColours colours;
  EXPECT_EQ(canvas_.PixelAt(7, 0), Px(colours.highlight));
  EXPECT_EQ(canvas_.PixelAt(10, 5), Px(colours.highlight_text));
  // The underline is inset by one pixel at both ends.
  EXPECT_EQ(canvas_.PixelAt(7, 12), Px(colours.highlight));
  EXPECT_EQ(canvas_.PixelAt(8, 12), Px(colours.highlight_text));
  EXPECT_EQ(canvas_.PixelAt(25, 12), Px(colours.highlight_text));
  EXPECT_EQ(canvas_.PixelAt(26, 12), Px(colours.highlight));
}

TEST_F(PainterTest, RuleRowsAtTheMiddleOfTheBox) {
  Add(std::make_unique<RuleElement>());
  PaintAll();
  for (int x = 7; x < 107; ++x) {
    ASSERT_EQ(canvas_.PixelAt(x, 9), Px(kRuleUpperColour)) << x;
    ASSERT_EQ(canvas_.PixelAt(x, 10), Px(kRuleLowerColour)) << x;
  }
  EXPECT_EQ(canvas_.PixelAt(6, 9), kWhite);
  EXPECT_EQ(canvas_.PixelAt(107, 9), kWhite);
  EXPECT_EQ(canvas_.PixelAt(50, 8), kWhite);
  EXPECT_EQ(canvas_.PixelAt(50, 11), kWhite);
}

TEST_F(PainterTest, BarsAndSpacersFillTheWholeViewWidth) {
  Add(std::make_unique<BarElement>(0x00ABCDEFu));
  Add(std::make_unique<BarElement>(0x00010203u, 3));
  PaintAll();
  EXPECT_EQ(canvas_.PixelAt(0, 0), Px(0x00ABCDEF));
  EXPECT_EQ(canvas_.PixelAt(119, 0), Px(0x00ABCDEF));
  EXPECT_EQ(canvas_.PixelAt(0, 3), Px(0x00010203));
  EXPECT_EQ(canvas_.PixelAt(60, 4), kWhite);
}

TEST_F(PainterTest, ImagesShowTheirBitmapThePlaceholderOrAnOutline) {
  Add(std::make_unique<ImageElement>(u"a", -1, -1));  // outline: no bitmap, no placeholder
  Add(std::make_unique<ImageElement>(u"b", -1, -1));
  auto bitmap = std::make_unique<gfx::Canvas>();
  ASSERT_TRUE(bitmap->Reset(20, 10, Px(0x0000FF00)));
  ASSERT_TRUE(layout_.SetImage(1, std::move(bitmap)));
  PaintAll();
  // The outline of the 40 x 30 box at x 7 + 30.
  EXPECT_EQ(canvas_.PixelAt(37, 0), Px(0));
  EXPECT_EQ(canvas_.PixelAt(76, 29), Px(0));
  EXPECT_EQ(canvas_.PixelAt(50, 15), kWhite);
  // The bitmap centred below it.
  EXPECT_EQ(canvas_.PixelAt(47, 30), Px(0x0000FF00));
  EXPECT_EQ(canvas_.PixelAt(66, 39), Px(0x0000FF00));
  EXPECT_EQ(canvas_.PixelAt(46, 30), kWhite);

  placeholder_ = std::make_unique<gfx::Canvas>();
  ASSERT_TRUE(placeholder_->Reset(40, 30, Px(0x00FF0000)));
  layout_.mutable_element(1)->set_focused(true);
  PaintAll();
  EXPECT_EQ(canvas_.PixelAt(50, 15), Px(0x00FF0000));
  // The focus rectangle inverts every other outline pixel of the bitmap.
  EXPECT_EQ(canvas_.PixelAt(47, 30), Px(0x00FF00FF));
  EXPECT_EQ(canvas_.PixelAt(48, 30), Px(0x0000FF00));
}

TEST_F(PainterTest, LabelledBlockDrawsLabelRightAlignedAndValueBesideIt) {
  auto block = std::make_unique<LabelledBlockElement>();
  block->background = 0x00EEEEEEu;
  block->label_colour = 0x00000080u;
  block->value_colour = 0x00008000u;
  block->label = u"ab";
  block->value = u"cdefghi";  // room 52: "cdefg" and "hi"
  Add(std::move(block));
  PaintAll();
  EXPECT_EQ(canvas_.PixelAt(0, 0), Px(0x00EEEEEE));    // across the view
  EXPECT_EQ(canvas_.PixelAt(119, 29), Px(0x00EEEEEE));
  // Label glyphs end at the column's right edge, 7 + 45.
  EXPECT_EQ(canvas_.PixelAt(50, 4), Px(0x00000080));
  EXPECT_EQ(canvas_.PixelAt(33, 4), Px(0x00000080));
  EXPECT_EQ(canvas_.PixelAt(31, 4), Px(0x00EEEEEE));
  // Value lines from 7 + 45 + 3 = 55, at the top space 3, one below the other.
  EXPECT_EQ(canvas_.PixelAt(56, 4), Px(0x00008000));
  EXPECT_EQ(canvas_.PixelAt(56, 16), Px(0x00008000));
  EXPECT_EQ(canvas_.PixelAt(76, 16), Px(0x00EEEEEE));

  layout_.mutable_element(0)->set_focused(true);
  PaintAll(true);
  const ViewColours colours;
  EXPECT_EQ(canvas_.PixelAt(56, 4), Px(colours.highlight_text));
  EXPECT_EQ(canvas_.PixelAt(55, 4), Px(colours.highlight));
  EXPECT_EQ(canvas_.PixelAt(50, 4), Px(0x00000080));
}

TEST_F(PainterTest, OnlyTheAreaIsPaintedAndAtItsOrigin) {
  for (int i = 0; i < 10; ++i) {
    Add(std::make_unique<TextElement>(u"x", 0x000000FFu, FontRequest()));
    Add(std::make_unique<LineBreakElement>());
  }
  // A canvas showing document rows from 26 (the third line) on, columns from 5.
  gfx::Canvas part;
  ASSERT_TRUE(part.Reset(20, 13, 0));
  PaintTarget target;
  target.canvas = &part;
  target.origin_x = 5;
  target.origin_y = 26;
  target.view_width = 120;
  painter_.PaintArea(layout_, target, gfx::Rect{0, 0, 20, 13});
  EXPECT_EQ(part.PixelAt(3, 1), Px(0x0000FF));
  EXPECT_EQ(part.PixelAt(2, 1), kWhite);
  EXPECT_EQ(part.PixelAt(3, 0), kWhite);
  // The area clips what is painted.
  ASSERT_TRUE(part.Reset(20, 13, 0));
  painter_.PaintArea(layout_, target, gfx::Rect{0, 0, 3, 13});
  EXPECT_EQ(part.PixelAt(3, 1), 0u);
}

TEST(PainterRealFontTest, ChineseTextLeavesInkAndLinksKeepTheirUnderline) {
  std::unique_ptr<gfx::FontFace> face;
  if (gfx::FontFace::OpenCjk(&face) != gfx::FontStatus::kOk) {
    GTEST_SKIP() << "no CJK font found through fontconfig";
  }
  gfx::Font font(face.get(), 14, false);
  GfxTextFont text_font(&font);
  HtmlLayout layout(&text_font);
  LayoutGeometry g;
  g.line_width = 100;
  ASSERT_TRUE(layout.Reset(g));
  ElementList list;
  list.push_back(std::make_unique<TextElement>(u"中文邮件", kNoColour, FontRequest()));
  list.push_back(std::make_unique<LineBreakElement>());
  list.push_back(std::make_unique<LinkElement>(kNoColour, u"t", u"链接", FontRequest()));
  layout.Append(&list);
  gfx::Canvas canvas;
  ASSERT_TRUE(canvas.Reset(100, 60, 0));
  HtmlPainter painter(&text_font, ViewColours());
  PaintTarget target;
  target.canvas = &canvas;
  target.view_width = 100;
  painter.PaintArea(layout, target, gfx::Rect{0, 0, 100, 60});
  int64_t ink = 0;
  const LayoutBox& text_box = layout.boxes()[0];
  for (int y = 0; y < text_box.height; ++y) {
    for (int x = 0; x < text_box.width; ++x) ink += 255 - (canvas.PixelAt(x, y) & 0xFF);
  }
  EXPECT_GT(ink, 40 * 255);
  const LayoutBox& link_box = layout.boxes()[1];
  const int underline = static_cast<int>(layout.BoxTop(link_box)) + link_box.height - 2;
  for (int x = 0; x < link_box.width; ++x) {
    ASSERT_EQ(canvas.PixelAt(x, underline), Px(kLinkColour)) << x;
  }
}

}  // namespace
}  // namespace html
}  // namespace quill
