#include "ui/body_view.h"

#include <QFocusEvent>
#include <QImage>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QWheelEvent>
#include <algorithm>
#include <climits>


namespace quill {
namespace ui {

BodyView::BodyView(MessageLoop* loop, const html::TextFont* font, QWidget* parent)
    : QAbstractScrollArea(parent), view_(loop, font) {
  setFocusPolicy(Qt::StrongFocus);
  setFrameShape(QFrame::NoFrame);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  verticalScrollBar()->setSingleStep(kLineStep);
  viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
  view_.AddListener(this);
  // Scroll-bar clicks and drags are scroll requests of the person; the
  // slider already shows the new position when this is told.
  QObject::connect(verticalScrollBar(), &QScrollBar::actionTriggered, this, [this](int) {
    if (on_scrolled) on_scrolled(verticalScrollBar()->sliderPosition());
  });
}

BodyView::~BodyView() { view_.RemoveListener(this); }

void BodyView::SetDocument(HeaderMaker header, std::u16string body) {
  header_ = std::move(header);
  body_ = std::move(body);
  laid_out_width_ = 0;
  // A view not shown yet has no size of its own: showing it lays it out.
  if (isVisible()) Load();
}

void BodyView::Load() {
  const int width = viewport()->width();
  html::LayoutGeometry geometry;
  geometry.left_margin = kLeftMargin;
  geometry.line_width = width - kLeftMargin;
  if (!header_ || geometry.line_width < html::kMinLineWidth) return;  // laid out once sized
  laid_out_width_ = width;
  first_page_told_ = false;
  const int64_t keep = position();
  view_.SetViewSize(width, viewport()->height());
  view_.SetScreenSize(width, 3 * std::max(viewport()->height(), 1));
  if (!view_.SetHtmlWithHeader(body_, header_(), geometry)) FirstPage();
  UpdateRange();
  verticalScrollBar()->setValue(static_cast<int>(std::min<int64_t>(keep, max_position())));
}

void BodyView::FirstPage() {
  if (first_page_told_) return;
  first_page_told_ = true;
  viewport()->repaint();
  if (on_first_page) on_first_page();
}

void BodyView::Append(std::u16string_view more) {
  body_.append(more);
  if (laid_out_width_ != 0) view_.AppendHtml(more);
}

int64_t BodyView::position() const { return verticalScrollBar()->value(); }

int64_t BodyView::max_position() const {
  return std::max<int64_t>(0, std::min<int64_t>(view_.GetDocumentHeight() - page(), INT_MAX));
}

int BodyView::page() const { return std::max(viewport()->height(), 1); }

void BodyView::ScrollTo(int64_t position) {
  const int64_t to = std::clamp<int64_t>(position, 0, max_position());
  verticalScrollBar()->setValue(static_cast<int>(to));
  if (on_scrolled) on_scrolled(to);
}

void BodyView::ScrollBy(int64_t delta) { ScrollTo(position() + delta); }

void BodyView::UpdateRange() {
  QScrollBar* bar = verticalScrollBar();
  bar->setPageStep(page());
  bar->setRange(0, static_cast<int>(max_position()));
}

void BodyView::OnViewChanged(int64_t document_height) {
  UpdateRange();
  if (laid_out_width_ != 0 && (document_height >= page() || !view_.loading())) {
    FirstPage();
  }
  viewport()->update();
  if (on_changed) on_changed();
}

bool BodyView::OnTap(html::TapKind kind, const std::u16string& text) {
  if (on_activate) on_activate(kind, text);
  return true;
}

void BodyView::paintEvent(QPaintEvent* event) {
  const QSize size = viewport()->size();
  if (size.isEmpty()) return;
  if (canvas_.width() != size.width() || canvas_.height() != size.height()) {
    if (!canvas_.Reset(size.width(), size.height())) return;
  }
  view_.SetScrollOffset(position());
  const QRect r = event->rect().intersected(viewport()->rect());
  view_.Paint(gfx::Rect{r.left(), r.top(), r.right() + 1, r.bottom() + 1}, &canvas_);
  // The canvas's bytes are R, G, B, A: Qt reads them where they are.
  const QImage image(reinterpret_cast<const uchar*>(canvas_.pixels()), canvas_.width(),
                     canvas_.height(), canvas_.width() * 4, QImage::Format_RGBA8888);
  QPainter painter(viewport());
  painter.setCompositionMode(QPainter::CompositionMode_Source);
  painter.drawImage(r, image, r);
}

void BodyView::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  if (viewport()->width() != laid_out_width_) {
    Load();
  } else {
    view_.SetViewSize(viewport()->width(), viewport()->height());
    view_.SetScreenSize(viewport()->width(), 3 * page());
    UpdateRange();
  }
}

void BodyView::scrollContentsBy(int, int) { viewport()->update(); }

void BodyView::keyPressEvent(QKeyEvent* event) {
  view_.SetScrollOffset(position());
  switch (event->key()) {
    case Qt::Key_Space:
    case Qt::Key_Right:
    case Qt::Key_PageDown:
      ScrollBy(page());
      break;
    case Qt::Key_Left:
    case Qt::Key_PageUp:
      ScrollBy(-page());
      break;
    case Qt::Key_Down:
      if (!view_.FocusNext()) ScrollBy(kLineStep);
      break;
    case Qt::Key_Up:
      if (!view_.FocusPrevious()) ScrollBy(-kLineStep);
      break;
    case Qt::Key_Home:
      ScrollTo(0);
      break;
    case Qt::Key_End:
      ScrollTo(max_position());
      break;
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Select:
      ActivateFocused();
      break;
    default:
      event->ignore();  // the screen's keys (back, soft keys)
      return;
  }
  event->accept();
}

void BodyView::ActivateFocused() {
  const int index = view_.focused_element();
  if (index < 0) return;
  const html::HtmlLayout& layout = view_.layout();
  const int32_t first = layout.element(index).first_box();
  if (first < 0) return;
  // A tap on the element's first box tells the listeners what it holds.
  const html::LayoutBox& box = layout.boxes()[first];
  const int x = layout.geometry().left_margin + box.x;
  const int64_t y = view_.ElementTop(index);
  if (y < INT_MIN || y > INT_MAX) return;
  view_.PenDown(x, static_cast<int>(y));
  view_.PenUp(x, static_cast<int>(y));
}

void BodyView::wheelEvent(QWheelEvent* event) {
  const int notches = event->angleDelta().y() / 120;
  if (notches != 0) ScrollBy(-int64_t{notches} * kWheelLines * kLineStep);
  event->accept();
}

void BodyView::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  setFocus(Qt::MouseFocusReason);
  view_.SetScrollOffset(position());
  const QPoint p = event->position().toPoint();
  view_.PenDown(p.x(), p.y());
}

void BodyView::mouseMoveEvent(QMouseEvent* event) {
  const QPoint p = event->position().toPoint();
  view_.PenMove(p.x(), p.y());
}

void BodyView::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  view_.SetScrollOffset(position());
  const QPoint p = event->position().toPoint();
  view_.PenUp(p.x(), p.y());
}

void BodyView::focusInEvent(QFocusEvent* event) {
  QAbstractScrollArea::focusInEvent(event);
  view_.SetViewFocused(true);
  viewport()->update();
}

void BodyView::focusOutEvent(QFocusEvent* event) {
  QAbstractScrollArea::focusOutEvent(event);
  view_.SetViewFocused(false);
  viewport()->update();
}

}  // namespace ui
}  // namespace quill
