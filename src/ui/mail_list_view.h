// The owner-drawn mail list: row i shows entry i of the current folder's
// view, newest first. Each row: a check box (multi-select mode only), a
// state icon (unread, read, draft, with an attachment overlay), the
// sender (bold when unread) and the date on the first line, the subject in
// grey on the second. Only the visible rows are read from the store (a
// small cache keeps them), so a page of scrolling costs the same in a view
// of 100 mails and one of 100,000.
//
// Selection is a set of MailIDs, so it survives rows moving when a sync
// adds mails. Outside multi-select mode a tap selects one row; inside it a
// tap ticks or unticks the row. A long press (or the right button) asks for
// the row's context menu.
//
// Threading: UI thread only. The store comes from a getter on every use,
// so the list never holds a store that was closed.
#ifndef QUILL_UI_MAIL_LIST_VIEW_H_
#define QUILL_UI_MAIL_LIST_VIEW_H_

#include <QAbstractScrollArea>
#include <QHash>
#include <QPoint>
#include <QString>
#include <QTimer>
#include <functional>
#include <set>
#include <vector>

#include "store/mail_store.h"

namespace quill {
namespace ui {

class MailListView : public QAbstractScrollArea {
 public:
  using StoreGetter = std::function<store::MailStore*()>;
  static constexpr int kHoldMs = 500;      // a press this long is a hold
  static constexpr int kCacheRows = 256;   // rows kept decoded

  // What a row shows, as read from the store.
  struct Row {
    uint32_t mail_id = 0;
    QString sender;     // the display name, else the address
    QString date;       // "HH:MM" today, "MM-DD" this year, else "YYYY-MM-DD"
    QString subject;    // the subject, else the brief
    bool unread = false;
    bool draft = false;       // a mail written on the device
    bool attachment = false;  // has attachments
  };

  explicit MailListView(QWidget* parent = nullptr);

  void SetStore(StoreGetter getter);
  // Shows another view; the selection is cleared.
  void SetFolder(uint32_t folder);
  uint32_t folder() const { return folder_; }
  // The text painted when the view is empty.
  void SetEmptyText(const QString& text);
  const QString& empty_text() const { return empty_text_; }
  // After store changes: re-reads the row count; mails in `changed` (all
  // when empty) are read again.
  void Refresh(const std::vector<uint32_t>& changed = {});

  int RowCount() const;
  // The MailID of a row, 0 when out of range.
  uint32_t MailAt(int row) const;
  // The row of a mail in the current view, -1 when absent.
  int RowOf(uint32_t mail_id) const;
  // Row data (from the cache or the store); mail_id 0 for a bad row.
  Row RowData(int row);
  int RowHeight() const { return row_height_; }
  int RowAt(const QPoint& viewport_pos) const;
  // The rows wholly or partly visible: [first, last]; last < first when none.
  void VisibleRows(int* first, int* last) const;

  // The selection: ticked rows in multi-select mode, else the chosen row.
  std::vector<uint32_t> SelectedMails() const;
  int SelectedCount() const { return static_cast<int>(selected_.size()); }
  int current_row() const { return current_; }
  // Makes `row` the current row and the only selected one; scrolls to it.
  bool SelectRow(int row);
  void SetMultiSelect(bool on);
  bool multi_select() const { return multi_select_; }
  void ToggleRow(int row);

  // Every key or pointer event the list receives (for the auto-sync rule).
  std::function<void()> on_activity;
  // A row was opened (double click, Return).
  std::function<void(int row)> on_activate;
  // A long press or right click on a row, with the global position.
  std::function<void(int row, const QPoint& global)> on_context_menu;
  // The selection changed.
  std::function<void()> on_selection_changed;

  // How long the last paint took to read and draw its rows, for figures.
  int rows_painted() const { return rows_painted_; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  bool viewportEvent(QEvent* event) override;

 private:
  const store::ViewEntry* Entries(size_t* count) const;
  Row ReadRow(uint32_t mail_id);
  void UpdateScrollRange();
  void EnsureVisible(int row);
  void PaintRow(QPainter* p, const Row& row, const QRect& rect, bool selected);
  void PaintIcon(QPainter* p, const Row& row, const QRect& rect);
  void Activity();
  void SelectionChanged();

  StoreGetter store_;
  uint32_t folder_ = 0;
  QString empty_text_;
  int row_height_ = 36;
  int current_ = -1;                // the current row, -1 none
  bool multi_select_ = false;
  std::set<uint32_t> selected_;     // MailIDs
  QHash<uint32_t, Row> cache_;      // decoded rows by MailID
  QTimer hold_timer_;               // running while a press may become a hold
  QPoint press_pos_;                // viewport position of the press
  int press_row_ = -1;              // row pressed, -1 none
  bool held_ = false;               // the press became a hold
  int rows_painted_ = 0;
};

}  // namespace ui
}  // namespace quill

#endif  // QUILL_UI_MAIL_LIST_VIEW_H_
