#include "platform/device_id_source.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/crypto.h"

namespace quill {
namespace {

class DeviceIdSourceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/quill_dev_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override { std::system(("rm -rf " + dir_).c_str()); }
  std::string dir_;
};

TEST_F(DeviceIdSourceTest, MachineIdAndTagDigest) {
  ASSERT_TRUE(DefaultFileSystem()->ReplaceAtomically(dir_ + "/machine-id",
                                                     ByteView(std::string("abc123\n"))));
  LinuxDeviceIdSource src(DefaultFileSystem(), dir_ + "/machine-id", dir_);
  Bytes a, b;
  ASSERT_TRUE(src.GetDeviceUniqueId(ByteView(std::string("TAG")), &a));
  uint8_t want[16];
  crypto::Md5(ByteView(std::string("abc123TAG")), want);
  EXPECT_EQ(a, Bytes(want, want + 16));
  ASSERT_TRUE(src.GetDeviceUniqueId(ByteView(std::string("TAG2")), &b));
  EXPECT_NE(a, b);
  EXPECT_FALSE(DefaultFileSystem()->Exists(dir_ + "/device-id"));
}

TEST_F(DeviceIdSourceTest, FallbackIsPersisted) {
  LinuxDeviceIdSource src(DefaultFileSystem(), dir_ + "/no-machine-id", dir_ + "/cfg");
  Bytes a, b;
  ASSERT_TRUE(src.GetDeviceUniqueId(ByteView(std::string("T")), &a));
  LinuxDeviceIdSource again(DefaultFileSystem(), dir_ + "/no-machine-id", dir_ + "/cfg");
  ASSERT_TRUE(again.GetDeviceUniqueId(ByteView(std::string("T")), &b));
  EXPECT_EQ(a, b);
  EXPECT_EQ(a.size(), 16u);
  EXPECT_TRUE(DefaultFileSystem()->Exists(dir_ + "/cfg/device-id"));
}

}  // namespace
}  // namespace quill
