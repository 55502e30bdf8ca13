// The view: loading one chunk per loop turn, stale turns dropped, appends,
// taps with their slop, focus moves, and the band cache painting what a
// fresh rendering paints.
#include "html/html_view.h"

#include <memory>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "html/element_description.h"
#include "html/image_element.h"
#include "html/labelled_block_element.h"
#include "platform/message_loop.h"
#include "tests/html/fake_text_font.h"
#include "tests/html/html_test_util.h"

namespace quill {
namespace html {
namespace {

struct Tapped {
  TapKind kind;       // what the view reported
  std::u16string text;  // its text
};

class RecordingListener final : public HtmlViewListener {
 public:
  bool OnTap(TapKind kind, const std::u16string& text) override {
    taps.push_back(Tapped{kind, text});
    return alive;
  }
  void OnViewChanged(int64_t height) override {
    ++changes;
    last_height = height;
  }

  bool alive = true;         // what OnTap answers
  std::vector<Tapped> taps;  // every tap seen
  int changes = 0;           // OnViewChanged calls
  int64_t last_height = -1;  // height of the latest OnViewChanged
};

LayoutGeometry Geometry(int width = 100) {
  LayoutGeometry g;
  g.left_margin = 7;
  g.line_width = width;
  return g;
}

class ViewTest : public ::testing::Test {
 protected:
  ViewTest() : font_(10, 12), view_(&loop_, &font_) {
    view_.SetViewSize(120, 60);
    view_.SetScreenSize(120, 100);
    view_.AddListener(&listener_);
  }

  void LoadAll() { ASSERT_TRUE(loop_.PumpUntil([this] { return !view_.loading(); }, 5000)); }
  // Runs exactly one more loop turn of the loader.
  void OneTurn() {
    const int before = listener_.changes;
    ASSERT_TRUE(loop_.PumpUntil([&] { return listener_.changes > before; }, 5000));
  }
  std::string Described() const { return DescribeElements(view_.layout().elements()); }

  // The window as painted through the band, and as painted tile by tile
  // (narrow requests go through buffers of their own).
  gfx::Canvas PaintWhole() {
    gfx::Canvas window;
    window.Reset(120, 60, 0);
    view_.Paint(gfx::Rect{0, 0, 120, 60}, &window);
    return window;
  }
  gfx::Canvas PaintTiles() {
    gfx::Canvas window;
    window.Reset(120, 60, 0);
    for (int x = 0; x < 120; x += 40) view_.Paint(gfx::Rect{x, 0, x + 40, 60}, &window);
    return window;
  }
  static bool Same(const gfx::Canvas& a, const gfx::Canvas& b) {
    return a.width() == b.width() && a.height() == b.height() &&
           std::equal(a.pixels(), a.pixels() + a.width() * a.height(), b.pixels());
  }

  MessageLoop loop_;
  FakeTextFont font_;
  HtmlView view_;
  RecordingListener listener_;
};

std::u16string LongDocument(int paragraphs) {
  std::u16string doc;
  for (int i = 0; i < paragraphs; ++i) {
    doc += u"<p>第" + std::u16string(1, static_cast<char16_t>(u'0' + i % 10)) +
           u"段 <a href=\"u\">链</a> <b>bold</b></p>";
  }
  return doc;
}

TEST_F(ViewTest, LoadsOneChunkPerLoopTurn) {
  const std::u16string doc = LongDocument(45);  // 1,800 units: four chunks
  ASSERT_GT(doc.size(), 3 * HtmlView::kChunkUnits);
  ASSERT_LE(doc.size(), 4 * HtmlView::kChunkUnits);
  ASSERT_TRUE(view_.SetHtml(doc, false, Geometry()));
  EXPECT_TRUE(view_.loading());
  EXPECT_EQ(view_.layout().element_count(), 0u);  // nothing before the loop turns
  const int after_set = listener_.changes;
  OneTurn();
  const size_t first = view_.layout().element_count();
  EXPECT_GT(first, 0u);
  EXPECT_TRUE(view_.loading());
  LoadAll();
  EXPECT_EQ(listener_.changes - after_set, 4);
  EXPECT_GT(view_.layout().element_count(), first);
  EXPECT_EQ(listener_.last_height, view_.GetDocumentHeight());
  // The same elements as one whole load.
  EXPECT_EQ(Described(), BuildChunked(doc, doc.size()));
}

TEST_F(ViewTest, ANewDocumentDropsTheTurnsOfTheOldOne) {
  ASSERT_TRUE(view_.SetHtml(LongDocument(60), false, Geometry()));
  OneTurn();
  ASSERT_TRUE(view_.SetHtml(u"<b>new</b> mail", false, Geometry()));
  EXPECT_EQ(view_.layout().element_count(), 0u);
  const int after_set = listener_.changes;
  LoadAll();
  EXPECT_EQ(Described(), "T\"new\"{b} T\" mail\"");
  // Only the new document's single turn ran; the old one's queued turn did nothing.
  loop_.PumpUntil([] { return false; }, 50);
  EXPECT_EQ(listener_.changes - after_set, 1);
  EXPECT_EQ(Described(), "T\"new\"{b} T\" mail\"");
}

TEST_F(ViewTest, AViewDestroyedWhileLoadingLeavesNoTurnBehind) {
  {
    HtmlView doomed(&loop_, &font_);
    RecordingListener listener;
    doomed.AddListener(&listener);
    ASSERT_TRUE(doomed.SetHtml(LongDocument(60), false, Geometry()));
    listener.changes = 0;
    ASSERT_TRUE(loop_.PumpUntil([&] { return listener.changes > 0; }, 5000));
    EXPECT_TRUE(doomed.loading());
  }
  // The queued turn went with the view's endpoint.
  loop_.PumpUntil([] { return false; }, 50);
}

TEST_F(ViewTest, AppendContinuesTheDocumentQueuedOrAfresh) {
  ASSERT_TRUE(view_.SetHtml(LongDocument(3) + u"<b>ab", false, Geometry()));
  EXPECT_TRUE(view_.AppendHtml(u"c</b>d"));  // queued behind the running load
  LoadAll();
  EXPECT_TRUE(view_.AppendHtml(u"<br>e<i>f"));  // a new load in continuation mode
  EXPECT_TRUE(view_.loading());
  LoadAll();
  const std::string d = Described();
  EXPECT_NE(d.find("T\"abc\"{b} T\"d\" | T\"e\" T\"f\"{i}"), std::string::npos) << d;
}

TEST_F(ViewTest, PlainTextBodies) {
  ASSERT_TRUE(view_.SetHtml(u"  first line \r\n<b>second</b>", true, Geometry()));
  LoadAll();
  EXPECT_EQ(Described(), "T\"first line\" | T\"<b>second</b>\"");
}

TEST_F(ViewTest, ARefusedGeometryLoadsNothing) {
  ASSERT_TRUE(view_.SetHtml(u"old", false, Geometry()));
  LoadAll();
  EXPECT_FALSE(view_.SetHtml(u"text", false, Geometry(50)));
  EXPECT_FALSE(view_.loading());
  EXPECT_FALSE(view_.AppendHtml(u"more"));
  EXPECT_EQ(view_.layout().element_count(), 0u);
  EXPECT_EQ(view_.GetDocumentHeight(), 0);
}

TEST_F(ViewTest, HeaderElementsComeFirst) {
  ElementList header;
  auto block = std::make_unique<LabelledBlockElement>();
  block->label = u"From";
  block->value = u"a@b";
  block->target = u"mailto:a@b";
  header.push_back(std::move(block));
  ASSERT_TRUE(view_.SetHtmlWithHeader(u"body", std::move(header), Geometry()));
  EXPECT_EQ(view_.layout().element_count(), 1u);
  LoadAll();
  EXPECT_EQ(Described(), "#6 T\"body\"");
  // Tapping the block reports its target.
  view_.PenDown(60, 5);
  view_.PenUp(60, 5);
  ASSERT_EQ(listener_.taps.size(), 1u);
  EXPECT_EQ(listener_.taps[0].kind, TapKind::kLink);
  EXPECT_EQ(listener_.taps[0].text, u"mailto:a@b");
}

TEST_F(ViewTest, TapsWithinTheSlopReportWhatWasHit) {
  ASSERT_TRUE(view_.SetHtml(u"ab<a href=\"http://x\">link</a><img src=\"cid:1\">", false,
                            Geometry()));
  LoadAll();
  // Line 0: "ab" at 7..27, the link at 27..67 (rows 0..14); the image at 37..77, rows 14..44.
  view_.PenDown(30, 5);
  view_.PenUp(34, 1);
  ASSERT_EQ(listener_.taps.size(), 1u);
  EXPECT_EQ(listener_.taps[0].kind, TapKind::kLink);
  EXPECT_EQ(listener_.taps[0].text, u"http://x");
  EXPECT_EQ(view_.focused_element(), 1);
  EXPECT_TRUE(view_.layout().element(1).focused());

  view_.PenDown(40, 20);
  view_.PenUp(40, 20);
  ASSERT_EQ(listener_.taps.size(), 2u);
  EXPECT_EQ(listener_.taps[1].kind, TapKind::kImage);
  EXPECT_EQ(listener_.taps[1].text, u"cid:1");
  EXPECT_FALSE(view_.layout().element(1).focused());
  EXPECT_EQ(view_.focused_element(), 2);

  view_.PenDown(10, 5);  // plain text
  view_.PenUp(10, 5);
  ASSERT_EQ(listener_.taps.size(), 3u);
  EXPECT_EQ(listener_.taps[2].kind, TapKind::kNothing);
  EXPECT_EQ(listener_.taps[2].text, u"");

  view_.PenDown(3, 5);  // the margin: nothing at all
  view_.PenUp(3, 5);
  view_.PenDown(30, 5);  // one pixel beyond the slop
  view_.PenUp(35, 5);
  view_.PenDown(30, 5);  // a drag away and back is no tap either
  view_.PenMove(30, 30);
  view_.PenUp(30, 5);
  EXPECT_EQ(listener_.taps.size(), 3u);

  // The scroll offset moves the document under the pen.
  view_.SetScrollOffset(14);
  view_.PenDown(40, 6);
  view_.PenUp(40, 6);
  ASSERT_EQ(listener_.taps.size(), 4u);
  EXPECT_EQ(listener_.taps[3].kind, TapKind::kImage);
}

TEST_F(ViewTest, AListenerThatReportsItselfGoneIsRemoved) {
  RecordingListener second;
  view_.AddListener(&second);
  listener_.alive = false;
  ASSERT_TRUE(view_.SetHtml(u"<a href=\"t\">x</a>", false, Geometry()));
  LoadAll();
  view_.PenDown(10, 5);
  view_.PenUp(10, 5);
  view_.PenDown(10, 5);
  view_.PenUp(10, 5);
  EXPECT_EQ(listener_.taps.size(), 1u);
  EXPECT_EQ(second.taps.size(), 2u);
  view_.RemoveListener(&second);
}

TEST_F(ViewTest, FocusMovesAmongTheVisibleFocusableElements) {
  // Links on lines at y 0, 30 and 60 (line break pairs between them).
  ASSERT_TRUE(view_.SetHtml(u"<a href=1>a</a><br><br><a href=2>b</a><br><br><a href=3>c</a>",
                            false, Geometry()));
  LoadAll();
  ASSERT_EQ(view_.layout().element_count(), 7u);
  EXPECT_EQ(view_.ElementTop(3), 30);
  EXPECT_EQ(view_.ElementTop(1), 0);  // a break has no box
  // The window shows rows 0..60: the third link (60..74) is outside.
  EXPECT_TRUE(view_.FocusFirstVisible());
  EXPECT_EQ(view_.focused_element(), 0);
  EXPECT_TRUE(view_.FocusNext());
  EXPECT_EQ(view_.focused_element(), 3);
  EXPECT_FALSE(view_.FocusNext());
  EXPECT_EQ(view_.focused_element(), 3);
  EXPECT_TRUE(view_.FocusPrevious());
  EXPECT_EQ(view_.focused_element(), 0);
  EXPECT_FALSE(view_.FocusPrevious());
  EXPECT_TRUE(view_.FocusLastVisible());
  EXPECT_EQ(view_.focused_element(), 3);
  view_.SetScrollOffset(30);
  EXPECT_EQ(view_.ElementTop(3), 0);
  EXPECT_TRUE(view_.FocusNext());
  EXPECT_EQ(view_.focused_element(), 6);
  view_.SetScrollOffset(500);
  EXPECT_FALSE(view_.FocusFirstVisible());
  EXPECT_FALSE(view_.FocusLastVisible());
  EXPECT_EQ(view_.focused_element(), 6);
  view_.SetFocusElement(99);
  EXPECT_EQ(view_.focused_element(), -1);
  EXPECT_FALSE(view_.layout().element(6).focused());
}

TEST_F(ViewTest, TheBandPaintsWhatAFreshRenderingPaints) {
  // The first chunk is all comment: the band is rendered before any box.
  const std::u16string doc = u"<!--" + std::u16string(600, u'x') + u"-->" + LongDocument(60);
  ASSERT_TRUE(view_.SetHtml(doc, false, Geometry()));
  OneTurn();
  ASSERT_EQ(view_.layout().element_count(), 0u);
  PaintWhole();
  LoadAll();
  EXPECT_TRUE(Same(PaintWhole(), PaintTiles()));  // new boxes were painted into the band
  // Scrolling within the band, and beyond it.
  for (int64_t scroll : {10, 35, 300, 280, 0}) {
    view_.SetScrollOffset(scroll);
    ASSERT_TRUE(Same(PaintWhole(), PaintTiles())) << scroll;
  }
  // Focus changes are repainted into the band.
  view_.SetViewFocused(true);
  ASSERT_TRUE(view_.FocusFirstVisible());
  const gfx::Canvas focused = PaintWhole();
  EXPECT_TRUE(Same(focused, PaintTiles()));
  view_.SetFocusElement(-1);
  const gfx::Canvas unfocused = PaintWhole();
  EXPECT_FALSE(Same(focused, unfocused));
  EXPECT_TRUE(Same(unfocused, PaintTiles()));
}

TEST_F(ViewTest, AScreenBeyondTheCanvasLimitsStillPaints) {
  view_.SetScreenSize(gfx::kMaxCanvasSide, gfx::kMaxCanvasSide);
  ASSERT_TRUE(view_.SetHtml(u"<font color=#0000FF>x</font>", false, Geometry()));
  LoadAll();
  const gfx::Canvas window = PaintWhole();
  EXPECT_EQ(window.PixelAt(8, 1), gfx::PixelFromColor(0x00FF0000));
  EXPECT_TRUE(Same(window, PaintTiles()));
}

TEST_F(ViewTest, ImagesArriveAndTheSwitchHidesThem) {
  ASSERT_TRUE(view_.SetHtml(u"a<img src=\"cid:1\">b", false, Geometry()));
  LoadAll();
  EXPECT_EQ(view_.GetDocumentHeight(), 13 + 30 + 13);
  gfx::Canvas before = PaintWhole();
  auto bitmap = std::make_unique<gfx::Canvas>();
  ASSERT_TRUE(bitmap->Reset(10, 10, gfx::PixelFromColor(0x0000FF00)));
  const int changes = listener_.changes;
  EXPECT_TRUE(view_.SetImage(1, std::move(bitmap)));
  EXPECT_GT(listener_.changes, changes);
  EXPECT_FALSE(view_.SetImage(0, std::make_unique<gfx::Canvas>()));
  EXPECT_EQ(view_.GetDocumentHeight(), 13 + 10 + 13);
  const gfx::Canvas after = PaintWhole();
  EXPECT_EQ(after.PixelAt(7 + 45, 13), gfx::PixelFromColor(0x0000FF00));
  EXPECT_TRUE(Same(after, PaintTiles()));
  view_.SetImageDisplay(false);
  EXPECT_EQ(view_.GetDocumentHeight(), 13);
  EXPECT_EQ(PaintWhole().PixelAt(7 + 45, 13), 0xFFFFFFFFu);
  view_.SetImageDisplay(true);
  EXPECT_EQ(view_.GetDocumentHeight(), 13 + 10 + 13);
}

TEST_F(ViewTest, AMegabyteBodyLoadsInBoundedTurnsWithEveryElementPlaced) {
  std::u16string doc;
  while (doc.size() < (1u << 20)) doc += u"<b>粗</b> <a href=\"u\">l</a><br><img src=x>";
  ASSERT_TRUE(view_.SetHtml(doc, false, Geometry()));
  const int before = listener_.changes;
  LoadAll();
  EXPECT_EQ(listener_.changes - before,
            static_cast<int>((doc.size() + HtmlView::kChunkUnits - 1) / HtmlView::kChunkUnits));
  const HtmlLayout& layout = view_.layout();
  for (size_t i = 0; i < layout.element_count(); ++i) {
    if (layout.element(i).type() != ElementType::kLineBreak) {
      ASSERT_GE(layout.element(i).first_box(), 0) << i;
    }
  }
  EXPECT_EQ(view_.GetDocumentHeight(), layout.lines().back().y + layout.lines().back().height);
  // Painting the last screen and hit-testing there need no walk from the top.
  view_.SetScrollOffset(view_.GetDocumentHeight() - 60);
  const gfx::Canvas last = PaintWhole();
  EXPECT_TRUE(Same(last, PaintTiles()));
  EXPECT_GE(view_.HitTest(50, 59), 0);
}

}  // namespace
}  // namespace html
}  // namespace quill
