#include "store/global_settings.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/crypto.h"
#include "platform/registry_store.h"
#include "store/data_dir_registry.h"
#include "store/device_id.h"

namespace quill {
namespace store {
namespace {

namespace gk = global_keys;

class GlobalSettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/quill_gs_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override { std::system(("rm -rf " + dir_).c_str()); }
  std::string dir_;
};

TEST_F(GlobalSettingsTest, DefaultsOfEveryKey) {
  GlobalSettings s(DefaultFileSystem());
  ASSERT_TRUE(s.SetDataDir(dir_));
  EXPECT_EQ(s.Get(gk::kUinName), u"");
  EXPECT_EQ(s.Get(gk::kPwd), u"");
  EXPECT_EQ(s.Get(gk::kUinNum), 0u);
  EXPECT_EQ(s.Get(gk::kNet), -1);
  EXPECT_EQ(s.Get(gk::kHaveLogon), 0);
  EXPECT_EQ(s.Get(gk::kHaveLogonProbe), -1);
  EXPECT_EQ(s.Get(gk::kAutoSyncSpan), 10);
  EXPECT_EQ(s.Get(gk::kAutoDeleteSpan), 30);
  EXPECT_EQ(s.Get(gk::kPicShow), 3);
  EXPECT_EQ(s.Get(gk::kMailRemind), 3);
  EXPECT_EQ(s.Get(gk::kAutoRun), 0);
  EXPECT_EQ(s.Get(gk::kLastUpdateTime), 0u);
  EXPECT_EQ(s.Get(gk::kLastUpdateVersion), 0u);
  EXPECT_EQ(s.Get(gk::kFileDialogPath), u"");
  EXPECT_EQ(s.Get(gk::kNoAddrEditTip), 0);
  EXPECT_EQ(s.Get(gk::kTotalRecvNetFlow), 0u);
  EXPECT_EQ(s.Get(gk::kTotalSendNetFlow), 0u);
  EXPECT_EQ(s.Get(gk::kAbnormalOutFlag), 0);
  EXPECT_EQ(s.Get(gk::kCrashCount), 0);
  EXPECT_FALSE(DefaultFileSystem()->Exists(dir_ + "/global.cfg"));
}

TEST_F(GlobalSettingsTest, CrashBookkeepingAndTrafficTotals) {
  {
    GlobalSettings s(DefaultFileSystem());
    s.SetDataDir(dir_ + "/");
    StartupSettings st = s.LoadAtStartup();
    EXPECT_EQ(st.net, -1);
    EXPECT_EQ(s.Get(gk::kAbnormalOutFlag), 1);
    s.Set(gk::kNet, 2);
  }  // ends without the orderly exit
  {
    GlobalSettings s(DefaultFileSystem());
    s.SetDataDir(dir_);
    StartupSettings st = s.LoadAtStartup();
    EXPECT_EQ(st.net, 2);
    EXPECT_EQ(s.Get(gk::kCrashCount), 1);
    EXPECT_EQ(s.Get(gk::kAbnormalOutFlag), 1);
    ASSERT_TRUE(s.SaveTrafficTotals(6000000000ull, 7));  // beyond 32 bits
  }
  GlobalSettings s(DefaultFileSystem());
  s.SetDataDir(dir_);
  StartupSettings st = s.LoadAtStartup();
  EXPECT_EQ(st.recv_total, 6000000000ull);
  EXPECT_EQ(st.send_total, 7u);
  EXPECT_EQ(s.Get(gk::kCrashCount), 1);  // the orderly exit added nothing
}

TEST(PositionTablesTest, EveryMapping) {
  const int sync_values[] = {5, 10, 20, 30, 60, 0};
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(AutoSyncSpanFromPosition(i), sync_values[i]);
    EXPECT_EQ(AutoSyncSpanToPosition(sync_values[i]), i);
  }
  EXPECT_EQ(AutoSyncSpanToPosition(15), 1);  // "10分钟" shown for 15
  const int delete_values[] = {10, 20, 30, 60};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(AutoDeleteSpanFromPosition(i), delete_values[i]);
    EXPECT_EQ(AutoDeleteSpanToPosition(delete_values[i]), i);
  }
  EXPECT_EQ(AutoDeleteSpanToPosition(45), 2);
  EXPECT_EQ(PicShowFromPosition(0), 1);
  EXPECT_EQ(PicShowFromPosition(2), 3);
  EXPECT_EQ(PicShowFromPosition(9), 2);
  EXPECT_EQ(PicShowToPosition(1), 0);
  EXPECT_EQ(PicShowToPosition(2), 1);
  EXPECT_EQ(PicShowToPosition(3), 2);
  EXPECT_EQ(PicShowToPosition(0), 2);
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(MailRemindFromPosition(i), i);
    EXPECT_EQ(MailRemindToPosition(i), i);
  }
  EXPECT_EQ(MailRemindFromPosition(4), 1);
  EXPECT_EQ(MailRemindToPosition(7), 0);  // "无提示"
}

class FixedSource : public DeviceIdSource {
 public:
  bool GetDeviceUniqueId(ByteView, Bytes* out) override {
    ++calls;
    if (fail) return false;
    *out = Bytes(24, 0xAB);  // longer than the 20 the platform may report
    return true;
  }
  int calls = 0;
  bool fail = false;
};

TEST(DeviceIdTest, DigestOfPlatformIdAndDirectory) {
  FixedSource source;
  DeviceId a(&source, u"/opt/邮件/");
  // The platform's first 20 bytes, then the directory in code page 936.
  const std::string material = std::string(20, '\xAB') + "/opt/\xD3\xCA\xBC\xFE/";
  uint8_t want[16];
  crypto::Md5(ByteView(material), want);
  EXPECT_EQ(Bytes(a.Get().begin(), a.Get().end()), Bytes(want, want + 16));
  a.Get();
  EXPECT_EQ(source.calls, 1);  // once per run
  EXPECT_EQ(a.Hex().size(), 32u);
  DeviceId b(&source, u"/home/u/quill/");
  EXPECT_NE(a.Get(), b.Get());  // two installations differ
  FixedSource failing;
  failing.fail = true;
  DeviceId c(&failing, u"/x/");
  EXPECT_EQ(c.Get(), DeviceId::Value{});
}

TEST_F(GlobalSettingsTest, RegistryValues) {
  RegistryStore reg(DefaultFileSystem(), dir_);
  EXPECT_EQ(GetLastRunConfigPath(&reg), u"");
  ASSERT_TRUE(SetLastRunConfigPath(&reg, u"/data/"));
  ASSERT_TRUE(SetInstallDataDir(&reg, u"/opt/quill/", u"/data2/"));
  EXPECT_EQ(GetLastRunConfigPath(&reg), u"/data/");
  EXPECT_EQ(GetInstallDataDir(&reg, u"/opt/quill/"), u"/data2/");
  EXPECT_EQ(GetInstallDataDir(&reg, u"/opt/other/"), u"");
}

}  // namespace
}  // namespace store
}  // namespace quill
