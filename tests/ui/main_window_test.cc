#include "ui/main_window.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QTest>
#include <memory>
#include <set>

#include "app/application.h"
#include "commands/auth_message.h"
#include "store/global_settings.h"
#include "tests/temp_dir.h"
#include "tests/ui/ui_rig.h"
#include "tests/ui/ui_test_util.h"
#include "ui/auto_sync_rule.h"
#include "ui/commands.h"
#include "ui/folder_dialog.h"
#include "ui/handheld_screen.h"
#include "ui/menu_state.h"
#include "ui/texts.h"
#include "ui/title_text.h"

namespace quill {
namespace ui {
namespace {

namespace keys = store::global_keys;

class FakeAlert : public NewMailAlert {
 public:
  void PlaySound() override { ++sounds; }
  void Notify(int count) override { notices.push_back(count); }
  void Withdraw() override { ++withdrawn; }
  int sounds = 0;
  std::vector<int> notices;
  int withdrawn = 0;
};

// Presses the item `text` of the next popup menu (or closes it when text is
// empty), recording the items it showed.
class PopupPicker {
 public:
  explicit PopupPicker(QString text) : text_(std::move(text)) {
    timer_.setInterval(10);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
      if (menu == nullptr) return;
      timer_.stop();
      QAction* chosen = nullptr;
      for (QAction* a : menu->actions()) {
        items.append(a->text() + (a->isEnabled() ? "" : " (off)"));
        if (a->text() == text_) chosen = a;
      }
      menu->close();
      if (chosen != nullptr) chosen->trigger();
      done = true;
    });
    timer_.start();
  }
  QStringList items;
  bool done = false;

 private:
  const QString text_;
  QTimer timer_;
};

class MainWindowTest : public ::testing::Test {
 protected:
  // A gateway with `mails` mails; the client signed in as the saved
  // account, so start-up signs in and syncs by itself.
  void SetUpMailbox(int mails, gateway::GatewayOptions gateway = gateway::GatewayOptions()) {
    rig_.Populate(mails);
    rig_.Start(gateway);
    rig_.InstallConfig(data_.path());
    std::string why;
    ASSERT_TRUE(app_.Start(data_.path(), "", &why)) << why;
    store::GlobalSettings& s = app_.service()->settings();
    s.Set(keys::kUinName, u"alice@example.com");
    s.Set(keys::kPwd, commands::PasswordDigest(kRigPassword));
    s.Set(keys::kUinNum, static_cast<uint64_t>(kRigUin));
    s.Set(keys::kHaveLogon, 1);
  }

  void MakeWindow(bool all_hooks = true) {
    MainWindowOptions o;
    o.destinations = app_.Destinations();
    o.alert = &alert_;
    o.now = [this] { return now_; };
    o.foreground = [this] { return foreground_; };
    o.quit = [this](int code) { quit_codes_.push_back(code); };
    if (all_hooks) {
      o.hooks.open_reader = [this](MainWindow* w, uint32_t mail) {
        opened_.push_back(mail);
        if (next_step_ != 0) {
          const int step = next_step_;
          next_step_ = 0;
          w->PostAdjacentMail(step);
        }
      };
      o.hooks.open_compose = [this](MainWindow*, uint32_t command, uint32_t) {
        composed_.push_back(command);
      };
      o.hooks.open_traffic = [](QWidget*) {};
      o.hooks.open_network_check = [](QWidget*) {};
      o.hooks.open_settings = [](QWidget*) {};
      o.hooks.open_update = [](QWidget*) { return false; };
    }
    window_ = std::make_unique<MainWindow>(app_.service(), o);
    window_->resize(HandheldSize());
  }

  // Start-up with the saved account, through the first sync.
  void StartAndSync() {
    MakeWindow();
    ASSERT_TRUE(window_->StartUp());
    window_->show();
    ASSERT_TRUE(WaitFor([this] { return !app_.service()->JobsRunning() && !window_->Busy(); }));
  }

  store::AccountStore* store() { return app_.service()->store(); }
  uint32_t Unread() { return store()->mails()->UnreadCount(store::kAllFolders); }
  QStringList Dump() {
    QStringList lines;
    window_->DumpText(&lines);
    return lines;
  }

  void TearDown() override {
    window_.reset();
    app_.Shutdown();
  }

  TempDir data_;
  GatewayRig rig_;
  app::Application app_;
  FakeAlert alert_;
  std::unique_ptr<MainWindow> window_;
  int64_t now_ = 1'800'000'000;
  bool foreground_ = true;
  std::vector<int> quit_codes_;
  std::vector<uint32_t> opened_;
  std::vector<uint32_t> composed_;
  int next_step_ = 0;
};

TEST(TitleTextTest, FormatsOfEveryState) {
  TitleAnimator a;
  bool stop = false;
  EXPECT_EQ(a.Build(false, 0, false, &stop), "Quillpost");
  EXPECT_EQ(a.Build(false, 7, false, &stop), "Quillpost (7)");
  EXPECT_EQ(a.Build(true, 7, false, &stop), "Quillpost-离线(7)");
  EXPECT_EQ(a.Build(true, 0, false, &stop), "Quillpost-离线");
  ASSERT_TRUE(a.JobStarted());
  EXPECT_EQ(a.Build(false, 7, true, &stop), "Quillpost↓(7)");  // counter 1: odd
  EXPECT_EQ(a.Build(false, 7, true, &stop), "Quillpost↑(7)");  // counter 2: even
  EXPECT_EQ(a.Build(false, 0, false, &stop), "Quillpost ↑");   // a refresh does not move it
  EXPECT_EQ(a.Build(false, 0, true, &stop), "Quillpost ↓");
  EXPECT_FALSE(stop);
  // Activity of more than ten ticks gives up and forgets the jobs.
  for (int i = 0; i < 8; ++i) a.Build(false, 7, true, &stop);
  EXPECT_EQ(a.counter(), 11);
  EXPECT_EQ(a.Build(false, 7, true, &stop), "Quillpost (7)");
  EXPECT_TRUE(stop);
  EXPECT_EQ(a.activity(), 0);
  EXPECT_TRUE(a.JobEnded());  // the job's late end keeps the count at 0
  EXPECT_EQ(a.activity(), 0);
}

TEST(MenuStateTest, TheTable) {
  const uint32_t off_in_multi[] = {kCmdCompose,    kCmdDelete,      kCmdFetchMail,  kCmdFolders,
                                   kCmdMarkRead,   kCmdMarkUnread,  kCmdMarkAllRead, kCmdSelectMany,
                                   kCmdTraffic,    kCmdNetworkCheck, kCmdSettings,  kCmdSwitchAccount,
                                   kCmdCheckUpdate, kCmdFeedback};
  MenuContext multi{true, 1, false};
  for (uint32_t c : off_in_multi) EXPECT_FALSE(CommandEnabled(c, multi)) << c;
  EXPECT_TRUE(CommandEnabled(kCmdExit, multi));
  EXPECT_TRUE(CommandEnabled(kCmdOpenMail, multi));
  MenuContext none{false, 0, false};
  for (uint32_t c : {kCmdDelete, kCmdMarkRead, kCmdMarkUnread, kCmdOpenMail, kCmdReply,
                     kCmdReplyAll, kCmdForward}) {
    EXPECT_FALSE(CommandEnabled(c, none)) << c;
  }
  EXPECT_TRUE(CommandEnabled(kCmdMarkAllRead, none));
  MenuContext one{false, 1, false};
  for (uint32_t c : {kCmdDelete, kCmdMarkRead, kCmdMarkUnread, kCmdOpenMail, kCmdReply,
                     kCmdReplyAll, kCmdForward, kCmdCompose, kCmdFetchMail}) {
    EXPECT_TRUE(CommandEnabled(c, one)) << c;
  }
  MenuContext two{false, 2, false};
  for (uint32_t c : {kCmdOpenMail, kCmdReply, kCmdReplyAll, kCmdForward}) {
    EXPECT_FALSE(CommandEnabled(c, two)) << c;
  }
  EXPECT_TRUE(CommandEnabled(kCmdDelete, two));
  EXPECT_FALSE(CommandEnabled(kCmdMarkAllRead, MenuContext{false, 0, true}));
}

TEST(AutoSyncRuleTest, IntervalActivityAndFirstSync) {
  const int64_t t = 1'800'000'000;
  EXPECT_FALSE(AutoSyncDue(t + 100000, t + 100000, t, 0));  // interval 0: never
  EXPECT_FALSE(AutoSyncDue(t + 100000, t, 0, 10));          // never before the first sync
  EXPECT_FALSE(AutoSyncDue(t + 599, t, t, 10));             // idle: the configured 10 min
  EXPECT_TRUE(AutoSyncDue(t + 600, t, t, 10));
  EXPECT_FALSE(AutoSyncDue(t + 59, t + 50, t, 30));         // active: once a minute
  EXPECT_TRUE(AutoSyncDue(t + 60, t + 50, t, 30));
  EXPECT_TRUE(AutoSyncDue(t - 5, t - 5, t, 10));            // a clock set back reads as long ago
}

TEST_F(MainWindowTest, StartUpSignsInSyncsAndListsNewestFirst) {
  SetUpMailbox(5);
  StartAndSync();
  EXPECT_EQ(window_->list()->RowCount(), 5);
  const QStringList lines = Dump();
  EXPECT_EQ(lines[0], "title: Quillpost (3)");
  EXPECT_EQ(lines[1], "keys: 查看未读 | 菜单");
  EXPECT_EQ(lines[2], "status: ");
  EXPECT_TRUE(lines[3].startsWith("Sender 4\t")) << lines[3].toStdString();
  EXPECT_TRUE(lines[3].endsWith("\t主题 4\tunread"));
  EXPECT_TRUE(lines[4].endsWith("\t主题 3\tread"));
  EXPECT_GT(window_->last_sync_time(), 0);
}

TEST_F(MainWindowTest, EmptyListTextsBeforeAndAfterTheFirstSync) {
  SetUpMailbox(0);
  MakeWindow();
  EXPECT_EQ(window_->list()->empty_text(), T(text::kFetchingRecent));
  ASSERT_TRUE(window_->StartUp());
  ASSERT_TRUE(WaitFor([this] { return !app_.service()->JobsRunning() && !window_->Busy(); }));
  EXPECT_EQ(window_->list()->RowCount(), 0);
  EXPECT_EQ(Dump().last(), T(text::kNoMail));
}

TEST_F(MainWindowTest, MenuStateOnTheRealMenu) {
  SetUpMailbox(4);
  StartAndSync();
  auto enabled = [this](uint32_t c) {
    window_->PrepareMenu();
    return FindCommand(window_->menu(), c)->isEnabled();
  };
  EXPECT_FALSE(enabled(kCmdDelete));  // nothing selected
  EXPECT_FALSE(enabled(kCmdOpenMail));
  ASSERT_TRUE(window_->list()->SelectRow(0));
  EXPECT_TRUE(enabled(kCmdOpenMail));
  EXPECT_TRUE(enabled(kCmdForward));
  window_->RunMenuCommand(kCmdSelectMany);
  EXPECT_EQ(window_->left_key_text(), T(text::kDoneSelecting));
  EXPECT_FALSE(enabled(kCmdDelete));
  EXPECT_FALSE(enabled(kCmdFetchMail));
  QString why;
  ASSERT_TRUE(window_->SelectRow(1, &why));  // ticks a second row
  EXPECT_EQ(window_->list()->SelectedCount(), 2);
  window_->RunMenuCommand(kCmdLeftSoftKey);  // "完成选择": the ticks stay selected
  EXPECT_FALSE(window_->multi_select());
  EXPECT_EQ(window_->left_key_text(), T(text::kShowUnread));
  EXPECT_TRUE(enabled(kCmdDelete));
  EXPECT_FALSE(enabled(kCmdOpenMail));
  EXPECT_FALSE(enabled(kCmdReply));
  EXPECT_FALSE(enabled(kCmdReplyAll));
  EXPECT_FALSE(enabled(kCmdForward));
  // A screen that does not exist leaves its commands off.
  window_.reset();
  MakeWindow(/*all_hooks=*/false);
  window_->PrepareMenu();
  EXPECT_FALSE(FindCommand(window_->menu(), kCmdSettings)->isEnabled());
  EXPECT_TRUE(FindCommand(window_->menu(), kCmdFolders)->isEnabled());
}

TEST_F(MainWindowTest, DeletingSeveralAsksAndQueuesOneDeletePerMail) {
  SetUpMailbox(4);
  StartAndSync();
  window_->RunMenuCommand(kCmdSelectMany);
  QString why;
  ASSERT_TRUE(window_->SelectRow(0, &why));
  ASSERT_TRUE(window_->SelectRow(2, &why));
  window_->RunMenuCommand(kCmdLeftSoftKey);
  {
    BoxAnswerer no("否");
    window_->RunMenuCommand(kCmdDelete);
    EXPECT_TRUE(no.answered());
    EXPECT_EQ(no.text(), T(text::kAskDelete));
    EXPECT_EQ(no.caption(), T(text::kProduct));
  }
  EXPECT_EQ(window_->list()->RowCount(), 4);
  BoxAnswerer yes("是");
  window_->RunMenuCommand(kCmdDelete);
  EXPECT_TRUE(yes.answered());
  EXPECT_EQ(window_->list()->RowCount(), 2);
  EXPECT_EQ(store()->commands()->pending().size(), 2u);
  EXPECT_EQ(window_->list()->SelectedCount(), 0);
}

TEST_F(MainWindowTest, MarkingAndMarkAllReadInOneBatch) {
  SetUpMailbox(6);
  StartAndSync();
  EXPECT_EQ(Unread(), 4u);
  ASSERT_TRUE(window_->list()->SelectRow(0));  // Sender 5: unread
  window_->RunMenuCommand(kCmdMarkRead);
  EXPECT_EQ(Unread(), 3u);
  EXPECT_EQ(window_->title_text(), "Quillpost (3)");
  window_->RunMenuCommand(kCmdMarkUnread);
  EXPECT_EQ(Unread(), 4u);
  int notices = 0;
  auto counter = std::make_shared<store::MailStore::MailChangedObserver>(
      [&](store::MailChangeKind, const std::vector<store::MailChange>&) { ++notices; });
  store()->mails()->AddMailChangedObserver(counter);
  window_->RunMenuCommand(kCmdMarkAllRead);
  EXPECT_EQ(Unread(), 0u);
  EXPECT_EQ(notices, 1);  // one batch: one list of changes
  EXPECT_EQ(window_->title_text(), "Quillpost");
  window_->PrepareMenu();
  EXPECT_TRUE(FindCommand(window_->menu(), kCmdMarkAllRead)->isEnabled());
}

TEST_F(MainWindowTest, UnreadViewAndBackByTheLeftKey) {
  SetUpMailbox(6);
  StartAndSync();
  window_->RunMenuCommand(kCmdLeftSoftKey);
  EXPECT_EQ(window_->current_view(), store::kUnreadView);
  EXPECT_EQ(window_->left_key_text(), T(text::kBack));
  EXPECT_EQ(window_->status_text(), T(text::kUnread));
  EXPECT_EQ(window_->list()->RowCount(), 4);
  EXPECT_EQ(store()->GetLastFolder(), store::kUnreadView);  // persisted
  window_->RunMenuCommand(kCmdLeftSoftKey);
  EXPECT_EQ(window_->current_view(), store::kAllFolders);
  EXPECT_EQ(window_->left_key_text(), T(text::kShowUnread));
  EXPECT_EQ(window_->status_text(), "");
  EXPECT_EQ(window_->list()->RowCount(), 6);
}

TEST_F(MainWindowTest, TapAndHoldMenusForMailsAndDrafts) {
  SetUpMailbox(3);
  StartAndSync();
  QWidget* viewport = window_->list()->viewport();
  const int h = window_->list()->RowHeight();
  {
    PopupPicker picker("标记已读");
    QTest::mousePress(viewport, Qt::LeftButton, Qt::NoModifier, QPoint(60, h / 2));
    ASSERT_TRUE(WaitFor([&] { return picker.done; }));
    QTest::mouseRelease(viewport, Qt::LeftButton, Qt::NoModifier, QPoint(60, h / 2));
    EXPECT_EQ(picker.items,
              QStringList({"打开邮件", "标记已读", "回复", "回复全部", "转发", "删除"}));
  }
  EXPECT_EQ(window_->list()->RowData(0).unread, false);
  {
    PopupPicker picker("");  // the right button on a desktop
    QTest::mousePress(viewport, Qt::RightButton, Qt::NoModifier, QPoint(60, h / 2));
    ASSERT_TRUE(WaitFor([&] { return picker.done; }));
    EXPECT_EQ(picker.items[1], "标记未读");
  }
  store::LocalMail draft;
  draft.subject = u"草稿";
  draft.body = u"<p>x</p>";
  uint32_t id = 0;
  ASSERT_TRUE(store()->SaveLocalMail(draft, &id));
  const int row = window_->list()->RowOf(id);
  ASSERT_GE(row, 0);
  const QPoint at(60, row * h + h / 2);
  PopupPicker picker("");
  QTest::mousePress(viewport, Qt::LeftButton, Qt::NoModifier, at);
  ASSERT_TRUE(WaitFor([&] { return picker.done; }));
  QTest::mouseRelease(viewport, Qt::LeftButton, Qt::NoModifier, at);
  EXPECT_EQ(picker.items, QStringList({"打开草稿", "删除草稿"}));
}

TEST_F(MainWindowTest, PreviousAndNextStopAtBothEnds) {
  SetUpMailbox(3);
  StartAndSync();
  const uint32_t first = window_->list()->MailAt(0);
  const uint32_t second = window_->list()->MailAt(1);
  const uint32_t last = window_->list()->MailAt(2);
  next_step_ = -1;  // "上一封" on the first row
  window_->OpenMail(0);
  EXPECT_EQ(opened_, (std::vector<uint32_t>{first}));
  EXPECT_EQ(window_->list()->current_row(), 0);
  opened_.clear();
  next_step_ = +1;
  window_->OpenMail(0);
  EXPECT_EQ(opened_, (std::vector<uint32_t>{first, second}));
  EXPECT_EQ(window_->list()->current_row(), 1);
  opened_.clear();
  next_step_ = +1;  // "下一封" on the last row
  window_->OpenMail(2);
  EXPECT_EQ(opened_, (std::vector<uint32_t>{last}));
  EXPECT_EQ(window_->list()->current_row(), 2);
}

TEST_F(MainWindowTest, FolderScreenCountsAndTheExcludeToggle) {
  SetUpMailbox(3);
  StartAndSync();
  ASSERT_TRUE(store()->folders()->AddFolder(100, u"Work"));
  FolderDialog dialog(store(), window_.get());
  const QStringList texts = dialog.EntryTexts();
  EXPECT_EQ(texts[0], "全部邮件(2/3)");
  EXPECT_EQ(texts[1], "未读(2/3)");
  EXPECT_TRUE(texts.contains("Work"));
  const QAction* toggle = FindCommand(dialog.menu(), kCmdToggleFolderFetch);
  QString why;
  ASSERT_TRUE(dialog.SelectRow(0, &why));
  EXPECT_FALSE(dialog.RunCommand(kCmdToggleFolderFetch, &why));  // fixed entry
  EXPECT_EQ(toggle->text(), T(text::kStopFetchingFolder));
  ASSERT_TRUE(dialog.SelectRow(static_cast<int>(texts.indexOf("Work")), &why));
  ASSERT_TRUE(dialog.RunCommand(kCmdToggleFolderFetch, &why)) << why.toStdString();
  EXPECT_EQ(store()->folders()->excluded(), std::vector<uint32_t>{100});
  QMetaObject::invokeMethod(dialog.menu(), "aboutToShow");
  EXPECT_EQ(toggle->text(), T(text::kFetchFolder));
  ASSERT_TRUE(dialog.RunCommand(kCmdEnterFolder, &why));
  EXPECT_EQ(dialog.chosen(), 100u);
}

TEST_F(MainWindowTest, AutoSyncTimerOnAFakeClock) {
  SetUpMailbox(2);
  store::GlobalSettings& s = app_.service()->settings();
  s.Set(keys::kAutoSyncSpan, 30);
  StartAndSync();
  int syncs = 0;
  const int sub =
      app_.service()->SubscribeSyncDone([&](const facade::SyncOutcome&) { ++syncs; });
  const int64_t first = window_->last_sync_time();
  // The person keeps tapping the list: a sync a minute at most.
  now_ = first + 59;
  QTest::mouseClick(window_->list()->viewport(), Qt::LeftButton);
  window_->OnAutoSyncTimer();
  EXPECT_FALSE(app_.service()->JobsRunning());
  now_ = first + 60;
  window_->OnAutoSyncTimer();
  EXPECT_EQ(window_->last_sync_time(), first + 60);
  ASSERT_TRUE(WaitFor([&] { return syncs == 1; }));
  // Idle: the configured 30 minutes.
  now_ = first + 60 + 29 * 60;
  window_->OnAutoSyncTimer();
  EXPECT_EQ(window_->last_sync_time(), first + 60);
  s.Set(keys::kAutoSyncSpan, 0);  // "不自动收取"
  now_ += 100000;
  QTest::mouseClick(window_->list()->viewport(), Qt::LeftButton);
  window_->OnAutoSyncTimer();
  EXPECT_EQ(window_->last_sync_time(), first + 60);
  app_.service()->UnsubscribeSyncDone(sub);
}

TEST_F(MainWindowTest, AFailedUserSyncShowsItsCodeAndAFailedTimerSyncIsSilent) {
  SetUpMailbox(1);
  StartAndSync();
  rig_.server_.reset();  // the gateway is gone
  window_->RunMenuCommand(kCmdFetchMail);
  EXPECT_EQ(window_->status_text(), T(text::kSyncing));
  ASSERT_TRUE(WaitFor([this] { return !app_.service()->JobsRunning(); }));
  EXPECT_TRUE(window_->status_text().startsWith("同步邮件失败(")) << window_->status_text().toStdString();
  EXPECT_NE(window_->status_text(), T(text::kSyncFailed));
  now_ += 3600;
  window_->OnAutoSyncTimer();
  ASSERT_TRUE(WaitFor([this] { return !app_.service()->JobsRunning(); }));
  EXPECT_FALSE(window_->status_text().startsWith("同步邮件失败("));
}

TEST_F(MainWindowTest, AnOldVersionIsOfflineOnly) {
  gateway::GatewayOptions old;
  old.min_client_version = 0x20000;
  SetUpMailbox(2, old);
  MakeWindow();
  BoxAnswerer no("否");  // the upgrade question after the start-up login
  ASSERT_TRUE(window_->StartUp());
  ASSERT_TRUE(WaitFor([&] { return no.answered(); }));
  EXPECT_EQ(no.caption(), T(text::kUpgradeCaption));
  EXPECT_TRUE(window_->offline());
  EXPECT_TRUE(window_->title_text().startsWith("Quillpost-离线")) << window_->title_text().toStdString();
  BoxAnswerer ok("OK");
  BoxAnswerer ok_zh("确定");
  window_->RunMenuCommand(kCmdFetchMail);
  EXPECT_TRUE(ok.answered() || ok_zh.answered());
  EXPECT_EQ(ok.answered() ? ok.text() : ok_zh.text(), T(text::kOfflineOnly));
  EXPECT_FALSE(app_.service()->JobsRunning());
}

TEST_F(MainWindowTest, NewMailSoundNoticeAndStatusByReminderMode) {
  SetUpMailbox(3);
  store::GlobalSettings& s = app_.service()->settings();
  s.Set(keys::kMailRemind, 3);
  foreground_ = false;
  StartAndSync();
  EXPECT_EQ(alert_.sounds, 1);
  EXPECT_EQ(alert_.notices, std::vector<int>{2});
  // In the foreground, away from view 0: the status line tells.
  foreground_ = true;
  window_->SwitchView(store::kUnreadView, QString());
  const std::string maildir = rig_.state_.path() + "/accounts/" + kRigAccount + "/Maildir";
  gateway::Deliver(maildir, "new/9999.rig",
                   gateway::PlainMessage("又一封", "Dan <d@example.com>", "x",
                                         "Mon, 07 Dec 2026 20:00:00 +0000"));
  s.Set(keys::kMailRemind, 0);
  window_->RunMenuCommand(kCmdFetchMail);
  ASSERT_TRUE(WaitFor([this] { return !app_.service()->JobsRunning(); }));
  EXPECT_EQ(window_->status_text(), T(text::kNewMails).arg(1));
  EXPECT_EQ(alert_.sounds, 1);
  EXPECT_EQ(alert_.notices.size(), 1u);
}

TEST_F(MainWindowTest, ExitConfirmation) {
  SetUpMailbox(1);
  StartAndSync();
  {
    BoxAnswerer cancel("取消");
    window_->RunMenuCommand(kCmdExit);
    EXPECT_EQ(cancel.caption(), T(text::kConfirmExit));
  }
  EXPECT_TRUE(quit_codes_.empty());
  {
    BoxAnswerer minimise("最小化");
    window_->RunMenuCommand(kCmdExit);
    EXPECT_TRUE(window_->isMinimized());
  }
  BoxAnswerer quit("退出");
  window_->RunMenuCommand(kCmdExit);
  EXPECT_EQ(quit_codes_, std::vector<int>{0});
}

TEST_F(MainWindowTest, SwitchAccountShowsAnEmptyLoginScreenAndCancelChangesNothing) {
  SetUpMailbox(2);
  StartAndSync();
  store::AccountStore* before = store();
  BoxAnswerer cancel("取消");
  window_->RunMenuCommand(kCmdSwitchAccount);
  EXPECT_TRUE(cancel.answered());
  EXPECT_EQ(cancel.caption(), T(text::kLoginTitle));
  EXPECT_EQ(store(), before);
  EXPECT_EQ(window_->list()->RowCount(), 2);
}

}  // namespace
}  // namespace ui
}  // namespace quill
