// The reader's body: our HTML view in a scroll area. The view lays the
// header rows and the mail out and paints them on a canvas of the
// viewport's size, which Qt shows through a QImage over the same pixels
// (no copy). The scroll area keeps the vertical position; its scroll bar
// stays on, so the line width (viewport width - left margin) does not
// change when the document grows past one page.
//
// The first page is painted as soon as it is laid out, not when the loop
// next gets to painting: the loader keeps laying out further chunks in the
// same turn of the loop for a while.
//
// Input, as the handheld's reader takes it: Space and Right go one page
// down, Left one page up (Page Up / Page Down too), Up and Down move the
// focus to the previous / next link or header row inside the page, or
// scroll 20 pixels when there is none, Home and End go to the top and the
// bottom, Return activates the focused element, a tap activates the
// element under it. Every scroll request (moved or not) is reported, so
// the reader can ask for more of the body.
//
// Threading: UI thread only; the loop and the font must outlive the view.
#ifndef QUILL_UI_BODY_VIEW_H_
#define QUILL_UI_BODY_VIEW_H_

#include <QAbstractScrollArea>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "html/html_view.h"
#include "platform/canvas.h"
#include "platform/message_loop.h"

namespace quill {
namespace ui {

class BodyView : public QAbstractScrollArea, private html::HtmlViewListener {
 public:
  static constexpr int kLineStep = 20;    // pixels per line up / down
  static constexpr int kLeftMargin = 7;   // x of every line
  static constexpr int kWheelLines = 3;   // lines per wheel notch

  using HeaderMaker = std::function<html::ElementList()>;

  BodyView(MessageLoop* loop, const html::TextFont* font, QWidget* parent);
  ~BodyView() override;

  // Shows header (made again for each layout) and body (HTML), keeping
  // the scroll position as far as the new document reaches.
  void SetDocument(HeaderMaker header, std::u16string body);
  // Continues the body with more HTML.
  void Append(std::u16string_view more);
  void SetImageDisplay(bool on) { view_.SetImageDisplay(on); }

  html::HtmlView& html() { return view_; }
  const std::u16string& body() const { return body_; }
  int64_t position() const;
  // The largest position: document height - page, at least 0.
  int64_t max_position() const;
  int page() const;
  // Moves by delta pixels / to a position (clamped), as a scroll request.
  void ScrollBy(int64_t delta);
  void ScrollTo(int64_t position);

  // After every scroll request of the person, with the new position.
  std::function<void(int64_t position)> on_scrolled;
  // A tap on, or Return over, an element: its kind and target.
  std::function<void(html::TapKind kind, const std::u16string& target)> on_activate;
  // The document grew or changed (a chunk was laid out).
  std::function<void()> on_changed;
  // Once per document, when the first page is laid out (or the document
  // ends short of it), right after that page was painted.
  std::function<void()> on_first_page;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void scrollContentsBy(int dx, int dy) override;
  void keyPressEvent(QKeyEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;

 private:
  bool OnTap(html::TapKind kind, const std::u16string& text) override;
  void OnViewChanged(int64_t document_height) override;
  // Lays the document out again at the viewport's width.
  void Load();
  void UpdateRange();
  void ActivateFocused();
  void FirstPage();

  html::HtmlView view_;
  gfx::Canvas canvas_;       // the viewport's pixels, painted by view_
  HeaderMaker header_;       // makes the header rows for each layout
  std::u16string body_;      // the body shown so far (HTML)
  int laid_out_width_ = 0;   // viewport width of the current layout; 0 = none
  bool first_page_told_ = false;  // on_first_page ran for the current layout
};

}  // namespace ui
}  // namespace quill

#endif  // QUILL_UI_BODY_VIEW_H_
