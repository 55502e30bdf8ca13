#include "store/auto_start.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/fault_file_system.h"

namespace quill {
namespace store {
namespace {

class AutoStartTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/quill_auto_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override { std::system(("rm -rf " + dir_).c_str()); }
  std::string dir_;
};

TEST_F(AutoStartTest, OnOffAndEntryName) {
  XdgAutoStart a(DefaultFileSystem(), dir_ + "/autostart", "/opt/quill/quillpost.bin");
  EXPECT_EQ(a.entry_path(), dir_ + "/autostart/quillpost.desktop");
  EXPECT_FALSE(a.IsEnabled());
  EXPECT_TRUE(a.SetEnabled(false));  // nothing to remove
  ASSERT_TRUE(a.SetEnabled(true));
  EXPECT_TRUE(a.IsEnabled());
  Bytes b;
  ASSERT_TRUE(DefaultFileSystem()->ReadFile(a.entry_path(), &b));
  EXPECT_EQ(std::string(b.begin(), b.end()), XdgAutoStart::EntryText("/opt/quill/quillpost.bin"));
  ASSERT_TRUE(a.SetEnabled(true));  // again: replaced, not appended
  ASSERT_TRUE(a.SetEnabled(false));
  EXPECT_FALSE(a.IsEnabled());
}

TEST(AutoStartEntryTest, ExecQuoting) {
  EXPECT_EQ(XdgAutoStart::EntryText("/a b/q"),
            "[Desktop Entry]\nType=Application\nName=Quillpost\nExec=\"/a b/q\"\n"
            "X-GNOME-Autostart-enabled=true\n");
  std::string t = XdgAutoStart::EntryText("/x\"$`\\%/q");
  EXPECT_NE(t.find("Exec=\"/x\\\\\"\\\\$\\\\`\\\\\\\\%%/q\"\n"), std::string::npos) << t;
  EXPECT_EQ(XdgAutoStart::EntryText("/a\nExec=evil"), "");  // no injected line
}

TEST_F(AutoStartTest, LineBreakInPathOrFailedWriteIsRefused) {
  XdgAutoStart bad(DefaultFileSystem(), dir_, "/a\nb");
  EXPECT_FALSE(bad.SetEnabled(true));
  EXPECT_FALSE(bad.IsEnabled());
  FaultInjectingFileSystem fault(DefaultFileSystem());
  XdgAutoStart a(&fault, dir_, "/opt/q");
  fault.FailWrite(1);
  EXPECT_FALSE(a.SetEnabled(true));
  EXPECT_FALSE(a.IsEnabled());
}

}  // namespace
}  // namespace store
}  // namespace quill
