#include "ui/login_dialog.h"

#include <gtest/gtest.h>

#include <QTest>

#include "app/application.h"
#include "commands/auth_message.h"
#include "tests/temp_dir.h"
#include "tests/ui/ui_rig.h"
#include "tests/ui/ui_test_util.h"
#include "ui/texts.h"

namespace quill {
namespace ui {
namespace {

TEST(AccountTextTest, ValidityAndCompletion) {
  for (const char* good : {"alice", "alice.b", "a_b-c+d", "10001", "alice@example.com",
                           "a@mail.example.org"}) {
    EXPECT_TRUE(IsValidAccount(QString::fromUtf8(good))) << good;
  }
  for (const char* bad : {"", " ", "a b", ".alice", "alice.", "a@b", "a@@b.com", "a@.com",
                          "爱丽丝", "a/b", "a@b.com@c.com"}) {
    EXPECT_FALSE(IsValidAccount(QString::fromUtf8(bad))) << bad;
  }
  EXPECT_FALSE(IsValidAccount(QString(120, QChar(u'a'))));  // too long once completed
  EXPECT_EQ(CompleteAccount("bob", false), "bob@example.com");
  EXPECT_EQ(CompleteAccount("bob", true), "bob@vip.example.com");
  EXPECT_EQ(CompleteAccount("bob@other.org", true), "bob@other.org");
}

class LoginDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    rig_.Populate(1);
    rig_.Start();
    rig_.InstallConfig(data_.path());
    std::string why;
    ASSERT_TRUE(app_.Start(data_.path(), "", &why)) << why;
  }
  void TearDown() override {
    app_.Shutdown();
  }
  // Submits and returns the text of the box the attempt shows (answered with
  // `button`), or "" when none appears before the dialog closes.
  QString SubmitAndAnswer(LoginDialog* d, const QString& button) {
    BoxAnswerer answer(button);
    d->Submit();
    WaitFor([&] { return answer.answered() || d->result() == QDialog::Accepted; });
    WaitFor([&] { return !d->waiting(); });
    return answer.answered() ? answer.text() : QString();
  }

  TempDir data_;
  GatewayRig rig_;
  app::Application app_;
};

TEST_F(LoginDialogTest, FieldChecksComeBeforeAnyLogin) {
  LoginDialog d(app_.service(), app_.Destinations(), {}, nullptr);
  d.account_field()->setText("a b");
  BoxAnswerer first("OK");
  BoxAnswerer first_zh("确定");
  d.Submit();
  EXPECT_EQ((first.answered() ? first : first_zh).text(), T(text::kBadAccount));
  EXPECT_EQ((first.answered() ? first : first_zh).caption(), "");
  EXPECT_FALSE(d.waiting());
  d.account_field()->setText("alice");
  BoxAnswerer second("OK");
  BoxAnswerer second_zh("确定");
  d.Submit();
  EXPECT_EQ((second.answered() ? second : second_zh).text(), T(text::kEmptyPassword));
  EXPECT_FALSE(d.waiting());
  EXPECT_FALSE(app_.service()->JobsRunning());
}

TEST_F(LoginDialogTest, PremiumTypeCompletesTheAccountAndARefusalShowsItsText) {
  LoginDialog d(app_.service(), app_.Destinations(), {}, nullptr);
  d.account_field()->setText("alice");
  QTest::keyClicks(d.password_field(), "secret");
  d.type_list()->setCurrentIndex(1);
  const QString shown = SubmitAndAnswer(&d, "确定");
  EXPECT_EQ(d.account_field()->text(), "alice@vip.example.com");
  EXPECT_TRUE(shown.startsWith("无此用户或密码错误") || shown == "找不到") << shown.toStdString();
  EXPECT_NE(d.result(), QDialog::Accepted);
}

TEST_F(LoginDialogTest, TheSavedDigestSignsInWhenThePasswordWasNotEdited) {
  LoginDialog::Fields saved;
  saved.account = u"alice";
  saved.password_digest = commands::PasswordDigest(kRigPassword);
  LoginDialog d(app_.service(), app_.Destinations(), saved, nullptr);
  EXPECT_EQ(SubmitAndAnswer(&d, "确定"), "");
  EXPECT_EQ(d.result(), QDialog::Accepted);
  ASSERT_NE(app_.service()->store(), nullptr);
  EXPECT_EQ(app_.service()->store()->uin(), kRigUin);
}

TEST_F(LoginDialogTest, ANetworkFailureOffersTheNetworkCheck) {
  rig_.server_.reset();
  LoginDialog d(app_.service(), app_.Destinations(), {}, nullptr);
  int checks = 0;
  d.open_network_check = [&](QWidget*) { ++checks; };
  d.account_field()->setText("alice");
  QTest::keyClicks(d.password_field(), "secret");
  BoxAnswerer yes("是");
  d.Submit();
  ASSERT_TRUE(WaitFor([&] { return yes.answered(); }));
  EXPECT_EQ(yes.caption(), T(text::kProduct));
  EXPECT_TRUE(yes.text().startsWith("您选择接入的网络无法连通"));
  EXPECT_EQ(checks, 1);
  EXPECT_FALSE(d.waiting());
}

}  // namespace
}  // namespace ui
}  // namespace quill
