// The look shared by every screen: menus that scroll instead of splitting
// into columns over the title on a short screen, a compact font, and Qt's
// own button texts in Chinese ("是(&Y)", "否(&N)").
#ifndef QUILL_UI_HANDHELD_STYLE_H_
#define QUILL_UI_HANDHELD_STYLE_H_

#include <QString>

class QApplication;
class QBoxLayout;
class QLabel;
class QMenu;
class QWidget;

namespace quill {
namespace ui {

// Once, after the QApplication is made.
void ApplyHandheldLook(QApplication* app);

// The text of a button without its mnemonic: "是(&Y)" and "&Yes" read
// "是" and "Yes".
QString PlainButtonText(QString text);

// Adds the one-line status label (object name "status") that screens keep
// above their soft keys; owned by `owner`.
QLabel* AddStatusLine(QBoxLayout* layout, QWidget* owner);

}  // namespace ui
}  // namespace quill

#endif  // QUILL_UI_HANDHELD_STYLE_H_
