// The main window: the mail list of the current view, a title with the
// unread count and sync activity, a status line, and the soft keys (the
// left key and menu 128). It signs in at start (the saved account, else
// the login screen), starts syncs by command and by its auto-sync timer,
// follows the facade's events, and opens the other screens through hooks,
// so screens built later plug in without changing it.
//
// Timers: 2025 (every 5 s, the auto-sync rule), 2026 (every 1 s while
// network jobs run, the title arrow), 2027 (one shot, clears the status
// line after a view's name was shown).
//
// Threading: UI thread only. The service must outlive the window; the
// window never keeps the account's store across events, since a login
// with another account replaces it.
#ifndef QUILL_UI_MAIN_WINDOW_H_
#define QUILL_UI_MAIN_WINDOW_H_

#include <QDialog>
#include <QLabel>
#include <QMenu>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "facade/mail_service.h"
#include "ui/mail_list_view.h"
#include "ui/new_mail_alert.h"
#include "ui/screen.h"
#include "ui/soft_key_bar.h"
#include "ui/title_text.h"

namespace quill {
namespace ui {

class MainWindow;

// Screens the main window opens but does not own. An unset hook leaves its
// commands disabled.
struct ScreenHooks {
  // The reader for one mail, modal. It asks for the previous or next mail
  // with MainWindow::PostAdjacentMail and then closes itself.
  std::function<void(MainWindow*, uint32_t mail_id)> open_reader;
  // The compose screen: command 32809 (new), 59405 (feedback), 32794,
  // 32814, 32795 (reply, reply to all, forward of mail_id).
  std::function<void(MainWindow*, uint32_t command, uint32_t mail_id)> open_compose;
  std::function<void(QWidget*)> open_traffic;        // 32832
  std::function<void(QWidget*)> open_network_check;  // 59416 and the login screen
  std::function<void(QWidget*)> open_settings;       // 59412
  // The update screen (59414); true when the person chose to upgrade.
  std::function<bool(QWidget*)> open_update;
};

struct MainWindowOptions {
  std::vector<std::u16string> destinations;  // the login screen's network list
  NewMailAlert* alert = nullptr;             // may be null: no sound, no notice
  std::function<int64_t()> now;              // seconds since 1970; null: the clock
  std::function<bool()> foreground;          // null: isActiveWindow()
  std::function<void(int exit_code)> quit;   // null: QCoreApplication::exit
  ScreenHooks hooks;
};

class MainWindow : public QWidget, public Screen {
 public:
  static constexpr int kAutoSyncMs = 5000;    // timer 2025
  static constexpr int kAnimationMs = 1000;   // timer 2026
  static constexpr int kStatusNoticeMs = 3000;  // timer 2027

  MainWindow(facade::MailService* service, MainWindowOptions options, QWidget* parent = nullptr);
  ~MainWindow() override;

  // Signs in: the saved account when automatic sign-in is on, else the
  // login screen. False when the login screen was not confirmed (the
  // program then ends). Starts timer 2025 either way.
  bool StartUp();

  // Menu 128 and its commands.
  QMenu* menu() { return menu_; }
  // Applies the menu-state rules (done each time the menu opens).
  void PrepareMenu();
  // A command's action as if chosen from menu 128 or the left key.
  void RunMenuCommand(uint32_t command);
  bool CommandAvailable(uint32_t command) const;

  // The reader's previous (-1) / next (+1) request: after the reader has
  // closed, the selection moves one row and that mail opens; nothing
  // happens at either end of the list.
  void PostAdjacentMail(int delta);
  // Opens the reader for a row (through the hook).
  void OpenMail(int row);

  // Timer handlers, public for tests on a fake clock.
  void OnAutoSyncTimer();
  void OnAnimationTimer();

  // State, for tests and dumps.
  MailListView* list() { return list_; }
  uint32_t current_view() const { return view_; }
  bool offline() const { return offline_; }
  bool multi_select() const { return list_->multi_select(); }
  QString status_text() const { return status_->text(); }
  QString title_text() const { return title_->text(); }
  QString left_key_text() const { return keys_->left()->text(); }
  int64_t last_sync_time() const { return last_sync_; }
  int activity() const { return animator_.activity(); }
  bool animating() const { return animation_timer_.isActive(); }
  QMenu* context_menu() { return context_menu_; }
  // Switches the current view (persisted with the store).
  void SwitchView(uint32_t view, const QString& status);

  void DumpText(QStringList* lines) override;
  // Between a login screen's success and the end of its handling (the
  // store attached, the first sync started).
  bool Busy() const override;
  bool RunCommand(uint32_t command, QString* why) override;
  bool SelectRow(int row, QString* why) override;

 protected:
  void changeEvent(QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  int64_t Now() const;
  bool IsForeground() const;
  void BuildMenu();
  QAction* AddCommand(QMenu* menu, uint32_t command, const char* label);
  void SubscribeAuth();
  void AttachStore();
  void DetachStore();
  void OnAuthDone(const commands::AuthOutcome& outcome);
  void OnSyncDone(const facade::SyncOutcome& outcome);
  void OnNewMailArrived(int count);
  bool StartSync(int32_t reason);
  bool ShowLoginScreen(bool prefill);
  void ShowContextMenu(int row, const QPoint& global);
  void LeftSoftKey();
  void AskDelete();
  void MarkSelected(bool read);
  void MarkAllRead();
  void ShowFolders();
  void AskExit();
  void Quit(int code);
  void SetStatus(const QString& text);
  void RefreshTitle();
  void RefreshLeftKey();
  void RefreshEmptyText();
  QString ViewName(uint32_t view) const;

  facade::MailService* const service_;
  MainWindowOptions options_;
  QLabel* title_;
  MailListView* list_;
  QLabel* status_;
  SoftKeyBar* keys_;
  QMenu* menu_;
  QMenu* context_menu_ = nullptr;  // open while shown
  QTimer auto_sync_timer_;   // 2025
  QTimer animation_timer_;   // 2026
  QTimer status_timer_;      // 2027

  uint32_t view_ = 0;              // the current view (FolderID, 0 or the unread view)
  bool offline_ = false;           // the service said this version is too old
  int64_t last_sync_ = 0;          // seconds; 0 until the first sync
  int64_t last_activity_ = 0;      // seconds of the last key or pointer event on the list
  bool notice_shown_ = false;      // the status line holds a notice
  QDialog* login_screen_ = nullptr; // open; it answers for its own login
 bool startup_sync_waits_ = false;  // the first sync waits for the login slot to free
  bool quitting_ = false;          // Quit was called: a close goes through
  bool in_reader_ = false;         // open_reader runs
  int pending_adjacent_ = 0;       // the reader asked for the previous (-1) / next (+1) mail
  TitleAnimator animator_;
  store::AccountStore* attached_ = nullptr;  // the store the window follows
  uint32_t attached_uin_ = 0;
  // Facade subscriptions (0: none).
  int auth_sub_ = 0, sync_sub_ = 0, started_sub_ = 0, ended_sub_ = 0, found_sub_ = 0,
      arrived_sub_ = 0;
  // Store observers; dropping them unsubscribes.
  std::shared_ptr<store::MailStore::MailChangedObserver> mail_observer_;
  std::shared_ptr<store::MailStore::CountsObserver> unread_observer_;
};

}  // namespace ui
}  // namespace quill

#endif  // QUILL_UI_MAIN_WINDOW_H_
