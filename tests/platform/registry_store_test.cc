#include "platform/registry_store.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/fault_file_system.h"

namespace quill {
namespace {

class RegistryStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/quill_reg_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override { std::system(("rm -rf " + dir_).c_str()); }
  std::string dir_;
};

const std::u16string kKey = u"Software\\Corvane\\Quillpost";

TEST_F(RegistryStoreTest, RoundTripWithPathNames) {
  RegistryStore reg(DefaultFileSystem(), dir_ + "/sub");
  std::u16string v;
  EXPECT_FALSE(reg.GetString(kKey, u"LastRunConfigPath", &v));
  const std::u16string name = u"\\Program Files\\Quill\tpost\\\r\n中";
  ASSERT_TRUE(reg.SetString(kKey, name, u"\\数据\\"));
  ASSERT_TRUE(reg.SetString(kKey, u"LastRunConfigPath", u"a\\b\n"));
  ASSERT_TRUE(reg.SetString(u"Other", u"LastRunConfigPath", u"other"));
  RegistryStore again(DefaultFileSystem(), dir_ + "/sub");
  ASSERT_TRUE(again.GetString(kKey, name, &v));
  EXPECT_EQ(v, u"\\数据\\");
  ASSERT_TRUE(again.GetString(kKey, u"LastRunConfigPath", &v));
  EXPECT_EQ(v, u"a\\b\n");
  ASSERT_TRUE(again.Delete(kKey, u"LastRunConfigPath"));
  EXPECT_FALSE(again.GetString(kKey, u"LastRunConfigPath", &v));
  ASSERT_TRUE(again.GetString(u"Other", u"LastRunConfigPath", &v));
  EXPECT_EQ(v, u"other");
}

TEST_F(RegistryStoreTest, FailedWriteKeepsOldValue) {
  FaultInjectingFileSystem fault(DefaultFileSystem());
  RegistryStore reg(&fault, dir_);
  ASSERT_TRUE(reg.SetString(kKey, u"v", u"old"));
  fault.FailWrite(1);
  EXPECT_FALSE(reg.SetString(kKey, u"v", u"new"));
  std::u16string v;
  ASSERT_TRUE(reg.GetString(kKey, u"v", &v));
  EXPECT_EQ(v, u"old");
}

TEST_F(RegistryStoreTest, MalformedLinesAreSkipped) {
  std::string text = "bad line\nK\tN\tV\nK\tX\tbad\\q\n";
  ASSERT_TRUE(DefaultFileSystem()->ReplaceAtomically(dir_ + "/registry", ByteView(text)));
  RegistryStore reg(DefaultFileSystem(), dir_);
  std::u16string v;
  ASSERT_TRUE(reg.GetString(u"K", u"N", &v));
  EXPECT_EQ(v, u"V");
  EXPECT_FALSE(reg.GetString(u"K", u"X", &v));
}

TEST(RegistryDefaultDirTest, FollowsXdg) {
  // Restores the environment for the other tests of this program.
  const char* old_xdg = std::getenv("XDG_CONFIG_HOME");
  const char* old_home = std::getenv("HOME");
  std::string xdg = old_xdg ? old_xdg : "", home = old_home ? old_home : "";
  setenv("XDG_CONFIG_HOME", "/tmp/xdg", 1);
  EXPECT_EQ(RegistryStore::DefaultDir(), "/tmp/xdg/quillpost");
  unsetenv("XDG_CONFIG_HOME");
  setenv("HOME", "/home/u", 1);
  EXPECT_EQ(RegistryStore::DefaultDir(), "/home/u/.config/quillpost");
  if (old_xdg) setenv("XDG_CONFIG_HOME", xdg.c_str(), 1);
  if (old_home) {
    setenv("HOME", home.c_str(), 1);
  } else {
    unsetenv("HOME");
  }
}

}  // namespace
}  // namespace quill
