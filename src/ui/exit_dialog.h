// The exit confirmation (dialog 225, "确认退出"): "退出", "最小化" or
// "取消". exec() returns one of Choice; closing the box is kCancel.
#ifndef QUILL_UI_EXIT_DIALOG_H_
#define QUILL_UI_EXIT_DIALOG_H_

#include <QDialog>

#include "ui/screen.h"

namespace quill {
namespace ui {

class ExitDialog : public QDialog, public Screen {
 public:
  enum Choice { kCancel = 0, kQuit = 1, kMinimise = 2 };

  explicit ExitDialog(QWidget* parent);

  void DumpText(QStringList* lines) override;
  bool RunCommand(uint32_t command, QString* why) override;
};

}  // namespace ui
}  // namespace quill

#endif  // QUILL_UI_EXIT_DIALOG_H_
