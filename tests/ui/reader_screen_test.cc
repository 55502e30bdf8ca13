// The reader against our gateway under the offscreen platform: header and
// body, the slice rules (one request at a time, held = total does nothing,
// scrolling, failures), previous / next through the main window at both
// ends, links, copying and deleting.
#include "ui/reader_screen.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QScrollBar>
#include <QTest>
#include <memory>
#include <vector>

#include "app/application.h"
#include "commands/auth_message.h"
#include "gateway/gateway_server.h"
#include "html/labelled_block_element.h"
#include "html/link_element.h"
#include "store/global_settings.h"
#include "tests/temp_dir.h"
#include "tests/ui/ui_rig.h"
#include "tests/ui/ui_test_util.h"
#include "ui/body_font.h"
#include "ui/commands.h"
#include "ui/handheld_screen.h"
#include "ui/link_target.h"
#include "ui/main_window.h"
#include "ui/texts.h"
#include "ui/wide_text.h"

namespace quill {
namespace ui {
namespace {

namespace keys = store::global_keys;

constexpr char kHtmlSubject[] = "网页邮件";
constexpr char kLongSubject[] = "长邮件";
// Characters of the long mail's body: a brief and several slices.
constexpr int kLongChars = 20000;

std::string HtmlMessage() {
  return "From: \"王五\" <wang@example.com>\r\nTo: \"爱丽丝\" <alice@example.com>, "
         "bob@example.com\r\nCc: carol@example.com\r\nSubject: " +
         std::string(kHtmlSubject) +
         "\r\nDate: Mon, 07 Dec 2026 09:00:00 +0000\r\nMIME-Version: 1.0\r\n"
         "Content-Type: text/html; charset=utf-8\r\nContent-Transfer-Encoding: 8bit\r\n\r\n"
         "<html><body><p>你好，这是一封测试邮件。</p>"
         "<table><tr><td>姓名</td><td>电话</td></tr></table>"
         "<p><a href=\"HTTPS://www.example.com/a\">网页</a> "
         "<a href=\"javascript:alert(1)\">脚本</a> "
         "<a href=\"MailTo:bob@example.com?subject=hi\">写信</a> "
         "<a href=\"file:///etc/passwd\">文件</a></p></body></html>";
}

std::string LongBody() {
  std::string body;
  for (int i = 0; i < kLongChars; ++i) {
    body += i % 40 == 39 ? "\n" : "长";
  }
  return body + "\n结尾";
}

class ReaderTest : public ::testing::Test {
 protected:
  // The rig's `mails` short mails, the HTML mail and the long one; signed
  // in and synced through the main window.
  void SetUpAndSync(int mails) {
    font_ = BodyFont::Open();
    ASSERT_NE(font_, nullptr);
    rig_.Populate(mails);
    const std::string maildir = rig_.state_.path() + "/accounts/" + kRigAccount + "/Maildir";
    gateway::Deliver(maildir, "cur/1.html:2,S", HtmlMessage());
    gateway::Deliver(maildir, "cur/2.long:2,S",
                     gateway::PlainMessage(kLongSubject, "Long <long@example.com>", LongBody(),
                                           "Mon, 07 Dec 2026 08:00:00 +0000"));
    rig_.Start();
    rig_.InstallConfig(data_.path());
    std::string why;
    ASSERT_TRUE(app_.Start(data_.path(), "", &why)) << why;
    store::GlobalSettings& s = app_.service()->settings();
    s.Set(keys::kUinName, u"alice@example.com");
    s.Set(keys::kPwd, commands::PasswordDigest(kRigPassword));
    s.Set(keys::kUinNum, static_cast<uint64_t>(kRigUin));
    s.Set(keys::kHaveLogon, 1);
    MainWindowOptions o;
    o.quit = [](int) {};
    o.foreground = [] { return true; };
    o.hooks.open_reader = [this](MainWindow* w, uint32_t mail) {
      opened_.push_back(mail);
      ReaderHooks hooks;
      hooks.adjacent = [w](int delta) { w->PostAdjacentMail(delta); };
      ReaderScreen reader(service(), app_.loop(), font_->text_font(), hooks, w);
      ASSERT_TRUE(reader.Open(mail));
      // The script of the test picks the reader's command.
      QTimer::singleShot(0, &reader, [this, &reader] {
        const uint32_t command = steps_.empty() ? kCmdCloseReader : steps_.front();
        if (!steps_.empty()) steps_.erase(steps_.begin());
        QString why;
        EXPECT_TRUE(reader.RunCommand(command, &why)) << why.toStdString();
      });
      reader.exec();
    };
    window_ = std::make_unique<MainWindow>(service(), o);
    window_->resize(HandheldSize());
    ASSERT_TRUE(window_->StartUp());
    window_->show();
    ASSERT_TRUE(WaitFor([this] { return !service()->JobsRunning() && !window_->Busy(); }));
    brief_sub_ = service()->SubscribeBodyDone(
        [this](const facade::FetchOutcome& o) { bodies_.push_back(o); });
  }

  void TearDown() override {
    if (brief_sub_ != 0) service()->UnsubscribeBodyDone(brief_sub_);
    reader_.reset();
    window_.reset();
    app_.Shutdown();
  }

  facade::MailService* service() { return app_.service(); }
  store::MailStore* mails() { return service()->store()->mails(); }

  uint32_t FindMail(const char* subject) {
    for (const store::ViewEntry& e : mails()->View(store::kAllFolders)) {
      store::MailRecord mail;
      if (mails()->ReadMail(e.mail_id, &mail) && Us(QString::fromUtf8(subject)) == mail.subject) {
        return e.mail_id;
      }
    }
    return 0;
  }

  // A reader of its own (not through the main window) on a mail, loaded.
  void OpenReader(uint32_t mail_id, ReaderHooks hooks = ReaderHooks()) {
    ASSERT_NE(mail_id, 0u);
    reader_ = std::make_unique<ReaderScreen>(service(), app_.loop(), font_->text_font(),
                                             std::move(hooks), window_.get());
    ASSERT_TRUE(reader_->Open(mail_id));
    reader_->show();
    ASSERT_TRUE(WaitFor([this] { return !reader_->Busy() && !service()->JobsRunning(); }));
  }

  QStringList Dump() {
    QStringList lines;
    reader_->DumpText(&lines);
    return lines;
  }

  bool Run(uint32_t command) {
    QString why;
    const bool ok = reader_->RunCommand(command, &why);
    EXPECT_TRUE(ok) << why.toStdString();
    return ok;
  }

  // Centre of the first box of the first link whose text is `text`, in
  // viewport coordinates; (-1, -1) when there is none.
  QPoint LinkAt(const QString& text) {
    const html::HtmlLayout& layout = reader_->body()->html().layout();
    for (size_t i = 0; i < layout.element_count(); ++i) {
      const html::DisplayElement& e = layout.element(i);
      if (e.type() != html::ElementType::kLink ||
          Qs(static_cast<const html::LinkElement&>(e).text()) != text) {
        continue;
      }
      const html::LayoutBox& box = layout.boxes()[e.first_box()];
      return QPoint(layout.geometry().left_margin + box.x + box.width / 2,
                    static_cast<int>(layout.BoxTop(box) - reader_->body()->position()) + 4);
    }
    return QPoint(-1, -1);
  }

  TempDir data_;
  GatewayRig rig_;
  app::Application app_;
  std::unique_ptr<BodyFont> font_;
  std::unique_ptr<MainWindow> window_;
  std::unique_ptr<ReaderScreen> reader_;
  std::vector<uint32_t> opened_;       // mails the main window opened
  std::vector<uint32_t> steps_;        // commands for the readers it opens, in turn
  std::vector<facade::FetchOutcome> bodies_;  // every BodyDone
  int brief_sub_ = 0;
};

TEST_F(ReaderTest, HeaderRowsAndBodyTextAndTheMailIsRead) {
  SetUpAndSync(1);
  const uint32_t id = FindMail(kHtmlSubject);
  OpenReader(id);
  const QStringList lines = Dump();
  EXPECT_EQ(lines[0], "title: Quillpost");
  EXPECT_EQ(lines[1], "keys: 返回 | 菜单");
  EXPECT_EQ(lines[2], "status: ");
  EXPECT_EQ(lines[3], "收件人: 爱丽丝 <alice@example.com>");
  EXPECT_EQ(lines[4], "收件人: bob@example.com");
  EXPECT_EQ(lines[5], "抄送: carol@example.com");
  EXPECT_TRUE(lines[6].startsWith("日期: 2026-12-07 ")) << lines[6].toStdString();
  EXPECT_EQ(lines[7], "发件人: 王五 <wang@example.com>");
  EXPECT_EQ(lines[8], "主题: 网页邮件");
  EXPECT_TRUE(lines.contains("你好，这是一封测试邮件。")) << lines.join('\n').toStdString();
  EXPECT_TRUE(lines.contains("姓名 电话"));  // cells of a row keep apart
  // Labels show on the first row of each kind; the header comes first.
  const html::HtmlLayout& layout = reader_->body()->html().layout();
  ASSERT_GT(layout.element_count(), 8u);
  const auto& second_to = static_cast<const html::LabelledBlockElement&>(layout.element(1));
  EXPECT_TRUE(second_to.label.empty());
  EXPECT_EQ(second_to.target, u"mailto:bob@example.com");
  EXPECT_EQ(layout.element(6).type(), html::ElementType::kSeparatorBar);
  EXPECT_EQ(layout.element(7).type(), html::ElementType::kSpacer);
  store::MailRecord mail;
  ASSERT_TRUE(mails()->ReadMail(id, &mail));
  EXPECT_FALSE(mail.unread());
  // The view paints: the header's first row is not blank.
  const QImage shot = reader_->body()->viewport()->grab().toImage();
  bool inked = false;
  for (int x = 0; x < shot.width() && !inked; ++x) inked = shot.pixel(x, 10) != shot.pixel(0, 0);
  EXPECT_TRUE(inked);
}

TEST_F(ReaderTest, DownloadingTheBodyAsksOneSliceAtATime) {
  SetUpAndSync(1);
  OpenReader(FindMail(kLongSubject));
  ASSERT_FALSE(reader_->slices().complete());
  const uint32_t total = reader_->slices().held().total;
  EXPECT_GT(total, static_cast<uint32_t>(kLongChars));  // the service sends it as HTML
  // Slow answers, so the second press finds the first request running.
  rig_.server_->faults()->Set("getmailbody", {gateway::FaultMode::kDelay, 200, false});
  ASSERT_TRUE(Run(kCmdDownloadBody));
  EXPECT_TRUE(reader_->slices().outstanding());
  EXPECT_TRUE(reader_->slices().blocking());
  EXPECT_FALSE(reader_->body()->isEnabled());
  EXPECT_EQ(reader_->status_text(), T(text::kFetchingBody));
  ASSERT_TRUE(Run(kCmdDownloadBody));
  ASSERT_TRUE(WaitFor([this] { return !reader_->slices().blocking(); }, 60000));
  ASSERT_TRUE(WaitFor([this] { return !reader_->Busy() && !service()->JobsRunning(); }));
  // No request was replaced by a second one (that would end as abandoned),
  // and each answer added to the body.
  ASSERT_GE(bodies_.size(), 2u);
  for (const facade::FetchOutcome& o : bodies_) EXPECT_TRUE(o.ok) << o.code;
  EXPECT_TRUE(reader_->slices().complete());
  EXPECT_TRUE(reader_->body()->isEnabled());
  EXPECT_EQ(reader_->status_text(), "");
  EXPECT_EQ(reader_->body()->body().size(), total);
  EXPECT_EQ(Dump().last(), "结尾");
  // Held = total: the command does nothing.
  const size_t answers = bodies_.size();
  ASSERT_TRUE(Run(kCmdDownloadBody));
  EXPECT_FALSE(reader_->slices().outstanding());
  EXPECT_FALSE(reader_->slices().blocking());
  EXPECT_FALSE(service()->JobsRunning());
  QTest::qWait(50);
  EXPECT_EQ(bodies_.size(), answers);
}

TEST_F(ReaderTest, ScrollingFetchesQuietlyThenToTheEnd) {
  SetUpAndSync(1);
  OpenReader(FindMail(kLongSubject));
  BodyView* body = reader_->body();
  ASSERT_GT(body->max_position(), 30);
  body->ScrollTo(body->max_position() / 3);  // above two thirds: nothing
  EXPECT_FALSE(reader_->slices().outstanding());
  body->ScrollTo((2 * body->max_position()) / 3 + 1);  // a quiet request
  EXPECT_TRUE(reader_->slices().outstanding());
  EXPECT_FALSE(reader_->slices().blocking());
  ASSERT_TRUE(WaitFor([this] { return !reader_->slices().outstanding(); }));
  EXPECT_GT(reader_->slices().held().held, 1024u);
  // Keys scroll too; at the end a blocking fetch takes the rest.
  QTest::keyClick(body, Qt::Key_End);
  ASSERT_TRUE(WaitFor([this] { return reader_->slices().complete() && !reader_->Busy(); }, 60000));
  EXPECT_TRUE(body->isEnabled());
}

TEST_F(ReaderTest, AFailedSliceEndsTheBlockingFetch) {
  SetUpAndSync(1);
  OpenReader(FindMail(kLongSubject));
  rig_.server_->faults()->Set("getmailbody", {gateway::FaultMode::kHttp500, 0, false});
  ASSERT_TRUE(Run(kCmdDownloadBody));
  ASSERT_TRUE(WaitFor([this] { return !reader_->slices().blocking(); }));
  EXPECT_FALSE(reader_->slices().outstanding());
  EXPECT_FALSE(reader_->slices().complete());
  EXPECT_TRUE(reader_->body()->isEnabled());
  EXPECT_EQ(reader_->status_text(), "");
  ASSERT_FALSE(bodies_.empty());
  EXPECT_FALSE(bodies_.back().ok);
  // The person may ask again once the service answers.
  rig_.server_->faults()->ClearAll();
  ASSERT_TRUE(Run(kCmdDownloadBody));
  ASSERT_TRUE(WaitFor([this] { return reader_->slices().complete() && !reader_->Busy(); }, 60000));
}

TEST_F(ReaderTest, PreviousAndNextGoThroughTheListAndStopAtBothEnds) {
  SetUpAndSync(2);  // four rows: the two rig mails, the HTML and the long mail
  MailListView* list = window_->list();
  ASSERT_EQ(list->RowCount(), 4);
  // At the top "上一封" closes the reader and opens nothing.
  steps_ = {kCmdPreviousMail};
  window_->OpenMail(0);
  EXPECT_EQ(opened_, std::vector<uint32_t>({list->MailAt(0)}));
  EXPECT_EQ(list->current_row(), 0);
  // "下一封" walks down the list, one reader after the other, and stops at
  // the last row.
  opened_.clear();
  steps_ = {kCmdNextMail, kCmdNextMail, kCmdNextMail};
  window_->OpenMail(1);
  EXPECT_EQ(opened_, std::vector<uint32_t>({list->MailAt(1), list->MailAt(2), list->MailAt(3)}));
  EXPECT_EQ(list->current_row(), 3);
  EXPECT_TRUE(steps_.empty());
  // "上一封" from the last row opens the one above it.
  opened_.clear();
  steps_ = {kCmdPreviousMail, kCmdCloseReader};
  window_->OpenMail(3);
  EXPECT_EQ(opened_, std::vector<uint32_t>({list->MailAt(3), list->MailAt(2)}));
  EXPECT_EQ(list->current_row(), 2);
}

TEST(LinkTargetTest, OnlyWebAndMailSchemesAreActedOn) {
  EXPECT_EQ(ClassifyLink(" HTTPS://www.example.com/a?b=1 ").kind, LinkAction::kWeb);
  EXPECT_EQ(ClassifyLink("http://example.com").url.host(), "example.com");
  const LinkAction mail = ClassifyLink("MAILTO:%E5%BC%A0@example.com?subject=x");
  EXPECT_EQ(mail.kind, LinkAction::kMail);
  EXPECT_EQ(mail.address, "张@example.com");
  EXPECT_EQ(ClassifyLink("LUMAIL_ATTACHMENT_TAG").kind, LinkAction::kAttachments);
  for (const char* t : {"javascript:alert(1)", "file:///etc/passwd", "data:text/html,x",
                        "ftp://example.com", "/relative", "www.example.com", "http:",
                        "mailto:", "mailto:a@b.c%0D%0ABcc:x@y.z", "mailto:a@b.c,d@e.f",
                        "xhttp://example.com", ""}) {
    EXPECT_EQ(ClassifyLink(t).kind, LinkAction::kNone) << t;
  }
}

TEST_F(ReaderTest, TappedLinksOpenOnlyWebAndMailTargets) {
  SetUpAndSync(1);
  std::vector<QUrl> urls;
  std::vector<QString> addresses;
  ReaderHooks hooks;
  hooks.open_url = [&urls](const QUrl& url) { urls.push_back(url); };
  hooks.compose_to = [&addresses](QWidget*, const QString& a) { addresses.push_back(a); };
  OpenReader(FindMail(kHtmlSubject), hooks);
  QWidget* viewport = reader_->body()->viewport();
  for (const char* inert : {"脚本", "文件"}) {
    const QPoint at = LinkAt(QString::fromUtf8(inert));
    ASSERT_GE(at.y(), 0) << inert;
    QTest::mouseClick(viewport, Qt::LeftButton, Qt::NoModifier, at);
  }
  EXPECT_TRUE(urls.empty());
  EXPECT_TRUE(addresses.empty());
  QTest::mouseClick(viewport, Qt::LeftButton, Qt::NoModifier, LinkAt("网页"));
  ASSERT_EQ(urls.size(), 1u);
  EXPECT_EQ(urls[0].toString(), "https://www.example.com/a");
  // A press that travels more than a few pixels is no tap.
  const QPoint mail_link = LinkAt("写信");
  QTest::mousePress(viewport, Qt::LeftButton, Qt::NoModifier, mail_link);
  QTest::mouseMove(viewport, mail_link + QPoint(0, 30));
  QTest::mouseRelease(viewport, Qt::LeftButton, Qt::NoModifier, mail_link + QPoint(0, 30));
  EXPECT_TRUE(addresses.empty());
  QTest::mouseClick(viewport, Qt::LeftButton, Qt::NoModifier, mail_link);
  EXPECT_EQ(addresses, std::vector<QString>({"bob@example.com"}));
  EXPECT_EQ(reader_->result(), QDialog::Accepted);  // the compose screen takes over
}

TEST_F(ReaderTest, CopyCommandsAndDelete) {
  SetUpAndSync(1);
  const uint32_t id = FindMail(kHtmlSubject);
  OpenReader(id);
  QClipboard* clipboard = QGuiApplication::clipboard();
  ASSERT_TRUE(Run(kCmdCopyTo));
  EXPECT_EQ(clipboard->text(), "爱丽丝 <alice@example.com>; bob@example.com");
  ASSERT_TRUE(Run(kCmdCopyCc));
  EXPECT_EQ(clipboard->text(), "carol@example.com");
  ASSERT_TRUE(Run(kCmdCopySubject));
  EXPECT_EQ(clipboard->text(), "网页邮件");
  ASSERT_TRUE(Run(kCmdCopyBody));
  EXPECT_TRUE(clipboard->text().startsWith("你好，这是一封测试邮件。\n")) << clipboard->text().toStdString();
  EXPECT_TRUE(clipboard->text().contains("网页[HTTPS://www.example.com/a]"));
  // Reply and forward wait for the compose screen; no copy recipients: nothing to copy.
  reader_->PrepareMenu();
  EXPECT_FALSE(FindCommand(reader_->menu(), kCmdReply)->isEnabled());
  EXPECT_FALSE(FindCommand(reader_->menu(), kCmdForward)->isEnabled());
  OpenReader(FindMail(kLongSubject));
  reader_->PrepareMenu();
  EXPECT_FALSE(FindCommand(reader_->menu(), kCmdCopyCc)->isEnabled());
  // Delete asks first; "否" keeps the mail, "是" deletes it and closes.
  const uint32_t long_id = reader_->mail_id();
  {
    BoxAnswerer no("否");
    ASSERT_TRUE(Run(kCmdDelete));
    EXPECT_TRUE(no.answered());
    EXPECT_EQ(no.text(), T(text::kAskDelete));
  }
  EXPECT_TRUE(mails()->Contains(long_id));
  BoxAnswerer yes("是");
  ASSERT_TRUE(Run(kCmdDelete));
  EXPECT_TRUE(yes.answered());
  EXPECT_FALSE(mails()->Contains(long_id));
  EXPECT_EQ(reader_->result(), QDialog::Accepted);
}

}  // namespace
}  // namespace ui
}  // namespace quill
