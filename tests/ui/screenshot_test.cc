// A few pictures of the screens compared with references, with a tolerance
// for anti-aliasing. QUILL_UPDATE_SHOTS=1 writes the references instead.
#include <gtest/gtest.h>

#include <QImage>
#include <cstdlib>
#include <string>

#include "store/account_store.h"
#include "store/filetime.h"
#include "tests/temp_dir.h"
#include "ui/exit_dialog.h"
#include "ui/handheld_screen.h"
#include "ui/mail_list_view.h"
#include "ui/texts.h"

namespace quill {
namespace ui {
namespace {

// Fraction of pixels whose colour differs by more than 48 in a channel.
double Difference(const QImage& a, const QImage& b) {
  if (a.size() != b.size()) return 1.0;
  const QImage x = a.convertToFormat(QImage::Format_RGB32);
  const QImage y = b.convertToFormat(QImage::Format_RGB32);
  long differing = 0;
  for (int row = 0; row < x.height(); ++row) {
    const QRgb* p = reinterpret_cast<const QRgb*>(x.constScanLine(row));
    const QRgb* q = reinterpret_cast<const QRgb*>(y.constScanLine(row));
    for (int col = 0; col < x.width(); ++col) {
      if (std::abs(qRed(p[col]) - qRed(q[col])) > 48 ||
          std::abs(qGreen(p[col]) - qGreen(q[col])) > 48 ||
          std::abs(qBlue(p[col]) - qBlue(q[col])) > 48) {
        ++differing;
      }
    }
  }
  return static_cast<double>(differing) / (x.width() * x.height());
}

void ExpectLooksLike(const QImage& shot, const std::string& name) {
  const QString path = QString::fromStdString(std::string(QUILL_UI_SHOTS_DIR "/") + name);
  const char* update = std::getenv("QUILL_UPDATE_SHOTS");
  if (update != nullptr && std::string(update) == "1") {
    ASSERT_TRUE(shot.save(path, "PNG"));
    return;
  }
  const QImage reference(path);
  ASSERT_FALSE(reference.isNull()) << path.toStdString();
  EXPECT_LT(Difference(shot, reference), 0.01) << name;
}

// Rows of every kind, dated in a past year so the date texts never change.
TEST(ScreenshotTest, MailList) {
  TempDir dir;
  store::AccountStore account(DefaultFileSystem());
  ASSERT_TRUE(account.Open(10001, dir.path() + "/"));
  const struct {
    const char16_t* sender;
    const char16_t* subject;
    bool unread;
    uint16_t attachments;
  } mails[] = {
      {u"\"张三\"<zhangsan@example.cn>", u"本周工作报告", true, 0},
      {u"\"Bob Builder\"<bob@example.com>", u"Lunch on Friday?", false, 2},
      {u"lisi@example.cn", u"下周例会安排，请准时参加并准备好材料", false, 0},
  };
  uint32_t server_id = 1;
  for (const auto& m : mails) {
    store::MailRecord r;
    r.set_server_id(server_id);
    r.set_folder(1);
    r.set_date(store::FiletimeFromSeconds(1'580'000'000 + 3600LL * server_id++));
    r.set_flags(m.unread ? store::kUnreadFlag : 0);
    r.set_attach_count(m.attachments);
    r.sender = m.sender;
    r.subject = m.subject;
    r.MarkTextsChanged();
    ASSERT_NE(account.mails()->AddOrUpdateMail(&r), 0u);
  }
  store::LocalMail draft;
  draft.subject = u"草稿";
  uint32_t id = 0;
  ASSERT_TRUE(account.SaveLocalMail(draft, &id));
  store::MailRecord r;
  ASSERT_TRUE(account.mails()->ReadMail(id, &r));
  r.set_date(store::FiletimeFromSeconds(1'580'000'000));
  ASSERT_TRUE(account.mails()->WriteMail(id, &r));
  MailListView list;
  list.SetStore([&] { return account.mails(); });
  list.resize(HandheldSize());
  ASSERT_TRUE(list.SelectRow(1));
  ExpectLooksLike(list.grab().toImage(), "mail_list.png");
  list.SetMultiSelect(true);
  list.ToggleRow(2);
  ExpectLooksLike(list.grab().toImage(), "mail_list_ticked.png");
}

TEST(ScreenshotTest, ExitConfirmation) {
  ExitDialog dialog(nullptr);
  dialog.resize(200, 120);
  ExpectLooksLike(dialog.grab().toImage(), "exit_dialog.png");
}

}  // namespace
}  // namespace ui
}  // namespace quill
