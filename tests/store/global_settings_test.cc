#include "store/global_settings.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <set>

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

// One list of the settings screen: its size, its two mappings and the key
// its value is kept under.
struct ScreenList {
  const char* name;          // for failure messages
  int size;                  // entries of the list
  int (*from_position)(int); // what choosing an entry stores
  int (*to_position)(int);   // which entry a stored value shows
  IntKey key;                // where the value is kept
};

const ScreenList kLists[] = {
    {"AUTOSYNCSPAN", 6, AutoSyncSpanFromPosition, AutoSyncSpanToPosition, gk::kAutoSyncSpan},
    {"AUTODELETESPAN", 4, AutoDeleteSpanFromPosition, AutoDeleteSpanToPosition, gk::kAutoDeleteSpan},
    {"PICSHOW", 3, PicShowFromPosition, PicShowToPosition, gk::kPicShow},
    {"MAILREMIND", 4, MailRemindFromPosition, MailRemindToPosition, gk::kMailRemind},
};

// Whatever a user chooses is saved to global.cfg and shown again on the
// next visit; every stored value, even one the screen never writes, shows
// an entry of the list; distinct entries store distinct values; a key's
// default shows an entry that stores it back.
TEST_F(GlobalSettingsTest, ScreenListsRoundTripThroughTheFile) {
  for (const ScreenList& list : kLists) {
    SCOPED_TRACE(list.name);
    std::set<int> stored;
    for (int p = 0; p < list.size; ++p) {
      {
        GlobalSettings s(DefaultFileSystem());
        ASSERT_TRUE(s.SetDataDir(dir_));
        ASSERT_TRUE(s.Set(list.key, list.from_position(p)));
      }
      GlobalSettings s(DefaultFileSystem());
      ASSERT_TRUE(s.SetDataDir(dir_));
      EXPECT_EQ(list.to_position(s.Get(list.key)), p) << "entry " << p;
      stored.insert(list.from_position(p));
    }
    EXPECT_EQ(stored.size(), static_cast<size_t>(list.size));
    for (int v = -100; v <= 1000; ++v) {
      const int p = list.to_position(v);
      ASSERT_TRUE(p >= 0 && p < list.size) << "value " << v;
    }
    for (int p : {-1, list.size, 1000}) {
      const int v = list.from_position(p);
      EXPECT_EQ(list.from_position(list.to_position(v)), v) << "position " << p;
    }
    EXPECT_EQ(list.from_position(list.to_position(list.key.def)), list.key.def);
  }
}

// What the lists mean: minutes that grow along the list and "不自动收取"
// last (0, no automatic sync); days that grow; the picture modes 1-3 in
// order; and the cases a user can meet: a hand-edited 15 minutes shows
// "10分钟", 45 days "30天", reminder 7 "无提示", picture mode 9 "适应屏幕".
TEST_F(GlobalSettingsTest, ScreenListsMeanWhatTheyShow) {
  for (int p = 1; p < 5; ++p) EXPECT_GT(AutoSyncSpanFromPosition(p), AutoSyncSpanFromPosition(p - 1));
  EXPECT_EQ(AutoSyncSpanFromPosition(0), 5);
  EXPECT_EQ(AutoSyncSpanFromPosition(4), 60);
  EXPECT_EQ(AutoSyncSpanFromPosition(5), 0);
  for (int p = 1; p < 4; ++p) EXPECT_GT(AutoDeleteSpanFromPosition(p), AutoDeleteSpanFromPosition(p - 1));
  EXPECT_EQ(AutoDeleteSpanFromPosition(0), 10);
  EXPECT_EQ(AutoDeleteSpanFromPosition(3), 60);
  for (int p = 0; p < 3; ++p) EXPECT_EQ(PicShowFromPosition(p), p + 1);
  for (int p = 0; p < 4; ++p) EXPECT_EQ(MailRemindFromPosition(p), p);
  EXPECT_EQ(AutoSyncSpanToPosition(15), 1);
  EXPECT_EQ(AutoDeleteSpanToPosition(45), 2);
  EXPECT_EQ(MailRemindToPosition(7), 0);
  EXPECT_EQ(PicShowToPosition(9), 2);
  EXPECT_EQ(PicShowFromPosition(9), 2);
  EXPECT_EQ(MailRemindFromPosition(9), 1);
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
