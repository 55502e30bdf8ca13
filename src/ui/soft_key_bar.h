// The bar of two soft keys at the bottom of every screen: the left key runs
// one command, the right key either runs one or opens the screen's menu.
// F1 and F2 press them, as the handheld's soft-key buttons do: the bar
// watches the keys its screen's widgets leave unhandled.
#ifndef QUILL_UI_SOFT_KEY_BAR_H_
#define QUILL_UI_SOFT_KEY_BAR_H_

#include <QPushButton>
#include <cstdint>
#include <QWidget>

class QAction;
class QMenu;

namespace quill {
namespace ui {

class SoftKeyBar : public QWidget {
 public:
  explicit SoftKeyBar(QWidget* parent);

  QPushButton* left() { return left_; }
  QPushButton* right() { return right_; }
  // "left | right", as dumps print the keys.
  QString Text() const;
  // The right key opens `menu` (owned by the caller) above the bar.
  void SetRightMenu(QMenu* menu);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QPushButton* left_;
  QPushButton* right_;
};

// Finds the action of a command id (QAction::data) in a menu and its
// sub-menus; null when absent.
QAction* FindCommand(QMenu* menu, uint32_t command);

// A script's menu step: triggers `command` of `menu` (searched as above).
// False, with *why naming `menu_name` and the command, when the menu has no
// such command or it is disabled.
bool TriggerCommand(QMenu* menu, uint32_t command, const QString& menu_name, QString* why);

}  // namespace ui
}  // namespace quill

#endif  // QUILL_UI_SOFT_KEY_BAR_H_
