#include "ui/folder_dialog.h"

#include <QStyle>
#include <QVBoxLayout>

#include "store/folder_store.h"
#include "ui/commands.h"
#include "ui/handheld_screen.h"
#include "ui/texts.h"

namespace quill {
namespace ui {

QString FolderEntryText(const QString& name, uint32_t unread, uint32_t total) {
  if (total == 0) return name;
  return T(text::kFolderCounts).arg(name).arg(unread).arg(total);
}

FolderDialog::FolderDialog(store::AccountStore* store, QWidget* parent)
    : QDialog(parent), store_(store) {
  setWindowTitle(T(text::kFolders));
  resize(parent != nullptr ? parent->size() : HandheldSize());  // a full-screen dialog
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  list_ = new QListWidget(this);
  layout->addWidget(list_, 1);
  keys_ = new SoftKeyBar(this);
  layout->addWidget(keys_);
  menu_ = new QMenu(this);
  enter_ = menu_->addAction(T(text::kEnterFolder));
  enter_->setData(kCmdEnterFolder);
  toggle_ = menu_->addAction(T(text::kStopFetchingFolder));
  toggle_->setData(kCmdToggleFolderFetch);
  QObject::connect(enter_, &QAction::triggered, this, [this] { Enter(); });
  QObject::connect(toggle_, &QAction::triggered, this, [this] { ToggleFetch(); });
  QObject::connect(menu_, &QMenu::aboutToShow, this, [this] { PrepareMenu(); });
  keys_->left()->setText(T(text::kEnterFolder));
  keys_->right()->setText(T(text::kMenu));
  QObject::connect(keys_->left(), &QPushButton::clicked, this, [this] { Enter(); });
  keys_->SetRightMenu(menu_);
  QObject::connect(list_, &QListWidget::itemActivated, this, [this] { Enter(); });
  Fill();
  list_->setCurrentRow(0);
  list_->setFocus();
}

void FolderDialog::Fill() {
  const int current = list_->currentRow();
  list_->clear();
  ids_.clear();
  store::MailStore* mails = store_->mails();
  const QIcon folder_icon = style()->standardIcon(QStyle::SP_DirIcon);
  const QIcon excluded_icon(folder_icon.pixmap(16, QIcon::Disabled));
  auto add = [&](uint32_t id, const QString& name, uint32_t counts_of, bool excluded) {
    auto* item = new QListWidgetItem(
        excluded ? excluded_icon : folder_icon,
        FolderEntryText(name, mails->UnreadCount(counts_of), mails->TotalCount(counts_of)));
    list_->addItem(item);
    ids_.push_back(id);
  };
  add(store::kAllFolders, T(text::kAllMail), store::kAllFolders, false);
  add(store::kUnreadView, T(text::kUnread), store::kAllFolders, false);
  const std::vector<uint32_t>& excluded = store_->folders()->excluded();
  for (const store::FolderRecord& f : store_->folders()->folders()) {
    const std::u16string& name = f.name();
    const bool off = std::find(excluded.begin(), excluded.end(), f.folder_id()) != excluded.end();
    add(f.folder_id(), QString::fromUtf16(name.data(), static_cast<qsizetype>(name.size())),
        f.folder_id(), off);
  }
  if (current >= 0 && current < list_->count()) list_->setCurrentRow(current);
}

uint32_t FolderDialog::SelectedFolder() const {
  const int row = list_->currentRow();
  return row >= 0 && static_cast<size_t>(row) < ids_.size() ? ids_[static_cast<size_t>(row)]
                                                            : store::kAllFolders;
}

void FolderDialog::PrepareMenu() {
  const int row = list_->currentRow();
  const uint32_t id = SelectedFolder();
  const bool fixed = row < 2 || !store::FolderStore::CanExclude(id);
  const std::vector<uint32_t>& excluded = store_->folders()->excluded();
  const bool off = std::find(excluded.begin(), excluded.end(), id) != excluded.end();
  toggle_->setText(T(!fixed && off ? text::kFetchFolder : text::kStopFetchingFolder));
  toggle_->setEnabled(!fixed);
  enter_->setEnabled(row >= 0);
}

void FolderDialog::Enter() {
  const int row = list_->currentRow();
  if (row < 0) return;
  chosen_ = SelectedFolder();
  chosen_text_ = list_->item(row)->text();
  accept();
}

void FolderDialog::ToggleFetch() {
  const uint32_t id = SelectedFolder();
  if (list_->currentRow() < 2 || !store::FolderStore::CanExclude(id)) return;
  const std::vector<uint32_t>& excluded = store_->folders()->excluded();
  const bool off = std::find(excluded.begin(), excluded.end(), id) != excluded.end();
  store_->folders()->SetFolderExcluded(id, !off);
  Fill();
}

QStringList FolderDialog::EntryTexts() const {
  QStringList texts;
  for (int i = 0; i < list_->count(); ++i) texts.append(list_->item(i)->text());
  return texts;
}

void FolderDialog::DumpText(QStringList* lines) {
  lines->append("title: " + windowTitle());
  lines->append("keys: " + keys_->Text());
  const std::vector<uint32_t>& excluded = store_->folders()->excluded();
  for (int i = 0; i < list_->count(); ++i) {
    const bool off = i >= 2 && std::find(excluded.begin(), excluded.end(),
                                         ids_[static_cast<size_t>(i)]) != excluded.end();
    lines->append((i == list_->currentRow() ? "> " : "  ") + list_->item(i)->text() +
                  (off ? T(text::kExcludedMark) : QString()));
  }
}

bool FolderDialog::RunCommand(uint32_t command, QString* why) {
  PrepareMenu();
  return TriggerCommand(menu_, command, QStringLiteral("the folder screen"), why);
}

bool FolderDialog::SelectRow(int row, QString* why) {
  if (row < 0 || row >= list_->count()) {
    *why = QStringLiteral("no row %1 (%2 rows)").arg(row).arg(list_->count());
    return false;
  }
  list_->setCurrentRow(row);
  return true;
}

}  // namespace ui
}  // namespace quill
