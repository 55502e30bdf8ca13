#include "ui/mail_list_view.h"

#include <QDateTime>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScrollBar>
#include <algorithm>

#include "store/address_book.h"

namespace quill {
namespace ui {
namespace {

constexpr QRgb kSubjectGrey = 0x999999;
constexpr QRgb kSeparator = 0xcccccc;
constexpr int kMargin = 3;
constexpr int kCheckSize = 12;

QString Qs(const std::u16string& s) {
  return QString::fromUtf16(s.data(), static_cast<qsizetype>(s.size()));
}

// FILETIME (100 ns since 1601) to a local date text.
QString DateText(uint64_t filetime) {
  constexpr int64_t kEpochSeconds = 11644473600;
  const int64_t seconds = static_cast<int64_t>(filetime / 10000000ull) - kEpochSeconds;
  const QDateTime when = QDateTime::fromSecsSinceEpoch(seconds);
  const QDate today = QDate::currentDate();
  if (when.date() == today) return when.toString(QStringLiteral("HH:mm"));
  if (when.date().year() == today.year()) return when.toString(QStringLiteral("MM-dd"));
  return when.toString(QStringLiteral("yyyy-MM-dd"));
}

// A text with line breaks and tabs folded to spaces, for one-line drawing.
QString OneLine(QString s) {
  for (QChar& c : s) {
    if (c == u'\n' || c == u'\r' || c == u'\t') c = u' ';
  }
  return s;
}

}  // namespace

MailListView::MailListView(QWidget* parent) : QAbstractScrollArea(parent) {
  setFocusPolicy(Qt::StrongFocus);
  setFrameShape(QFrame::NoFrame);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  verticalScrollBar()->setSingleStep(20);
  viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
  hold_timer_.setSingleShot(true);
  hold_timer_.setInterval(kHoldMs);
  QObject::connect(&hold_timer_, &QTimer::timeout, [this] {
    if (press_row_ < 0) return;
    held_ = true;
    if (!multi_select_) SelectRow(press_row_);
    if (on_context_menu) on_context_menu(press_row_, viewport()->mapToGlobal(press_pos_));
  });
  QObject::connect(verticalScrollBar(), &QScrollBar::valueChanged,
                   [this] { viewport()->update(); });
  const QFontMetrics fm(font());
  row_height_ = 2 * fm.height() + 3 * kMargin;
}

void MailListView::SetStore(StoreGetter getter) {
  store_ = std::move(getter);
  Refresh();
}

void MailListView::SetFolder(uint32_t folder) {
  folder_ = folder;
  selected_.clear();
  current_ = -1;
  verticalScrollBar()->setValue(0);
  Refresh();
  SelectionChanged();
}

void MailListView::SetEmptyText(const QString& text) {
  if (text == empty_text_) return;
  empty_text_ = text;
  viewport()->update();
}

const store::ViewEntry* MailListView::Entries(size_t* count) const {
  store::MailStore* mails = store_ ? store_() : nullptr;
  if (mails == nullptr) {
    *count = 0;
    return nullptr;
  }
  const std::vector<store::ViewEntry>& view = mails->View(folder_);
  *count = view.size();
  return view.data();
}

int MailListView::RowCount() const {
  size_t n = 0;
  Entries(&n);
  return static_cast<int>(std::min<size_t>(n, INT32_MAX));
}

uint32_t MailListView::MailAt(int row) const {
  size_t n = 0;
  const store::ViewEntry* e = Entries(&n);
  if (row < 0 || static_cast<size_t>(row) >= n) return 0;
  return e[n - 1 - static_cast<size_t>(row)].mail_id;  // newest first
}

int MailListView::RowOf(uint32_t mail_id) const {
  store::MailStore* mails = store_ ? store_() : nullptr;
  if (mails == nullptr || !mails->Contains(mail_id)) return -1;
  size_t n = 0;
  const store::ViewEntry* e = Entries(&n);
  // The view is sorted by (date, MailID): find the mail's date first.
  uint8_t raw[store::MailRecord::kSummaryBytes];
  if (!mails->ReadMailField(mail_id, 0, sizeof raw, raw)) return -1;
  const store::ViewEntry key{store::MailRecord::DateOf(raw), mail_id};
  const store::ViewEntry* it = std::lower_bound(e, e + n, key);
  if (it == e + n || !(*it == key)) return -1;
  return static_cast<int>(n - 1 - static_cast<size_t>(it - e));
}

void MailListView::Refresh(const std::vector<uint32_t>& changed) {
  if (changed.empty()) {
    cache_.clear();
  } else {
    for (uint32_t id : changed) cache_.remove(id);
  }
  // Drop selected mails that left the view; keep the current row on its mail.
  store::MailStore* mails = store_ ? store_() : nullptr;
  for (auto it = selected_.begin(); it != selected_.end();) {
    if (mails == nullptr || !mails->Contains(*it) || RowOf(*it) < 0) {
      it = selected_.erase(it);
    } else {
      ++it;
    }
  }
  const int rows = RowCount();
  if (current_ >= rows) current_ = rows - 1;
  if (!multi_select_ && selected_.size() == 1) current_ = RowOf(*selected_.begin());
  UpdateScrollRange();
  viewport()->update();
}

MailListView::Row MailListView::RowData(int row) {
  const uint32_t id = MailAt(row);
  if (id == 0) return Row();
  auto it = cache_.find(id);
  if (it != cache_.end()) return *it;
  if (cache_.size() >= kCacheRows) cache_.clear();
  Row r = ReadRow(id);
  if (r.mail_id != 0) cache_.insert(id, r);
  return r;
}

MailListView::Row MailListView::ReadRow(uint32_t mail_id) {
  Row r;
  store::MailStore* mails = store_ ? store_() : nullptr;
  store::MailRecord mail;
  if (mails == nullptr || !mails->ReadMail(mail_id, &mail)) return r;
  r.mail_id = mail_id;
  std::u16string name, address;
  store::AddressBook::SplitDisplayAddress(mail.sender, &name, &address);
  r.sender = OneLine(Qs(name.empty() ? address : name));
  r.date = DateText(mail.date());
  std::u16string subject = mail.subject;
  if (subject.empty()) {
    store::MailFiles files;
    if (mails->files()->LoadMailFiles(mail_id, &files)) subject = files.brief;
  }
  r.subject = OneLine(Qs(subject));
  r.unread = mail.unread();
  r.draft = mail.folder() == store::kLocalFolder || mail.local_kind() != 0;
  r.attachment = mail.attach_count() != 0 || !mail.attachments.empty();
  return r;
}

int MailListView::RowAt(const QPoint& pos) const {
  if (pos.y() < 0) return -1;
  const int row = (pos.y() + verticalScrollBar()->value()) / row_height_;
  return row < RowCount() ? row : -1;
}

void MailListView::VisibleRows(int* first, int* last) const {
  const int top = verticalScrollBar()->value();
  *first = top / row_height_;
  *last = std::min(RowCount() - 1, (top + viewport()->height() - 1) / row_height_);
}

std::vector<uint32_t> MailListView::SelectedMails() const {
  return std::vector<uint32_t>(selected_.begin(), selected_.end());
}

bool MailListView::SelectRow(int row) {
  const uint32_t id = MailAt(row);
  if (id == 0) return false;
  current_ = row;
  if (!multi_select_) selected_.clear();
  selected_.insert(id);
  EnsureVisible(row);
  viewport()->update();
  SelectionChanged();
  return true;
}

void MailListView::SetMultiSelect(bool on) {
  multi_select_ = on;
  viewport()->update();
}

void MailListView::ToggleRow(int row) {
  const uint32_t id = MailAt(row);
  if (id == 0) return;
  current_ = row;
  if (!selected_.erase(id)) selected_.insert(id);
  viewport()->update();
  SelectionChanged();
}

void MailListView::UpdateScrollRange() {
  const int64_t total = static_cast<int64_t>(RowCount()) * row_height_;
  const int64_t range = std::max<int64_t>(0, total - viewport()->height());
  verticalScrollBar()->setRange(0, static_cast<int>(std::min<int64_t>(range, INT32_MAX)));
  verticalScrollBar()->setPageStep(viewport()->height());
}

void MailListView::EnsureVisible(int row) {
  const int top = row * row_height_;
  QScrollBar* bar = verticalScrollBar();
  if (top < bar->value()) {
    bar->setValue(top);
  } else if (top + row_height_ > bar->value() + viewport()->height()) {
    bar->setValue(top + row_height_ - viewport()->height());
  }
}

void MailListView::paintEvent(QPaintEvent*) {
  QPainter p(viewport());
  p.fillRect(viewport()->rect(), palette().color(QPalette::Base));
  rows_painted_ = 0;
  if (RowCount() == 0) {
    p.setPen(palette().color(QPalette::Text));
    p.drawText(viewport()->rect(), Qt::AlignCenter | Qt::TextWordWrap, empty_text_);
    return;
  }
  int first = 0, last = -1;
  VisibleRows(&first, &last);
  const int top = verticalScrollBar()->value();
  for (int row = first; row <= last; ++row) {
    const Row r = RowData(row);
    const QRect rect(0, row * row_height_ - top, viewport()->width(), row_height_);
    PaintRow(&p, r, rect, selected_.count(r.mail_id) != 0 && !multi_select_);
    ++rows_painted_;
  }
}

void MailListView::PaintRow(QPainter* p, const Row& row, const QRect& rect, bool selected) {
  const QPalette& pal = palette();
  if (selected) p->fillRect(rect, pal.color(QPalette::Highlight));
  int x = rect.left() + kMargin;
  if (multi_select_) {
    const QRect box(x, rect.center().y() - kCheckSize / 2, kCheckSize, kCheckSize);
    p->setPen(pal.color(QPalette::Text));
    p->setBrush(pal.color(QPalette::Base));
    p->drawRect(box.adjusted(0, 0, -1, -1));
    if (selected_.count(row.mail_id) != 0) {
      p->setPen(QPen(pal.color(QPalette::Text), 2));
      p->drawLine(box.left() + 2, box.center().y(), box.center().x() - 1, box.bottom() - 3);
      p->drawLine(box.center().x() - 1, box.bottom() - 3, box.right() - 2, box.top() + 2);
    }
    x += kCheckSize + kMargin;
  }
  const int icon = rect.height() >= 70 ? 32 : 16;
  PaintIcon(p, row, QRect(x, rect.top() + kMargin, icon, icon));
  x += icon + kMargin;

  const QFontMetrics fm(font());
  const int line = fm.height();
  const QRect first(x, rect.top() + kMargin, rect.right() - kMargin - x, line);
  const QRect second(x, first.bottom() + kMargin, first.width(), line);
  const QColor text = selected ? pal.color(QPalette::HighlightedText) : pal.color(QPalette::Text);

  QFont sender_font = font();
  sender_font.setBold(row.unread);
  const int date_width = fm.horizontalAdvance(row.date) + kMargin;
  p->setPen(text);
  p->setFont(font());
  p->drawText(first, Qt::AlignRight | Qt::AlignVCenter, row.date);
  p->setFont(sender_font);
  const QFontMetrics sfm(sender_font);
  const QRect sender_rect = first.adjusted(0, 0, -date_width, 0);
  p->drawText(sender_rect, Qt::AlignLeft | Qt::AlignVCenter,
              sfm.elidedText(row.sender, Qt::ElideRight, sender_rect.width()));
  p->setFont(font());
  p->setPen(selected ? text : QColor(kSubjectGrey));
  p->drawText(second, Qt::AlignLeft | Qt::AlignVCenter,
              fm.elidedText(row.subject, Qt::ElideRight, second.width()));
  p->setPen(QColor(kSeparator));
  p->drawLine(rect.left(), rect.bottom(), rect.right(), rect.bottom());
}

// Small drawn icons: a closed envelope (unread), an open one (read), a
// sheet with lines (draft), and a clip over any of them (attachments).
void MailListView::PaintIcon(QPainter* p, const Row& row, const QRect& r) {
  p->save();
  p->setRenderHint(QPainter::Antialiasing);
  const QRectF box = QRectF(r).adjusted(1, r.height() * 0.2, -1, -r.height() * 0.1);
  if (row.draft) {
    const QRectF sheet = QRectF(r).adjusted(r.width() * 0.2, 1, -r.width() * 0.2, -1);
    p->setPen(QPen(QColor(0x55, 0x55, 0x55), 1));
    p->setBrush(QColor(0xff, 0xff, 0xf0));
    p->drawRect(sheet);
    for (int i = 1; i <= 3; ++i) {
      const qreal y = sheet.top() + sheet.height() * i / 4.0;
      p->drawLine(QPointF(sheet.left() + 2, y), QPointF(sheet.right() - 2, y));
    }
  } else {
    p->setPen(QPen(QColor(0x44, 0x55, 0x77), 1));
    p->setBrush(row.unread ? QColor(0xff, 0xd8, 0x5a) : QColor(0xf0, 0xf0, 0xf0));
    p->drawRect(box);
    QPainterPath flap;
    if (row.unread) {
      flap.moveTo(box.topLeft());
      flap.lineTo(box.center().x(), box.top() + box.height() * 0.55);
      flap.lineTo(box.topRight());
    } else {
      flap.moveTo(box.topLeft());
      flap.lineTo(box.center().x(), box.top() - box.height() * 0.35);
      flap.lineTo(box.topRight());
    }
    p->setBrush(Qt::NoBrush);
    p->drawPath(flap);
  }
  if (row.attachment) {
    p->setPen(QPen(QColor(0x33, 0x33, 0x33), 1.2));
    const QRectF clip(r.right() - r.width() * 0.35, r.bottom() - r.height() * 0.6,
                      r.width() * 0.3, r.height() * 0.55);
    p->drawRoundedRect(clip, clip.width() / 2, clip.width() / 2);
  }
  p->restore();
}

void MailListView::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  UpdateScrollRange();
}

void MailListView::Activity() {
  if (on_activity) on_activity();
}

void MailListView::SelectionChanged() {
  if (on_selection_changed) on_selection_changed();
}

bool MailListView::viewportEvent(QEvent* event) {
  switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::Wheel:
      Activity();
      break;
    default:
      break;
  }
  return QAbstractScrollArea::viewportEvent(event);
}

void MailListView::mousePressEvent(QMouseEvent* event) {
  const int row = RowAt(event->position().toPoint());
  held_ = false;
  press_row_ = row;
  press_pos_ = event->position().toPoint();
  if (row < 0) return;
  if (event->button() == Qt::RightButton) {
    press_row_ = -1;
    if (!multi_select_) SelectRow(row);
    if (on_context_menu) on_context_menu(row, event->globalPosition().toPoint());
    return;
  }
  if (event->button() == Qt::LeftButton && !multi_select_) hold_timer_.start();
}

void MailListView::mouseMoveEvent(QMouseEvent* event) {
  if (press_row_ >= 0 && (event->position().toPoint() - press_pos_).manhattanLength() > 8) {
    hold_timer_.stop();
    press_row_ = -1;
  }
}

void MailListView::mouseReleaseEvent(QMouseEvent* event) {
  hold_timer_.stop();
  const int row = press_row_;
  press_row_ = -1;
  if (held_ || row < 0 || event->button() != Qt::LeftButton) return;
  if (multi_select_) {
    ToggleRow(row);
  } else {
    SelectRow(row);
  }
}

void MailListView::mouseDoubleClickEvent(QMouseEvent* event) {
  const int row = RowAt(event->position().toPoint());
  if (row >= 0 && !multi_select_ && on_activate) on_activate(row);
}

void MailListView::keyPressEvent(QKeyEvent* event) {
  Activity();
  const int rows = RowCount();
  const int page = std::max(1, viewport()->height() / row_height_);
  int target = current_;
  switch (event->key()) {
    case Qt::Key_Up:
      target = current_ <= 0 ? 0 : current_ - 1;
      break;
    case Qt::Key_Down:
      target = current_ < 0 ? 0 : std::min(rows - 1, current_ + 1);
      break;
    case Qt::Key_PageUp:
      target = std::max(0, current_ - page);
      break;
    case Qt::Key_PageDown:
      target = std::min(rows - 1, std::max(0, current_) + page);
      break;
    case Qt::Key_Home:
      target = 0;
      break;
    case Qt::Key_End:
      target = rows - 1;
      break;
    case Qt::Key_Space:
      if (multi_select_ && current_ >= 0) ToggleRow(current_);
      return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
      if (multi_select_) {
        if (current_ >= 0) ToggleRow(current_);
      } else if (current_ >= 0 && on_activate) {
        on_activate(current_);
      }
      return;
    default:
      QAbstractScrollArea::keyPressEvent(event);
      return;
  }
  if (target < 0 || rows == 0) return;
  if (multi_select_) {
    current_ = target;
    EnsureVisible(target);
    viewport()->update();
  } else {
    SelectRow(target);
  }
}

}  // namespace ui
}  // namespace quill
