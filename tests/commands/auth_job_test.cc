// The login completion: what is stored for which result and account, in
// which order, and the one AuthDone of every job.
#include "commands/auth_job.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "platform/file_system.h"

namespace quill {
namespace commands {
namespace {

namespace keys = store::global_keys;

class FakeHost : public LoginHost {
 public:
  explicit FakeHost(const std::string& dir) : settings(DefaultFileSystem()) {
    settings.SetDataDir(dir);
  }
  bool IsCurrentLogin(uint32_t) override { return true; }
  std::u16string LoginAccount() override { return account; }
  void SetLoginAccount(std::u16string a) override {
    calls.push_back("account");
    account = std::move(a);
  }
  void SetLoginPassword(std::u16string p) override {
    calls.push_back("password");
    password = std::move(p);
  }
  void SetSession(std::string s) override {
    calls.push_back("session");
    session = std::move(s);
  }
  void SetLoginUin(uint32_t u) override {
    calls.push_back("uin");
    uin = u;
  }
  void SwitchAccount() override { calls.push_back("switch"); }
  void OpenAccount(uint32_t u) override { calls.push_back("open " + std::to_string(u)); }
  void SaveAccountProfile(const std::u16string& n, const std::u16string& a) override {
    nickname = n;
    address = a;
  }
  store::GlobalSettings* Settings() override { return &settings; }
  void RememberDestination(int ap) override { destination = ap; }
  void DisableAutoLogin() override { auto_login_disabled = true; }
  void CountAutoLoginFailure() override { ++failures; }
  void ResetAutoLoginFailures() override { failures = 0; }
  void DropPendingJobs() override { calls.push_back("drop"); }
  void RunPendingJobs() override { calls.push_back("run pending"); }
  void StartUpdateQuery(int reason) override { update_reason = reason; }
  void AuthDone(const AuthOutcome& o) override { outcomes.push_back(o); }

  store::GlobalSettings settings;
  std::u16string account, password, nickname, address;
  std::string session;
  uint32_t uin = 0;
  int destination = -1, failures = 3, update_reason = 0;
  bool auto_login_disabled = false;
  std::vector<std::string> calls;
  std::vector<AuthOutcome> outcomes;
};

class AuthJobTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/quill_auth_job_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    host_ = std::make_unique<FakeHost>(dir_);
    host_->account = u"Alice@Example.com";
  }
  void TearDown() override { std::system(("rm -rf " + dir_).c_str()); }

  AuthJob MakeJob(std::u16string account, bool user, bool auto_login) {
    AuthJobParams p;
    p.access_point = 2;
    p.user_initiated = user;
    p.account = std::move(account);
    p.password = u"5f4dcc3b5aa765d61d8327deb882cf99";
    p.auto_login = auto_login;
    p.now_seconds = [this] { return now_; };
    return AuthJob(&context_, host_.get(), p);
  }
  static AuthResponse SignedIn(int32_t version = 0x10030) {
    AuthResponse r;
    r.head.result = 0;
    r.uin = 10001;
    r.session_key = "S";
    r.nickname = "小明";
    r.address = "alice@example.com";
    r.server_version = version;
    return r;
  }

  std::string dir_;
  engine::ExchangeContext context_;
  std::unique_ptr<FakeHost> host_;
  int64_t now_ = 0;  // the update notice's clock
};

TEST_F(AuthJobTest, SameAccountInOtherCaseOnlyReplacesTheSession) {
  host_->settings.Set(keys::kHaveLogon, 1);
  host_->settings.Set(keys::kPwd, u"old");
  MakeJob(u"alice@example.COM", /*user=*/false, /*auto=*/false).Complete(SignedIn());
  EXPECT_EQ((std::vector<std::string>{"password", "session", "uin", "run pending"}),
            host_->calls);
  EXPECT_EQ(u"Alice@Example.com", host_->account);
  EXPECT_EQ(u"old", host_->settings.Get(keys::kPwd));  // HAVELOGON 1 keeps it
  EXPECT_EQ(2, host_->destination);
  EXPECT_EQ(2, host_->settings.Get(keys::kNet));
  EXPECT_EQ(u"小明", host_->nickname);
  EXPECT_EQ(0, host_->failures);
  ASSERT_EQ(1u, host_->outcomes.size());
  EXPECT_TRUE(host_->outcomes[0].ok);
  EXPECT_EQ(10001u, host_->outcomes[0].uin);
  EXPECT_EQ("S", host_->outcomes[0].session);
}

TEST_F(AuthJobTest, AnotherAccountSwitchesBeforeItsValuesAreSet) {
  MakeJob(u"bob", /*user=*/true, /*auto=*/true).Complete(SignedIn());
  EXPECT_EQ((std::vector<std::string>{"switch", "account", "password", "session", "uin",
                                      "open 10001", "run pending"}),
            host_->calls);
  EXPECT_EQ(u"bob", host_->settings.Get(keys::kUinName));
  EXPECT_EQ(10001u, host_->settings.Get(keys::kUinNum));
  EXPECT_EQ(1, host_->settings.Get(keys::kHaveLogon));
  EXPECT_EQ(u"5f4dcc3b5aa765d61d8327deb882cf99", host_->settings.Get(keys::kPwd));
}

TEST_F(AuthJobTest, AUsersLoginStoresThePasswordOnlyWhileTheBoxIsTicked) {
  host_->settings.Set(keys::kHaveLogon, 1);
  host_->settings.Set(keys::kPwd, u"old");
  MakeJob(u"alice@example.com", /*user=*/true, /*auto=*/false).Complete(SignedIn());
  EXPECT_EQ(0, host_->settings.Get(keys::kHaveLogon));  // no automatic login next start
  EXPECT_EQ(u"", host_->settings.Get(keys::kPwd));      // and no password left on disk
  MakeJob(u"alice@example.com", /*user=*/true, /*auto=*/true).Complete(SignedIn());
  EXPECT_EQ(1, host_->settings.Get(keys::kHaveLogon));
  EXPECT_EQ(u"5f4dcc3b5aa765d61d8327deb882cf99", host_->settings.Get(keys::kPwd));
}

TEST_F(AuthJobTest, ASilentLoginNeverWritesTheCredentials) {
  // The user unticked the box; a silent login (after -3, or for held work)
  // runs with the password of the session.
  host_->settings.Set(keys::kHaveLogon, 0);
  host_->settings.Set(keys::kPwd, u"");
  MakeJob(u"alice@example.com", /*user=*/false, /*auto=*/true).Complete(SignedIn());
  EXPECT_EQ(u"", host_->settings.Get(keys::kPwd));
  EXPECT_EQ(0, host_->settings.Get(keys::kHaveLogon));
  EXPECT_EQ(u"5f4dcc3b5aa765d61d8327deb882cf99", host_->password);  // in memory only
}

TEST_F(AuthJobTest, ASwitchWithTheBoxClearRemovesThePreviousAccountsPassword) {
  host_->settings.Set(keys::kHaveLogon, 1);
  host_->settings.Set(keys::kPwd, u"alice's digest");
  MakeJob(u"bob", /*user=*/true, /*auto=*/false).Complete(SignedIn());
  EXPECT_EQ(u"bob", host_->settings.Get(keys::kUinName));
  EXPECT_EQ(0, host_->settings.Get(keys::kHaveLogon));
  EXPECT_EQ(u"", host_->settings.Get(keys::kPwd));
}

TEST_F(AuthJobTest, UpgradeAnswerInstallsTheSessionOnlyForTheAccountHeld) {
  AuthResponse r;
  r.head.result = kAuthMustUpgrade;
  r.uin = 20002;
  r.session_key = "OFFLINE";
  r.update_id = "pkg1";
  MakeJob(u"mallory", /*user=*/true, /*auto=*/false).Complete(r);
  EXPECT_TRUE(host_->auto_login_disabled);
  EXPECT_EQ("", host_->session);
  EXPECT_EQ(0u, host_->uin);
  MakeJob(u"alice@example.com", /*user=*/true, /*auto=*/false).Complete(r);
  EXPECT_EQ("OFFLINE", host_->session);
  EXPECT_EQ(20002u, host_->uin);
  ASSERT_EQ(2u, host_->outcomes.size());
  EXPECT_FALSE(host_->outcomes[1].ok);
  EXPECT_EQ(kAuthMustUpgrade, host_->outcomes[1].code);
  EXPECT_EQ("pkg1", host_->outcomes[1].update_id);
}

TEST_F(AuthJobTest, RefusalOfAnAutomaticLoginCountsAndDropsThePendingJobs) {
  AuthResponse r;
  r.head.result = -4;
  MakeJob(u"alice@example.com", /*user=*/false, /*auto=*/false).Complete(r);
  EXPECT_EQ(4, host_->failures);
  EXPECT_EQ((std::vector<std::string>{"drop"}), host_->calls);
  MakeJob(u"alice@example.com", /*user=*/true, /*auto=*/false).Complete(r);
  EXPECT_EQ(4, host_->failures);  // a user's login is not counted
  EXPECT_EQ((std::vector<std::string>{"drop", "drop"}), host_->calls);  // its waiting jobs go too
  EXPECT_EQ(2u, host_->outcomes.size());
}

TEST_F(AuthJobTest, ErrorAndAbandonEachAnnounceOnce) {
  AuthJob job = MakeJob(u"alice@example.com", /*user=*/false, /*auto=*/false);
  job.OnError(1, engine::kJobLogin, 12029, 4, 0);
  ASSERT_EQ(1u, host_->outcomes.size());
  EXPECT_FALSE(host_->outcomes[0].ok);
  EXPECT_EQ(12029, host_->outcomes[0].code);
  EXPECT_EQ((std::vector<std::string>{"drop"}), host_->calls);
  job.Abandon();
  ASSERT_EQ(2u, host_->outcomes.size());
  EXPECT_EQ(0, host_->outcomes[1].code);
  // A user's login that fails on the network drops the waiting jobs too.
  MakeJob(u"alice@example.com", /*user=*/true, /*auto=*/false).OnError(2, engine::kJobLogin, 12029, 2, 0);
  EXPECT_EQ((std::vector<std::string>{"drop", "drop"}), host_->calls);
}

TEST_F(AuthJobTest, UpdateNoticeFollowsVersionAndTheTenDayRule) {
  struct Case {
    int32_t version;
    uint64_t last_version, last_time;
    int64_t now;
    bool due;
  } cases[] = {
      {0x10030, 0, 0, 1000, false},                // not newer than this client
      {0x10031, 0, 0, 1000, true},                 // nothing recorded
      {0x10031, 0x10031, 1000, 1000 + 864000, false},  // told within ten days
      {0x10031, 0x10031, 1000, 1000 + 864001, true},   // ten days have passed
      {0x10031, 0x10031, 5000, 1000, false},       // clock before the record
      {0x10032, 0x10031, 1000, 1001, true},        // a newer version than told
      {0x10031, 0xFFFFFFFF, 1000, 1001, true},     // versions compare signed: -1 is older
      {0x10031, 0x10031, 1ull << 63, 1000, false}, // times compare unsigned: not after it
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.version);
    host_->update_reason = 0;
    host_->settings.Set(keys::kLastUpdateVersion, c.last_version);
    host_->settings.Set(keys::kLastUpdateTime, c.last_time);
    now_ = c.now;
    MakeJob(u"alice@example.com", true, false).Complete(SignedIn(c.version));
    EXPECT_EQ(c.due ? 2 : 0, host_->update_reason);
  }
}

TEST(AuthFailureText, EveryResultHasItsText) {
  EXPECT_EQ(u"参数错误", AuthFailureText(-2));
  EXPECT_EQ(AuthFailureText(-3), AuthFailureText(-4));
  EXPECT_EQ(u"无此用户或密码错误，请检查是否设置了独立密码。", AuthFailureText(-4));
  EXPECT_EQ(u"找不到", AuthFailureText(-5));
  EXPECT_EQ(u"服务器拒绝登录", AuthFailureText(-6));
  EXPECT_EQ(u"此邮箱不在内测授权范围，仅当服务器闲时才可以登录。", AuthFailureText(-11));
  EXPECT_EQ(u"此邮箱不在内测授权范围，无法登录。", AuthFailureText(-12));
  EXPECT_EQ(u"未定义的错误", AuthFailureText(-7));
  EXPECT_EQ(u"您选择接入的网络无法连通，请问是否检测有效的网络接入类型？", AuthFailureText(12029));
  EXPECT_TRUE(IsNetworkFailure(0));
}

}  // namespace
}  // namespace commands
}  // namespace quill
