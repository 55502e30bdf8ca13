#include "ui/main_window.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QMessageBox>
#include <QVBoxLayout>
#include <algorithm>

#include "commands/auth_job.h"
#include "commands/auth_message.h"
#include "commands/sync_message.h"
#include "platform/clock.h"
#include "store/global_settings.h"
#include "ui/auto_sync_rule.h"
#include "ui/commands.h"
#include "ui/exit_dialog.h"
#include "ui/folder_dialog.h"
#include "ui/handheld_style.h"
#include "ui/login_dialog.h"
#include "ui/menu_state.h"
#include "ui/texts.h"

namespace quill {
namespace ui {
namespace {

namespace keys = store::global_keys;

QString Qs(const std::u16string& s) {
  return QString::fromUtf16(s.data(), static_cast<qsizetype>(s.size()));
}

constexpr int32_t kSyncStartup = commands::kSyncAtStartup;
constexpr int32_t kSyncTimer = commands::kSyncOnTimer;
constexpr int32_t kSyncUser = commands::kSyncByUser;

}  // namespace

MainWindow::MainWindow(facade::MailService* service, MainWindowOptions options, QWidget* parent)
    : QWidget(parent), service_(service), options_(std::move(options)) {
  setWindowTitle(T(text::kProduct));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  title_ = new QLabel(T(text::kProduct), this);
  title_->setObjectName("title");
  title_->setContentsMargins(4, 2, 4, 2);
  title_->setAutoFillBackground(true);
  QPalette bar = title_->palette();
  bar.setColor(QPalette::Window, QColor(0x2b, 0x57, 0x9a));
  bar.setColor(QPalette::WindowText, Qt::white);
  title_->setPalette(bar);
  QFont bold = title_->font();
  bold.setBold(true);
  title_->setFont(bold);
  layout->addWidget(title_);
  list_ = new MailListView(this);
  layout->addWidget(list_, 1);
  status_ = AddStatusLine(layout, this);
  keys_ = new SoftKeyBar(this);
  layout->addWidget(keys_);
  BuildMenu();
  keys_->right()->setText(T(text::kMenu));
  keys_->SetRightMenu(menu_);
  QObject::connect(keys_->left(), &QPushButton::clicked, this, [this] { LeftSoftKey(); });
  RefreshLeftKey();

  list_->SetStore([this]() -> store::MailStore* {
    store::AccountStore* s = service_->store();
    return s != nullptr ? s->mails() : nullptr;
  });
  list_->on_activity = [this] { last_activity_ = Now(); };
  list_->on_activate = [this](int row) { OpenMail(row); };
  list_->on_context_menu = [this](int row, const QPoint& at) { ShowContextMenu(row, at); };
  RefreshEmptyText();

  auto_sync_timer_.setInterval(kAutoSyncMs);
  QObject::connect(&auto_sync_timer_, &QTimer::timeout, this, [this] { OnAutoSyncTimer(); });
  animation_timer_.setInterval(kAnimationMs);
  QObject::connect(&animation_timer_, &QTimer::timeout, this, [this] { OnAnimationTimer(); });
  status_timer_.setSingleShot(true);
  status_timer_.setInterval(kStatusNoticeMs);
  QObject::connect(&status_timer_, &QTimer::timeout, this, [this] { SetStatus(QString()); });
}

MainWindow::~MainWindow() {
  DetachStore();
  service_->UnsubscribeAuthDone(auth_sub_);
  service_->UnsubscribeSyncDone(sync_sub_);
  service_->UnsubscribeJobStarted(started_sub_);
  service_->UnsubscribeJobEnded(ended_sub_);
  service_->UnsubscribeNewMailFound(found_sub_);
  service_->UnsubscribeNewMailArrived(arrived_sub_);
}

int64_t MainWindow::Now() const { return options_.now ? options_.now() : NowSeconds(); }

bool MainWindow::IsForeground() const {
  return options_.foreground ? options_.foreground() : isActiveWindow();
}

QAction* MainWindow::AddCommand(QMenu* menu, uint32_t command, const char* label) {
  QAction* a = menu->addAction(T(label));
  a->setData(command);
  QObject::connect(a, &QAction::triggered, this, [this, command] { RunMenuCommand(command); });
  return a;
}

void MainWindow::BuildMenu() {
  menu_ = new QMenu(this);
  AddCommand(menu_, kCmdOpenMail, text::kOpenMail);
  AddCommand(menu_, kCmdReply, text::kReply);
  AddCommand(menu_, kCmdReplyAll, text::kReplyAll);
  AddCommand(menu_, kCmdForward, text::kForward);
  menu_->addSeparator();
  AddCommand(menu_, kCmdCompose, text::kCompose);
  AddCommand(menu_, kCmdDelete, text::kDelete);
  AddCommand(menu_, kCmdMarkRead, text::kMarkRead);
  AddCommand(menu_, kCmdMarkUnread, text::kMarkUnread);
  AddCommand(menu_, kCmdMarkAllRead, text::kMarkAllRead);
  AddCommand(menu_, kCmdSelectMany, text::kSelectMany);
  menu_->addSeparator();
  AddCommand(menu_, kCmdFetchMail, text::kFetchMail);
  AddCommand(menu_, kCmdFolders, text::kFolders);
  menu_->addSeparator();
  AddCommand(menu_, kCmdTraffic, text::kTraffic);
  AddCommand(menu_, kCmdNetworkCheck, text::kNetworkCheck);
  AddCommand(menu_, kCmdSettings, text::kSettings);
  AddCommand(menu_, kCmdSwitchAccount, text::kSwitchAccount);
  AddCommand(menu_, kCmdCheckUpdate, text::kCheckUpdate);
  AddCommand(menu_, kCmdFeedback, text::kFeedback);
  menu_->addSeparator();
  AddCommand(menu_, kCmdExit, text::kExit);
  QObject::connect(menu_, &QMenu::aboutToShow, this, [this] { PrepareMenu(); });
}

bool MainWindow::CommandAvailable(uint32_t command) const {
  const ScreenHooks& h = options_.hooks;
  switch (command) {
    case kCmdOpenMail:
      return static_cast<bool>(h.open_reader);
    case kCmdCompose:
    case kCmdFeedback:
    case kCmdReply:
    case kCmdReplyAll:
    case kCmdForward:
      return static_cast<bool>(h.open_compose);
    case kCmdTraffic:
      return static_cast<bool>(h.open_traffic);
    case kCmdNetworkCheck:
      return static_cast<bool>(h.open_network_check);
    case kCmdSettings:
      return static_cast<bool>(h.open_settings);
    case kCmdCheckUpdate:
      return static_cast<bool>(h.open_update);
    default:
      return true;
  }
}

void MainWindow::PrepareMenu() {
  MenuContext context;
  context.multi_select = list_->multi_select();
  context.selected = list_->SelectedCount();
  context.list_empty = list_->RowCount() == 0;
  for (QAction* a : menu_->actions()) {
    if (a->isSeparator()) continue;
    const uint32_t command = a->data().toUInt();
    a->setEnabled(CommandEnabled(command, context) && CommandAvailable(command));
  }
}

bool MainWindow::StartUp() {
  store::GlobalSettings& settings = service_->settings();
  const std::u16string name = settings.Get(keys::kUinName);
  const std::u16string password = settings.Get(keys::kPwd);
  const uint64_t uin = settings.Get(keys::kUinNum);
  SubscribeAuth();
  if (settings.Get(keys::kHaveLogon) != 0 && !name.empty() && !password.empty() && uin != 0) {
    service_->SetLoginAccount(name);
    service_->SetLoginPassword(password);
    if (service_->OpenSavedAccount()) AttachStore();
  } else if (!ShowLoginScreen(/*prefill=*/true)) {
    return false;
  }
  RefreshTitle();
  auto_sync_timer_.start();
  return true;
}

void MainWindow::SubscribeAuth() {
  if (auth_sub_ != 0) return;
  auth_sub_ = service_->SubscribeAuthDone(
      [this](const commands::AuthOutcome& outcome) { OnAuthDone(outcome); });
}

bool MainWindow::ShowLoginScreen(bool prefill) {
  LoginDialog::Fields fields;
  if (prefill) {
    store::GlobalSettings& settings = service_->settings();
    fields.account = service_->account().login_account();
    if (fields.account.empty()) fields.account = settings.Get(keys::kUinName);
    fields.password_digest = service_->account().login_password();
    if (fields.password_digest.empty()) fields.password_digest = settings.Get(keys::kPwd);
    fields.network = settings.Get(keys::kNet);
    fields.auto_login = settings.Get(keys::kHaveLogonProbe) != 0;
  }
  LoginDialog dialog(service_, options_.destinations, fields, this);
  dialog.open_network_check = options_.hooks.open_network_check;
  login_screen_ = &dialog;
  const int result = dialog.exec();
  login_screen_ = nullptr;
  if (result != QDialog::Accepted) return false;
  AttachStore();
  RefreshTitle();
  return true;
}

void MainWindow::AttachStore() {
  store::AccountStore* store = service_->store();
  if (store == nullptr || (store == attached_ && store->uin() == attached_uin_)) return;
  DetachStore();
  attached_ = store;
  attached_uin_ = store->uin();
  if (sync_sub_ == 0) {
    sync_sub_ = service_->SubscribeSyncDone(
        [this](const facade::SyncOutcome& outcome) { OnSyncDone(outcome); });
    started_sub_ = service_->SubscribeJobStarted([this] {
      if (animator_.JobStarted() && !animation_timer_.isActive()) animation_timer_.start();
    });
    ended_sub_ = service_->SubscribeJobEnded([this] {
      if (startup_sync_waits_ && !service_->LoginRunning()) {
        startup_sync_waits_ = false;
        StartSync(kSyncStartup);
      }
      if (!animator_.JobEnded()) return;
      animation_timer_.stop();
      RefreshTitle();
    });
    found_sub_ = service_->SubscribeNewMailFound([this] {
      const int mode = service_->settings().Get(keys::kMailRemind);
      if ((mode == 1 || mode == 3) && options_.alert != nullptr) options_.alert->PlaySound();
    });
    arrived_sub_ = service_->SubscribeNewMailArrived([this](int count) { OnNewMailArrived(count); });
  }
  mail_observer_ = std::make_shared<store::MailStore::MailChangedObserver>(
      [this](store::MailChangeKind kind, const std::vector<store::MailChange>& changes) {
        std::vector<uint32_t> ids;
        if (kind != store::MailChangeKind::kReset) {
          for (const store::MailChange& c : changes) ids.push_back(c.mail_id);
        }
        list_->Refresh(ids);
        RefreshEmptyText();
      });
  unread_observer_ = std::make_shared<store::MailStore::CountsObserver>([this] { RefreshTitle(); });
  store->mails()->AddMailChangedObserver(mail_observer_);
  store->mails()->AddUnreadCountsObserver(unread_observer_);
  const uint32_t last = store->GetLastFolder();
  view_ = last;
  list_->SetFolder(last);
  RefreshLeftKey();
  RefreshEmptyText();
  SetStatus(last == store::kAllFolders ? QString() : ViewName(last));
  // Right after a login screen's success its job still holds the login
  // slot for a moment, and the facade refuses a sync until it ends.
  if (service_->LoginRunning()) {
    startup_sync_waits_ = true;
  } else {
    StartSync(kSyncStartup);
  }
  last_sync_ = Now();
}

void MainWindow::DetachStore() {
  mail_observer_.reset();
  unread_observer_.reset();
  attached_ = nullptr;
  attached_uin_ = 0;
}

void MainWindow::OnAuthDone(const commands::AuthOutcome& outcome) {
  if (login_screen_ != nullptr) return;  // the screen shows its own results
  if (outcome.ok) {
    AttachStore();
  } else if (outcome.code == -3) {
    ShowLoginScreen(/*prefill=*/true);
  } else if (outcome.code == commands::kAuthMustUpgrade) {
    offline_ = true;
    RefreshTitle();
    // The package download belongs to the update screen; the question is
    // asked so the person learns why the mailbox stays offline.
    QMessageBox box(QMessageBox::Question, T(text::kUpgradeCaption),
                    Qs(commands::AuthFailureText(outcome.code)),
                    QMessageBox::Yes | QMessageBox::No, this);
    if (box.exec() == QMessageBox::Yes && options_.hooks.open_update &&
        options_.hooks.open_update(this)) {
      Quit(0);
      return;
    }
  }
  RefreshTitle();
}

bool MainWindow::StartSync(int32_t reason) {
  if (offline_) {
    // Only a person's request gets the answer; the timer and start-up stay
    // quiet rather than raise a box every few minutes.
    if (reason == kSyncUser) {
      QMessageBox box(QMessageBox::Information, T(text::kProduct), T(text::kOfflineOnly),
                      QMessageBox::Ok, this);
      box.exec();
    }
    return false;
  }
  if (!service_->DoSync(reason)) return false;
  last_sync_ = Now();
  SetStatus(T(text::kSyncing));
  notice_shown_ = false;
  RefreshTitle();
  return true;
}

void MainWindow::OnSyncDone(const facade::SyncOutcome& outcome) {
  if (!outcome.ok && (outcome.reason == kSyncStartup || outcome.reason == kSyncUser)) {
    notice_shown_ = false;
    SetStatus(T(text::kSyncFailed).arg(outcome.code).arg(outcome.step));
  } else if (!notice_shown_ && status_->text() == T(text::kSyncing)) {
    SetStatus(QString());
  }
  list_->viewport()->update();
  RefreshEmptyText();
  RefreshTitle();
}

void MainWindow::OnNewMailArrived(int count) {
  if (IsForeground()) {
    if (view_ != store::kAllFolders) {
      SetStatus(T(text::kNewMails).arg(count));
      notice_shown_ = true;
    }
    return;
  }
  const int mode = service_->settings().Get(keys::kMailRemind);
  if ((mode == 2 || mode == 3) && options_.alert != nullptr) options_.alert->Notify(count);
}

void MainWindow::OnAutoSyncTimer() {
  if (!AutoSyncDue(Now(), last_activity_, last_sync_,
                   service_->settings().Get(keys::kAutoSyncSpan))) {
    return;
  }
  StartSync(kSyncTimer);
  last_sync_ = Now();
}

void MainWindow::OnAnimationTimer() {
  bool stop = false;
  store::AccountStore* store = service_->store();
  const QString title = animator_.Build(
      offline_, store != nullptr ? store->mails()->UnreadCount(store::kAllFolders) : 0,
      /*tick=*/true, &stop);
  if (stop) animation_timer_.stop();
  title_->setText(title);
  setWindowTitle(title);
}

void MainWindow::RefreshTitle() {
  bool stop = false;
  store::AccountStore* store = service_->store();
  const QString title = animator_.Build(
      offline_, store != nullptr ? store->mails()->UnreadCount(store::kAllFolders) : 0,
      /*tick=*/false, &stop);
  if (stop) animation_timer_.stop();
  title_->setText(title);
  setWindowTitle(title);
}

void MainWindow::RefreshLeftKey() {
  const char* label = list_->multi_select()         ? text::kDoneSelecting
                      : view_ != store::kAllFolders ? text::kBack
                                                    : text::kShowUnread;
  keys_->left()->setText(T(label));
}

void MainWindow::RefreshEmptyText() {
  store::AccountStore* store = service_->store();
  const bool synced_before = store != nullptr && store->GetSyncKey() != 0;
  list_->SetEmptyText(T(synced_before ? text::kNoMail : text::kFetchingRecent));
}

void MainWindow::SetStatus(const QString& text) {
  status_timer_.stop();
  status_->setText(text);
}

QString MainWindow::ViewName(uint32_t view) const {
  if (view == store::kAllFolders) return T(text::kAllMail);
  if (view == store::kUnreadView) return T(text::kUnread);
  store::AccountStore* store = service_->store();
  const store::FolderRecord* folder = store != nullptr ? store->folders()->Find(view) : nullptr;
  if (folder == nullptr) return QString();
  return FolderEntryText(Qs(folder->name()), store->mails()->UnreadCount(view),
                         store->mails()->TotalCount(view));
}

void MainWindow::SwitchView(uint32_t view, const QString& status) {
  view_ = view;
  if (store::AccountStore* store = service_->store()) store->SetLastFolder(view);
  list_->SetFolder(view);
  RefreshLeftKey();
  RefreshEmptyText();
  SetStatus(status);
  if (!status.isEmpty()) status_timer_.start();
}

void MainWindow::LeftSoftKey() {
  if (list_->multi_select()) {
    list_->SetMultiSelect(false);
    RefreshLeftKey();
  } else if (view_ != store::kAllFolders) {
    SwitchView(store::kAllFolders, QString());
  } else {
    SwitchView(store::kUnreadView, T(text::kUnread));
  }
}

void MainWindow::RunMenuCommand(uint32_t command) {
  const ScreenHooks& h = options_.hooks;
  const std::vector<uint32_t> selected = list_->SelectedMails();
  const uint32_t one = selected.size() == 1 ? selected.front() : 0;
  switch (command) {
    case kCmdLeftSoftKey:
      LeftSoftKey();
      break;
    case kCmdCompose:
    case kCmdFeedback:
      if (h.open_compose) h.open_compose(this, command, 0);
      break;
    case kCmdReply:
    case kCmdReplyAll:
    case kCmdForward:
      if (h.open_compose && one != 0) h.open_compose(this, command, one);
      break;
    case kCmdOpenMail:
      if (one != 0) OpenMail(list_->RowOf(one));
      break;
    case kCmdDelete:
      AskDelete();
      break;
    case kCmdMarkRead:
      MarkSelected(true);
      break;
    case kCmdMarkUnread:
      MarkSelected(false);
      break;
    case kCmdMarkAllRead:
      MarkAllRead();
      break;
    case kCmdSelectMany:
      list_->SetMultiSelect(true);
      RefreshLeftKey();
      break;
    case kCmdFetchMail:
      StartSync(kSyncUser);
      break;
    case kCmdFolders:
      ShowFolders();
      break;
    case kCmdTraffic:
      if (h.open_traffic) h.open_traffic(this);
      break;
    case kCmdNetworkCheck:
      if (h.open_network_check) h.open_network_check(this);
      break;
    case kCmdSettings:
      if (h.open_settings) h.open_settings(this);
      break;
    case kCmdSwitchAccount:
      ShowLoginScreen(/*prefill=*/false);
      break;
    case kCmdCheckUpdate:
      if (h.open_update && h.open_update(this)) Quit(0);
      break;
    case kCmdExit:
      AskExit();
      break;
    default:
      break;
  }
}

void MainWindow::AskDelete() {
  const std::vector<uint32_t> selected = list_->SelectedMails();
  if (selected.empty()) return;
  QMessageBox box(QMessageBox::Question, T(text::kProduct), T(text::kAskDelete),
                  QMessageBox::Yes | QMessageBox::No, this);
  if (box.exec() != QMessageBox::Yes) return;
  store::AccountStore* store = service_->store();
  if (store == nullptr) return;
  std::vector<uint32_t> present;
  for (uint32_t id : selected) {
    if (store->mails()->Contains(id)) present.push_back(id);
  }
  if (!present.empty()) store->DeleteMailsAndQueue(present);
}

void MainWindow::MarkSelected(bool read) {
  store::AccountStore* store = service_->store();
  if (store == nullptr) return;
  store->mails()->BeginBatch();
  for (uint32_t id : list_->SelectedMails()) {
    if (read) {
      store->MarkRead(id);
    } else {
      store->MarkUnread(id);
    }
  }
  store->mails()->EndBatch();
}

void MainWindow::MarkAllRead() {
  store::AccountStore* store = service_->store();
  if (store == nullptr) return;
  store::MailStore* mails = store->mails();
  // Only unread mails change: walk the unread view, not the whole folder.
  std::vector<uint32_t> ids;
  for (const store::ViewEntry& e : mails->View(store::kUnreadView)) {
    uint32_t folder = 0;
    if (view_ == store::kAllFolders || view_ == store::kUnreadView ||
        (mails->ReadFolder(e.mail_id, &folder) && folder == view_)) {
      ids.push_back(e.mail_id);
    }
  }
  mails->BeginBatch();
  for (uint32_t id : ids) store->MarkRead(id);
  mails->EndBatch();
}

void MainWindow::ShowFolders() {
  store::AccountStore* store = service_->store();
  if (store == nullptr) return;
  FolderDialog dialog(store, this);
  if (dialog.exec() != QDialog::Accepted) return;
  SwitchView(dialog.chosen(),
             dialog.chosen() == store::kAllFolders ? QString() : dialog.chosen_text());
}

void MainWindow::AskExit() {
  ExitDialog dialog(this);
  switch (dialog.exec()) {
    case ExitDialog::kQuit:
      Quit(0);
      break;
    case ExitDialog::kMinimise:
      showMinimized();
      break;
    default:
      break;
  }
}

void MainWindow::Quit(int code) {
  quitting_ = true;
  if (options_.quit) {
    options_.quit(code);
  } else {
    QCoreApplication::exit(code);
  }
}

void MainWindow::ShowContextMenu(int row, const QPoint& global) {
  if (list_->multi_select()) return;
  const MailListView::Row data = list_->RowData(row);
  if (data.mail_id == 0) return;
  QMenu menu(this);
  if (data.draft) {
    AddCommand(&menu, kCmdOpenMail, text::kOpenDraft);
    AddCommand(&menu, kCmdDelete, text::kDeleteDraft);
  } else {
    AddCommand(&menu, kCmdOpenMail, text::kOpenMail);
    if (data.unread) {
      AddCommand(&menu, kCmdMarkRead, text::kContextMarkRead);
    } else {
      AddCommand(&menu, kCmdMarkUnread, text::kContextMarkUnread);
    }
    AddCommand(&menu, kCmdReply, text::kReply);
    AddCommand(&menu, kCmdReplyAll, text::kReplyAllShort);
    AddCommand(&menu, kCmdForward, text::kForward);
    AddCommand(&menu, kCmdDelete, text::kDelete);
  }
  for (QAction* a : menu.actions()) a->setEnabled(CommandAvailable(a->data().toUInt()));
  context_menu_ = &menu;
  menu.exec(global);
  context_menu_ = nullptr;
}

void MainWindow::OpenMail(int row) {
  if (!options_.hooks.open_reader || in_reader_) return;
  in_reader_ = true;
  while (list_->SelectRow(row)) {
    pending_adjacent_ = 0;
    options_.hooks.open_reader(this, list_->MailAt(row));
    if (pending_adjacent_ == 0) break;
    row = list_->current_row() + pending_adjacent_;
    if (row < 0 || row >= list_->RowCount()) break;  // at an end: stay
  }
  pending_adjacent_ = 0;
  in_reader_ = false;
}

void MainWindow::PostAdjacentMail(int delta) {
  if (in_reader_) {
    pending_adjacent_ = delta;
    return;
  }
  QTimer::singleShot(0, this, [this, delta] {
    const int row = list_->current_row() + delta;
    if (list_->current_row() >= 0 && row >= 0 && row < list_->RowCount()) OpenMail(row);
  });
}

void MainWindow::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() != QEvent::ActivationChange || !isActiveWindow()) return;
  RefreshTitle();
  if (options_.alert != nullptr) options_.alert->Withdraw();
  list_->setFocus();
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (quitting_) {
    event->accept();
    return;
  }
  event->ignore();
  AskExit();
}

void MainWindow::DumpText(QStringList* lines) {
  lines->append("title: " + title_->text());
  lines->append("keys: " + keys_->Text());
  lines->append("status: " + status_->text());
  if (list_->RowCount() == 0) {
    lines->append(list_->empty_text());
    return;
  }
  int first = 0, last = -1;
  list_->VisibleRows(&first, &last);
  QStringList selected;
  for (int row = first; row <= last; ++row) {
    const MailListView::Row r = list_->RowData(row);
    lines->append(r.sender + "\t" + r.date + "\t" + r.subject + "\t" +
                  (r.unread ? "unread" : "read"));
  }
  for (uint32_t id : list_->SelectedMails()) selected.append(QString::number(list_->RowOf(id)));
  if (!selected.isEmpty()) {
    lines->append((list_->multi_select() ? "ticked rows: " : "selected rows: ") +
                  selected.join(' '));
  }
}

bool MainWindow::Busy() const {
  return startup_sync_waits_ || (login_screen_ != nullptr && !login_screen_->isVisible());
}

bool MainWindow::RunCommand(uint32_t command, QString* why) {
  if (command == kCmdLeftSoftKey) {
    LeftSoftKey();
    return true;
  }
  PrepareMenu();
  return TriggerCommand(menu_, command, QStringLiteral("menu 128"), why);
}

bool MainWindow::SelectRow(int row, QString* why) {
  if (list_->MailAt(row) != 0) {
    if (list_->multi_select()) {
      list_->ToggleRow(row);
    } else {
      list_->SelectRow(row);
    }
    return true;
  }
  *why = QStringLiteral("no row %1 (%2 rows)").arg(row).arg(list_->RowCount());
  return false;
}

}  // namespace ui
}  // namespace quill
