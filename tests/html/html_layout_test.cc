// Layout geometry with a fake font of 10 x 12 glyphs: line breaks, boxes,
// document height, images, link merging, focus order and fit.
#include "html/html_layout.h"

#include <memory>
#include <random>
#include <string>

#include "gtest/gtest.h"
#include "html/bar_element.h"
#include "html/html_document_builder.h"
#include "html/image_element.h"
#include "html/labelled_block_element.h"
#include "html/line_break_element.h"
#include "html/line_breaks.h"
#include "html/link_element.h"
#include "html/rule_element.h"
#include "html/text_element.h"
#include "tests/html/fake_text_font.h"

namespace quill {
namespace html {
namespace {

std::unique_ptr<DisplayElement> Text(std::u16string text) {
  return std::make_unique<TextElement>(std::move(text), kNoColour, FontRequest());
}
std::unique_ptr<DisplayElement> Link(std::u16string target, std::u16string text,
                                     uint32_t colour = kNoColour) {
  return std::make_unique<LinkElement>(colour, std::move(target), std::move(text), FontRequest());
}
std::unique_ptr<DisplayElement> Image() {
  return std::make_unique<ImageElement>(u"cid:x", 500, 400);
}
std::unique_ptr<DisplayElement> Break() { return std::make_unique<LineBreakElement>(); }

std::unique_ptr<gfx::Canvas> Bitmap(int w, int h) {
  auto canvas = std::make_unique<gfx::Canvas>();
  canvas->Reset(w, h, 0xFF00FF00u);
  return canvas;
}

// Geometry: left margin 7, top margin 0, width 100, spacing 0.
class LayoutTest : public ::testing::Test {
 protected:
  LayoutTest() : font_(10, 12), layout_(&font_) {
    LayoutGeometry g;
    g.left_margin = 7;
    g.line_width = 100;
    EXPECT_TRUE(layout_.Reset(g));
  }

  template <typename... E>
  void Add(E... elements) {
    ElementList list;
    (list.push_back(std::move(elements)), ...);
    layout_.Append(&list);
    EXPECT_TRUE(list.empty());
  }

  // "x,y,w,h" of box i in document coordinates inside the line.
  std::string BoxAt(size_t i) const {
    const LayoutBox& b = layout_.boxes()[i];
    return std::to_string(b.x) + "," + std::to_string(layout_.BoxTop(b)) + "," +
           std::to_string(b.width) + "," + std::to_string(b.height);
  }

  FakeTextFont font_;
  HtmlLayout layout_;
};

TEST_F(LayoutTest, TextFillsLinesToTheLastCharacterThatFits) {
  Add(Text(u"abcdefghijklmno"));
  ASSERT_EQ(layout_.boxes().size(), 2u);
  EXPECT_EQ(BoxAt(0), "0,0,100,13");
  EXPECT_EQ(BoxAt(1), "0,13,50,13");
  EXPECT_EQ(layout_.boxes()[1].begin, 10u);
  EXPECT_EQ(layout_.boxes()[1].end, 15u);
  EXPECT_EQ(layout_.boxes()[0].next, 1);
  EXPECT_EQ(layout_.element(0).first_box(), 0);
  EXPECT_EQ(layout_.DocumentHeight(), 26);
}

TEST_F(LayoutTest, RunsContinueOnTheSameLine) {
  Add(Text(u"abc"), Text(u"defghijklmn"));
  ASSERT_EQ(layout_.boxes().size(), 3u);
  EXPECT_EQ(BoxAt(0), "0,0,30,13");
  EXPECT_EQ(BoxAt(1), "30,0,70,13");
  EXPECT_EQ(BoxAt(2), "0,13,40,13");
}

TEST_F(LayoutTest, ARunThatDoesNotFitAtAllStartsANewLine) {
  // 95 pixels used: not even one glyph of 10 fits in the 5 left.
  auto font = FakeTextFont([](char16_t c) { return c == u'w' ? 95 : 10; }, 12);
  HtmlLayout layout(&font);
  LayoutGeometry g;
  g.line_width = 100;
  ASSERT_TRUE(layout.Reset(g));
  ElementList list;
  list.push_back(Text(u"w"));
  list.push_back(Text(u"ab"));
  layout.Append(&list);
  ASSERT_EQ(layout.boxes().size(), 2u);
  EXPECT_EQ(layout.boxes()[1].x, 0);
  EXPECT_EQ(layout.boxes()[1].line, 1u);
}

TEST_F(LayoutTest, LinksAreTwoPixelsTallerThanTheirText) {
  Add(Text(u"a"), Link(u"t", u"b"));
  EXPECT_EQ(BoxAt(0), "0,0,10,13");
  EXPECT_EQ(BoxAt(1), "10,0,10,14");
  EXPECT_EQ(layout_.lines()[0].height, 14);
}

TEST_F(LayoutTest, TwoLineBreaksGiveAnEmptyLineOfSixteen) {
  Add(Text(u"a"), Break(), Break(), Text(u"b"));
  ASSERT_EQ(layout_.lines().size(), 3u);
  EXPECT_EQ(layout_.lines()[1].height, 16);
  EXPECT_EQ(BoxAt(1), "0,29,10,13");
  EXPECT_EQ(layout_.DocumentHeight(), 42);
}

TEST_F(LayoutTest, LineSpacingAndTopMargin) {
  LayoutGeometry g;
  g.top_margin = 5;
  g.line_width = 100;
  g.line_spacing = 2;
  ASSERT_TRUE(layout_.Reset(g));
  EXPECT_EQ(layout_.DocumentHeight(), 0);
  Add(Text(std::u16string(25, u'x')));  // three lines of 13
  ASSERT_EQ(layout_.lines().size(), 3u);
  EXPECT_EQ(layout_.lines()[2].y, 5 + 13 + 2 + 13 + 2);
  EXPECT_EQ(layout_.DocumentHeight(), 5 + 3 * 13 + 2 * 2);
}

TEST_F(LayoutTest, ALineWidthBelowFiftyOneRefusesTheDocument) {
  LayoutGeometry g;
  g.line_width = 50;
  EXPECT_FALSE(layout_.Reset(g));
  Add(Text(u"abc"));
  EXPECT_EQ(layout_.element_count(), 0u);
  EXPECT_EQ(layout_.DocumentHeight(), 0);
  g.line_width = 51;
  EXPECT_TRUE(layout_.Reset(g));
}

TEST_F(LayoutTest, RuleBarAndSpacerStandAlone) {
  Add(Text(u"a"), std::make_unique<RuleElement>(), std::make_unique<BarElement>(0x123456u),
      std::make_unique<BarElement>(0x654321u, 7), Text(u"b"));
  ASSERT_EQ(layout_.boxes().size(), 5u);
  EXPECT_EQ(BoxAt(1), "0,13,100,20");
  EXPECT_EQ(BoxAt(2), "0,33,100,1");
  EXPECT_EQ(BoxAt(3), "0,34,100,7");
  EXPECT_EQ(BoxAt(4), "0,41,10,13");
  // The rule at the start of an empty line does not add a line before it.
  Add(Break(), std::make_unique<RuleElement>());
  EXPECT_EQ(BoxAt(5), "0,54,100,20");
}

TEST_F(LayoutTest, ImagesAreCentredAtThePlaceholderSizeUntilTheirBitmapArrives) {
  Add(Text(u"ab"), Image(), Text(u"c"));
  ASSERT_EQ(layout_.boxes().size(), 3u);
  // WIDTH and HEIGHT of the tag (500 x 400) do not count.
  EXPECT_EQ(BoxAt(1), "30,13,40,30");
  EXPECT_EQ(BoxAt(2), "0,43,10,13");
  EXPECT_FALSE(layout_.boxes()[1].sized_by_bitmap);

  // A wider bitmap is cut to the line and centred at 0; later lines move down.
  ASSERT_TRUE(layout_.SetImage(1, Bitmap(200, 50)));
  EXPECT_EQ(BoxAt(1), "0,13,100,50");
  EXPECT_EQ(BoxAt(2), "0,63,10,13");
  EXPECT_EQ(layout_.DocumentHeight(), 76);
  EXPECT_TRUE(layout_.boxes()[1].sized_by_bitmap);
  const auto& image = static_cast<const ImageElement&>(layout_.element(1));
  EXPECT_EQ(image.width(), 200);
  EXPECT_EQ(image.height(), 50);

  // A narrower one is centred; a shorter one moves later lines up.
  ASSERT_TRUE(layout_.SetImage(1, Bitmap(20, 10)));
  EXPECT_EQ(BoxAt(1), "40,13,20,10");
  EXPECT_EQ(BoxAt(2), "0,23,10,13");
  EXPECT_FALSE(layout_.SetImage(0, Bitmap(5, 5)));
  EXPECT_FALSE(layout_.SetImage(9, Bitmap(5, 5)));
  EXPECT_FALSE(layout_.SetImage(1, nullptr));
}

TEST_F(LayoutTest, ThePlaceholderSetsTheSizeOfImagesWithoutABitmap) {
  layout_.SetPlaceholderSize(16, 8);
  Add(Image());
  EXPECT_EQ(BoxAt(0), "42,0,16,8");
}

TEST_F(LayoutTest, WithImageDisplayOffImagesTakeNoSpace) {
  Add(Text(u"a"), Image(), Text(u"b"));
  const uint64_t before = layout_.generation();
  layout_.SetImageDisplay(false);
  EXPECT_GT(layout_.generation(), before);
  ASSERT_EQ(layout_.boxes().size(), 2u);
  EXPECT_EQ(BoxAt(1), "10,0,10,13");
  EXPECT_EQ(layout_.element(1).first_box(), -1);
  EXPECT_EQ(layout_.ElementTop(1), 0);
  // The picture still arrives; it shows when the switch goes back on.
  ASSERT_TRUE(layout_.SetImage(1, Bitmap(60, 20)));
  layout_.SetImageDisplay(true);
  ASSERT_EQ(layout_.boxes().size(), 3u);
  EXPECT_EQ(BoxAt(1), "20,13,60,20");
  EXPECT_TRUE(layout_.boxes()[1].sized_by_bitmap);
  EXPECT_EQ(BoxAt(2), "0,33,10,13");
}

TEST_F(LayoutTest, AdjacentLinksWithOneTargetMerge) {
  Add(Link(u"x", u"abc", 0x0000FFu), Link(u"x", u"defghijk", 0x00FF00u), Link(u"y", u"z"));
  ASSERT_EQ(layout_.element_count(), 2u);
  const auto& link = static_cast<const LinkElement&>(layout_.element(0));
  EXPECT_EQ(link.text(), u"abcdefghijk");
  ASSERT_EQ(link.runs().size(), 2u);
  // Boxes of both runs are one chain, each with its run's colour.
  ASSERT_EQ(layout_.boxes().size(), 4u);
  EXPECT_EQ(BoxAt(0), "0,0,30,14");
  EXPECT_EQ(BoxAt(1), "30,0,70,14");
  EXPECT_EQ(BoxAt(2), "0,14,10,14");
  EXPECT_EQ(layout_.boxes()[0].next, 1);
  EXPECT_EQ(layout_.boxes()[1].next, 2);
  EXPECT_EQ(layout_.boxes()[2].next, -1);
  EXPECT_EQ(layout_.boxes()[0].colour, 0x0000FFu);
  EXPECT_EQ(layout_.boxes()[2].colour, 0x00FF00u);
  EXPECT_EQ(layout_.boxes()[2].begin, 10u);
  EXPECT_EQ(layout_.boxes()[3].element, 1u);
  // Merging across appends: the next chunk continues the same link.
  Add(Link(u"y", u"w"));
  EXPECT_EQ(layout_.element_count(), 2u);
  // Relaying out keeps the runs apart.
  layout_.SetImageDisplay(false);
  EXPECT_EQ(layout_.boxes().size(), 5u);
  EXPECT_EQ(layout_.boxes()[2].colour, 0x00FF00u);
}

TEST_F(LayoutTest, ALinkInterruptedByAFontChangeIsOneFocusStop) {
  HtmlDocumentBuilder builder;
  ElementList list;
  builder.LoadDocumentUtf8("<a href=u>ab<font color=#FF0000>cd</font>ef</a> <a href=v>g</a>", &list);
  builder.FinishDocument(&list);
  ASSERT_EQ(list.size(), 4u);
  layout_.Append(&list);
  ASSERT_EQ(layout_.element_count(), 2u);
  EXPECT_EQ(layout_.NextFocusable(-1, 0, 100), 0);
  EXPECT_EQ(layout_.NextFocusable(0, 0, 100), 1);
  EXPECT_EQ(layout_.NextFocusable(1, 0, 100), -1);
  EXPECT_EQ(layout_.boxes()[1].colour, 0x000000FFu);
}

TEST_F(LayoutTest, LabelledBlockWrapsItsValueBesideTheLabelColumn) {
  auto block = std::make_unique<LabelledBlockElement>();
  block->label = u"From:";
  block->value = u"abcdefghijklmn";  // room 100 - 45 - 3 = 52: five glyphs a line
  auto empty = std::make_unique<LabelledBlockElement>();
  empty->label = u"To:";
  auto tall = std::make_unique<LabelledBlockElement>();
  tall->value = u"abcdefghijk";
  tall->max_lines = 5;
  tall->line_gap = 2;
  tall->top_space = 1;
  tall->bottom_space = 0;
  Add(Text(u"a"), std::move(block), std::move(empty), std::move(tall));
  EXPECT_EQ(BoxAt(1), "0,13,100,30");  // 2 x 12 + 3 + 3
  const auto& b = static_cast<const LabelledBlockElement&>(layout_.element(1));
  ASSERT_EQ(b.value_lines.size(), 2u);
  EXPECT_EQ(b.value_lines[1], std::make_pair(size_t{5}, size_t{10}));
  EXPECT_EQ(BoxAt(2), "0,43,100,18");  // the label alone: 12 + 3 + 3
  EXPECT_EQ(BoxAt(3), "0,61,100,41");  // 3 x 12 + 2 x 2 + 1
}

TEST_F(LayoutTest, ALabelledBlockValueTakesOneCharacterALineAtLeast) {
  auto block = std::make_unique<LabelledBlockElement>();
  block->label_width = 200;
  block->value = u"abc";
  block->max_lines = 9;
  Add(std::move(block));
  const auto& b = static_cast<const LabelledBlockElement&>(layout_.element(0));
  EXPECT_EQ(b.value_lines.size(), 3u);
}

// One text run laid out at the narrowest line width (with a layout of wide glyphs).
void LayOutWide(std::u16string text, HtmlLayout* layout) {
  LayoutGeometry g;
  g.line_width = kMinLineWidth;
  ASSERT_TRUE(layout->Reset(g));
  ElementList list;
  list.push_back(Text(std::move(text)));
  layout->Append(&list);
}

TEST_F(LayoutTest, AGlyphWiderThanTheLineTakesALineOfItsOwn) {
  FakeTextFont wide(60, 12);
  HtmlLayout layout(&wide);
  LayOutWide(u"abc", &layout);
  ASSERT_EQ(layout.boxes().size(), 3u);
  EXPECT_EQ(layout.lines().size(), 3u);
  EXPECT_EQ(layout.boxes()[2].width, 60);
}

TEST_F(LayoutTest, ASurrogatePairIsNeverCut) {
  // Nine pairs of 10 pixels and one more: the tenth pair ends the line.
  std::u16string text;
  for (int i = 0; i < 11; ++i) text += u"\U0001F600";
  Add(Text(text));
  ASSERT_EQ(layout_.boxes().size(), 2u);
  EXPECT_EQ(layout_.boxes()[0].end, 20u);
  EXPECT_EQ(layout_.boxes()[1].begin, 20u);
  // An empty line too narrow for a pair takes the whole pair.
  FakeTextFont wide(60, 12);
  HtmlLayout layout(&wide);
  LayOutWide(u"\U0001F600\U0001F600", &layout);
  ASSERT_EQ(layout.boxes().size(), 2u);
  EXPECT_EQ(layout.boxes()[0].end, 2u);
}

TEST_F(LayoutTest, FitTakesTheLongestPrefixThatFitsOnRandomWidths) {
  std::mt19937 rng(7);
  FakeTextFont font([](char16_t c) { return static_cast<int>(c % 23); }, 12);
  for (int round = 0; round < 200; ++round) {
    HtmlLayout layout(&font);
    LayoutGeometry g;
    g.line_width = std::uniform_int_distribution<int>(51, 400)(rng);
    ASSERT_TRUE(layout.Reset(g));
    std::u16string text;
    const int length = std::uniform_int_distribution<int>(1, 300)(rng);
    for (int i = 0; i < length; ++i) {
      const auto c = static_cast<char16_t>(std::uniform_int_distribution<int>(u'a', u'a' + 60)(rng));
      // Closing punctuation moves breaks (line_breaks_test.cc covers it).
      text.push_back(IsClosingPunctuation(c) ? u'a' : c);
    }
    ElementList list;
    list.push_back(Text(u"q"));  // 21 pixels first, so the first line starts used
    list.push_back(Text(text));
    layout.Append(&list);
    std::vector<int> advances;
    font.Advances(text, &advances);
    for (size_t i = 1; i < layout.boxes().size(); ++i) {
      const LayoutBox& box = layout.boxes()[i];
      const int room = g.line_width - box.x;
      // Brute force: the longest prefix from box.begin within room.
      int width = 0;
      size_t end = box.begin;
      while (end < text.size() && width + advances[end] <= room) width += advances[end++];
      if (end == box.begin) ++end;  // an empty line still takes one
      ASSERT_EQ(box.end, end) << "round " << round << " box " << i;
      ASSERT_EQ(box.width, width == 0 ? advances[box.begin] : width);
    }
    ASSERT_EQ(layout.boxes().back().end, text.size());
  }
}

TEST_F(LayoutTest, HitTestAndBandsSearchTheLines) {
  Add(Text(u"abc"), Link(u"t", u"de"), Break(), Image(), Text(std::u16string(30, u'z')));
  // Lines: 0 y0 h14, 1 y14 h30 (image at x30), 2..4 the z lines of 13.
  EXPECT_EQ(layout_.HitTest(7, 0), 0);
  EXPECT_EQ(layout_.HitTest(7 + 35, 13), 1);
  EXPECT_EQ(layout_.HitTest(6, 0), -1);           // in the left margin
  EXPECT_EQ(layout_.HitTest(7 + 55, 5), -1);      // past the used width
  EXPECT_EQ(layout_.HitTest(7 + 5, 13), -1);      // below the 13-pixel text box
  EXPECT_EQ(layout_.HitTest(7 + 30, 14), 3);
  EXPECT_EQ(layout_.HitTest(7 + 29, 14), -1);
  EXPECT_EQ(layout_.HitTest(7 + 99, 44 + 13 * 2 + 12), 4);
  EXPECT_EQ(layout_.HitTest(7, 44 + 13 * 3), -1);  // below the document
  EXPECT_EQ(layout_.HitTest(7, -1), -1);
  EXPECT_EQ(layout_.BoxesBetween(0, 14), std::make_pair(size_t{0}, size_t{2}));
  EXPECT_EQ(layout_.BoxesBetween(13, 15), std::make_pair(size_t{0}, size_t{3}));
  EXPECT_EQ(layout_.BoxesBetween(44, 57), std::make_pair(size_t{3}, size_t{4}));
  EXPECT_EQ(layout_.BoxesBetween(1000, 2000), std::make_pair(size_t{0}, size_t{0}));
  EXPECT_EQ(layout_.ElementTop(3), 14);
  EXPECT_EQ(layout_.ElementTop(99), 0);
}

TEST_F(LayoutTest, FocusOrderKeepsToTheVisibleRows) {
  // Lines: link 0 at y0; image at y14..44; link "xx..." over two lines y44..72.
  Add(Link(u"a", u"one"), Break(), Image(), Link(u"b", std::u16string(15, u'x')), Text(u"t"),
      Image());
  // Text "t" follows the link on its second line (y58); the image starts a
  // new line at y72.
  EXPECT_EQ(layout_.ElementTop(5), 72);
  EXPECT_EQ(layout_.NextFocusable(-1, 0, 1000), 0);
  EXPECT_EQ(layout_.NextFocusable(0, 0, 1000), 2);
  EXPECT_EQ(layout_.NextFocusable(2, 0, 1000), 3);
  EXPECT_EQ(layout_.NextFocusable(3, 0, 1000), 5);
  EXPECT_EQ(layout_.NextFocusable(5, 0, 1000), -1);
  EXPECT_EQ(layout_.NextFocusable(99, 0, 1000), 0);
  // The link spans rows 44..72: not wholly inside 0..60.
  EXPECT_EQ(layout_.NextFocusable(2, 0, 60), -1);
  EXPECT_EQ(layout_.NextFocusable(-1, 10, 60), 2);
  EXPECT_EQ(layout_.PreviousFocusable(99, 0, 1000), 5);
  EXPECT_EQ(layout_.PreviousFocusable(5, 0, 1000), 3);
  EXPECT_EQ(layout_.PreviousFocusable(2, 10, 1000), -1);
  EXPECT_EQ(layout_.PreviousFocusable(-1, 14, 72), 3);
  EXPECT_EQ(layout_.FirstImage(), 2);
  EXPECT_EQ(layout_.NextImage(2), 5);
  EXPECT_EQ(layout_.NextImage(5), -1);
  // An image without a box cannot take the focus.
  layout_.SetImageDisplay(false);
  EXPECT_EQ(layout_.NextFocusable(0, 0, 1000), 3);
}

TEST_F(LayoutTest, AMegabyteRunIsLaidOutWithBoxesThatReferToItsText) {
  Add(Text(std::u16string(1 << 20, u'm')));
  EXPECT_EQ(layout_.boxes().size(), (1u << 20) / 10 + 1);
  EXPECT_EQ(layout_.boxes().back().end, 1u << 20);
  EXPECT_EQ(layout_.DocumentHeight(), int64_t{13} * ((1 << 20) / 10 + 1));
}

TEST_F(LayoutTest, GeometryAndHeightsAreBounded) {
  LayoutGeometry g;
  g.line_width = kMaxLineWidth + 1;
  EXPECT_FALSE(layout_.Reset(g));
  g.line_width = kMaxLineWidth;
  g.line_spacing = -5;  // would make lines overlap: counts as 0
  g.top_margin = 1 << 20;
  ASSERT_TRUE(layout_.Reset(g));
  EXPECT_EQ(layout_.geometry().line_spacing, 0);
  Add(std::make_unique<BarElement>(0u, -7), std::make_unique<BarElement>(0u, 1 << 30));
  EXPECT_EQ(BoxAt(0), "0,1048576," + std::to_string(kMaxLineWidth) + ",0");
  EXPECT_EQ(layout_.boxes()[1].height, kMaxSpacerHeight);
  // A document taller than an int counts its height in 64 bits.
  ElementList list;
  for (uint32_t i = 2; i < kMaxDocumentElements + 10; ++i) {
    list.push_back(std::make_unique<BarElement>(0u, kMaxSpacerHeight));
  }
  layout_.Append(&list);
  EXPECT_EQ(layout_.element_count(), kMaxDocumentElements);
  EXPECT_EQ(layout_.DocumentHeight(),
            (1 << 20) + int64_t{kMaxSpacerHeight} * (kMaxDocumentElements - 1));
  EXPECT_GT(layout_.DocumentHeight(), int64_t{INT32_MAX});
  EXPECT_EQ(layout_.HitTest(5, layout_.DocumentHeight() - 1), static_cast<int>(kMaxDocumentElements - 1));
}

TEST_F(LayoutTest, ResetDropsTheDocument) {
  Add(Text(u"abc"), Image());
  const uint64_t before = layout_.generation();
  LayoutGeometry g;
  g.line_width = 60;
  ASSERT_TRUE(layout_.Reset(g));
  EXPECT_GT(layout_.generation(), before);
  EXPECT_EQ(layout_.element_count(), 0u);
  EXPECT_TRUE(layout_.boxes().empty());
  EXPECT_EQ(layout_.DocumentHeight(), 0);
  EXPECT_EQ(layout_.FirstImage(), -1);
  EXPECT_EQ(layout_.HitTest(0, 0), -1);
}

}  // namespace
}  // namespace html
}  // namespace quill
