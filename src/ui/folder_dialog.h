// The folder screen (dialog 215): "全部邮件", "未读", then every folder, each
// "name(unread/total)" (the name alone while the folder is empty). Its menu
// 214 enters the chosen entry or flips whether the chosen folder is
// fetched; folders the service always fetches (the fixed entries, 1, 3
// and 4) keep the flip disabled.
//
// Threading: UI thread only; the store must outlive the dialog.
#ifndef QUILL_UI_FOLDER_DIALOG_H_
#define QUILL_UI_FOLDER_DIALOG_H_

#include <QDialog>
#include <QListWidget>
#include <QMenu>
#include <vector>

#include "store/account_store.h"
#include "ui/screen.h"
#include "ui/soft_key_bar.h"

namespace quill {
namespace ui {

class FolderDialog : public QDialog, public Screen {
 public:
  FolderDialog(store::AccountStore* store, QWidget* parent);

  // After exec() returned Accepted: the view chosen and its entry text.
  uint32_t chosen() const { return chosen_; }
  QString chosen_text() const { return chosen_text_; }
  // The entry texts, in order (tests and dumps).
  QStringList EntryTexts() const;
  QMenu* menu() { return menu_; }

  void DumpText(QStringList* lines) override;
  bool RunCommand(uint32_t command, QString* why) override;
  bool SelectRow(int row, QString* why) override;

 private:
  void Fill();
  void PrepareMenu();
  void Enter();
  void ToggleFetch();
  uint32_t SelectedFolder() const;

  store::AccountStore* const store_;
  QListWidget* list_;
  SoftKeyBar* keys_;
  QMenu* menu_;
  QAction* enter_;
  QAction* toggle_;
  std::vector<uint32_t> ids_;  // the view of each entry
  uint32_t chosen_ = 0;
  QString chosen_text_;
};

// "name(unread/total)", or the name alone when total is 0.
QString FolderEntryText(const QString& name, uint32_t unread, uint32_t total);

}  // namespace ui
}  // namespace quill

#endif  // QUILL_UI_FOLDER_DIALOG_H_
