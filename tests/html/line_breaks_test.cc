// Closing punctuation never starts a line: inside a run, across runs and
// links, in header values, with surrogate pairs, and on random documents.
#include "html/line_breaks.h"

#include <memory>
#include <random>
#include <string>

#include "gtest/gtest.h"
#include "html/html_layout.h"
#include "html/labelled_block_element.h"
#include "html/link_element.h"
#include "html/text_element.h"
#include "platform/utf.h"
#include "tests/html/fake_text_font.h"

namespace quill {
namespace html {
namespace {

std::unique_ptr<DisplayElement> Text(std::u16string text) {
  return std::make_unique<TextElement>(std::move(text), kNoColour, FontRequest());
}

// Glyphs of 10 x 12 on lines 100 wide: ten characters a line.
class LineBreakTest : public ::testing::Test {
 protected:
  LineBreakTest() : font_(10, 12), layout_(&font_) {
    LayoutGeometry g;
    g.line_width = 100;
    EXPECT_TRUE(layout_.Reset(g));
  }

  template <typename... E>
  void Add(E... elements) {
    ElementList list;
    (list.push_back(std::move(elements)), ...);
    layout_.Append(&list);
  }

  // The text of every line, lines separated by "|".
  std::u16string Lines() const {
    std::u16string out;
    for (size_t i = 0; i < layout_.boxes().size(); ++i) {
      const LayoutBox& box = layout_.boxes()[i];
      if (i > 0 && box.line != layout_.boxes()[i - 1].line) out += u'|';
      const DisplayElement& e = layout_.element(box.element);
      const std::u16string& text = e.type() == ElementType::kLink
                                       ? static_cast<const LinkElement&>(e).text()
                                       : static_cast<const TextElement&>(e).text();
      out += text.substr(box.begin, box.end - box.begin);
    }
    return out;
  }

  FakeTextFont font_;
  HtmlLayout layout_;
};

TEST(LineBreaksTest, ClosingPunctuation) {
  for (char16_t c : std::u16string(u"。，、）」』】》！？：；….,)]!?")) {
    EXPECT_TRUE(IsClosingPunctuation(c)) << static_cast<int>(c);
  }
  for (char16_t c : std::u16string(u"中a（「《“ -")) {
    EXPECT_FALSE(IsClosingPunctuation(c)) << static_cast<int>(c);
  }
}

TEST_F(LineBreakTest, ABreakBeforeClosingPunctuationMovesBack) {
  Add(Text(u"一二三四五六七八九十。后"));
  EXPECT_EQ(Lines(), u"一二三四五六七八九|十。后");
  // Several marks in a row go down together with the character before them.
  ASSERT_TRUE(layout_.Reset(layout_.geometry()));
  Add(Text(u"一二三四五六七八九」。后"));
  EXPECT_EQ(Lines(), u"一二三四五六七八|九」。后");
}

TEST_F(LineBreakTest, ASurrogatePairGoesDownWhole) {
  // The pair takes one glyph's width; the break may not fall inside it.
  Add(Text(u"一二三四五六七八九\U00020000，后"));
  EXPECT_EQ(Lines(), u"一二三四五六七八九|\U00020000，后");
}

TEST_F(LineBreakTest, ARunStartingWithPunctuationCarriesTheLineEndDown) {
  Add(Text(u"一二三四五六七八九十"), Text(u"，好"));
  EXPECT_EQ(Lines(), u"一二三四五六七八九|十，好");
  // The carried character stays with its element's chain of boxes.
  EXPECT_EQ(layout_.boxes()[0].next, 1);
  EXPECT_EQ(layout_.boxes()[1].element, 0u);
  EXPECT_EQ(layout_.boxes()[2].x, 10);
  EXPECT_EQ(layout_.lines()[0].used_width, 90);
}

TEST_F(LineBreakTest, ALinkEndIsCarriedInItsOwnColour) {
  Add(Text(u"abc"), std::make_unique<LinkElement>(0x123456u, u"http://x", u"defghij", FontRequest()));
  const uint64_t before = layout_.generation();
  Add(Text(u".x"));
  EXPECT_EQ(Lines(), u"abcdefghi|j.x");
  EXPECT_GT(layout_.generation(), before);  // a painted band must be redone
  const LayoutBox& carried = layout_.boxes()[2];
  EXPECT_EQ(carried.element, 1u);
  EXPECT_EQ(carried.colour, 0x123456u);
  EXPECT_EQ(carried.height, 14);
  EXPECT_EQ(layout_.boxes()[1].next, 2);
}

TEST_F(LineBreakTest, AOneCharacterBoxMovesWhole) {
  Add(Text(u"一二三四五六七八九"), Text(u"十"), Text(u"。"));
  EXPECT_EQ(Lines(), u"一二三四五六七八九|十。");
  ASSERT_EQ(layout_.boxes().size(), 3u);
  EXPECT_EQ(layout_.boxes()[1].line, 1u);
  EXPECT_EQ(layout_.boxes()[1].x, 0);
  EXPECT_EQ(layout_.lines()[1].first_box, 1u);
  EXPECT_EQ(layout_.lines()[0].used_width, 90);
  EXPECT_EQ(layout_.DocumentHeight(), 26);
}

TEST_F(LineBreakTest, MarksOfSeveralRunsGoDownWithTheCharacterBeforeThem) {
  Add(Text(u"一二三四五六七八九"), Text(u"，"), Text(u"）东"));
  EXPECT_EQ(Lines(), u"一二三四五六七八|九，）东");
  ASSERT_EQ(layout_.boxes().size(), 4u);
  EXPECT_EQ(layout_.boxes()[0].next, 1);     // the first run's two boxes
  EXPECT_EQ(layout_.boxes()[2].element, 1u);  // "，" moved down whole
  EXPECT_EQ(layout_.element(1).first_box(), 2);
  EXPECT_EQ(layout_.boxes()[2].x, 10);
  EXPECT_EQ(layout_.boxes()[3].x, 20);
}

TEST_F(LineBreakTest, ALineOfNothingButPunctuationStillFlows) {
  Add(Text(std::u16string(25, u'。')));
  EXPECT_EQ(layout_.lines().size(), 3u);
  Add(Text(u"，"));  // nothing to carry: the mark starts the next line
  EXPECT_EQ(layout_.boxes().back().x, 50);
}

TEST_F(LineBreakTest, HeaderValuesBreakBeforeTheCharacterThatPrecedesAMark) {
  auto block = std::make_unique<LabelledBlockElement>();
  block->value = u"一二三四五。六七";  // room 100 - 45 - 3 = 52: five a line
  block->max_lines = 3;
  Add(std::move(block));
  const auto& b = static_cast<const LabelledBlockElement&>(layout_.element(0));
  ASSERT_EQ(b.value_lines.size(), 2u);
  EXPECT_EQ(b.value_lines[0], std::make_pair(size_t{0}, size_t{4}));
  EXPECT_EQ(b.value_lines[1], std::make_pair(size_t{4}, size_t{8}));
}

// Random runs of ideographs with at most two marks in a row, cut into
// random elements: every character shows once, in order, on lines no wider
// than the line, and no line starts with a mark.
TEST_F(LineBreakTest, RandomDocumentsNeverStartALineWithAMark) {
  std::mt19937 random(7);
  const std::u16string marks = u"。，）」！";
  for (int round = 0; round < 200; ++round) {
    ASSERT_TRUE(layout_.Reset(layout_.geometry()));
    std::u16string all;
    ElementList list;
    const int elements = 1 + static_cast<int>(random() % 12);
    for (int e = 0; e < elements; ++e) {
      std::u16string text;
      const int n = 1 + static_cast<int>(random() % 15);
      for (int i = 0; i < n; ++i) {
        // Never a mark first, nor a third one in a row (across elements too).
        const std::u16string before = all + text;
        const size_t m = before.size();
        const bool room = m >= 1 && !(m >= 2 && IsClosingPunctuation(before[m - 1]) &&
                                      IsClosingPunctuation(before[m - 2]));
        text += room && random() % 3 == 0 ? marks[random() % marks.size()]
                                          : static_cast<char16_t>(u'一' + random() % 50);
      }
      all += text;
      if (random() % 4 == 0) {
        const std::u16string target = {u't', static_cast<char16_t>(u'a' + e)};
        list.push_back(std::make_unique<LinkElement>(kNoColour, target, text, FontRequest()));
      } else {
        list.push_back(Text(text));
      }
    }
    layout_.Append(&list);
    std::u16string shown;
    for (char16_t c : Lines()) {
      if (c != u'|') shown += c;
    }
    ASSERT_EQ(shown, all) << round;
    // Each element's chain runs over its whole text, in order.
    for (size_t e = 0; e < layout_.element_count(); ++e) {
      uint32_t covered = 0;
      for (int32_t at = layout_.element(e).first_box(); at >= 0; at = layout_.boxes()[at].next) {
        ASSERT_EQ(layout_.boxes()[at].element, e);
        ASSERT_EQ(layout_.boxes()[at].begin, covered) << round;
        covered = layout_.boxes()[at].end;
      }
      const DisplayElement& el = layout_.element(e);
      EXPECT_EQ(covered, (el.type() == ElementType::kLink
                              ? static_cast<const LinkElement&>(el).text()
                              : static_cast<const TextElement&>(el).text())
                             .size());
    }
    for (size_t i = 0; i < layout_.lines().size(); ++i) {
      const LayoutLine& line = layout_.lines()[i];
      EXPECT_LE(line.used_width, 100);
      if (line.first_box >= layout_.boxes().size()) continue;
      const LayoutBox& first = layout_.boxes()[line.first_box];
      const DisplayElement& e = layout_.element(first.element);
      const std::u16string& text = e.type() == ElementType::kLink
                                       ? static_cast<const LinkElement&>(e).text()
                                       : static_cast<const TextElement&>(e).text();
      EXPECT_FALSE(IsClosingPunctuation(text[first.begin]))
          << round << " line " << i << ": " << Utf16ToUtf8(Lines());
      EXPECT_EQ(first.x, 0);
    }
  }
}

}  // namespace
}  // namespace html
}  // namespace quill
