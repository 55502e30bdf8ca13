// What scripts and tests ask of a screen (a top-level window of ours):
// its text, whether it still works on something, and its commands. The
// script runner finds the active screen by this interface; a screen that
// does not implement a call leaves it to the defaults.
//
// Threading: UI thread only.
#ifndef QUILL_UI_SCREEN_H_
#define QUILL_UI_SCREEN_H_

#include <QString>
#include <QStringList>
#include <cstdint>

namespace quill {
namespace ui {

class Screen {
 public:
  virtual ~Screen() = default;

  // The screen as lines of text: its title, soft keys, status line and
  // content, as `dump` prints them.
  virtual void DumpText(QStringList* lines) = 0;
  // True while the screen waits for work of its own (a body loader).
  virtual bool Busy() const { return false; }
  // Runs a command of the screen's menu as if chosen there; false with
  // *why when the screen has no such command or it is disabled now.
  virtual bool RunCommand(uint32_t command, QString* why) = 0;
  // Selects row `row` (from 0) of the screen's list; false with *why when
  // there is no list or no such row.
  virtual bool SelectRow(int row, QString* why) {
    (void)row;
    *why = QStringLiteral("this screen has no list");
    return false;
  }
};

}  // namespace ui
}  // namespace quill

#endif  // QUILL_UI_SCREEN_H_
