#include "app/data_dir_choice.h"

#include <gtest/gtest.h>

#include "platform/file_system.h"
#include "store/data_dir_registry.h"
#include "tests/temp_dir.h"

namespace quill {
namespace app {
namespace {

class DataDirChoiceTest : public ::testing::Test {
 protected:
  std::u16string Choose(const DataDirInputs& in) {
    return ChooseDataDir(&registry_, in, [this](const std::u16string& last) {
      asked_.push_back(last);
      return keep_;
    });
  }
  TempDir dir_;
  RegistryStore registry_{DefaultFileSystem(), dir_.path()};
  std::vector<std::u16string> asked_;
  bool keep_ = true;
};

TEST_F(DataDirChoiceTest, FirstRunEverTakesItsOwnDirectoryWithoutAsking) {
  const DataDirInputs in{u"/opt/a/", u"/home/u/a-data", u""};
  EXPECT_EQ(Choose(in), u"/home/u/a-data");
  EXPECT_TRUE(asked_.empty());
  EXPECT_EQ(store::GetLastRunConfigPath(&registry_), u"/home/u/a-data");
  EXPECT_EQ(store::GetInstallDataDir(&registry_, u"/opt/a/"), u"/home/u/a-data");
}

TEST_F(DataDirChoiceTest, ANewInstallationAsksOnceAndRemembersTheAnswer) {
  store::SetLastRunConfigPath(&registry_, u"/old/data");
  const DataDirInputs in{u"/opt/b/", u"/home/u/b-data", u""};
  keep_ = false;
  EXPECT_EQ(Choose(in), u"/home/u/b-data");
  ASSERT_EQ(asked_.size(), 1u);
  EXPECT_EQ(asked_[0], u"/old/data");
  keep_ = true;  // a later run would keep it, but is not asked
  EXPECT_EQ(Choose(in), u"/home/u/b-data");
  EXPECT_EQ(asked_.size(), 1u);
}

TEST_F(DataDirChoiceTest, KeepingTheOldDirectoryAndTheSameDirectoryInOtherCase) {
  store::SetLastRunConfigPath(&registry_, u"/Old/Data");
  EXPECT_EQ(Choose({u"/opt/c/", u"/home/u/c-data", u""}), u"/Old/Data");
  EXPECT_EQ(store::GetInstallDataDir(&registry_, u"/opt/c/"), u"/Old/Data");
  // The last run's directory equal to this installation's own, up to case:
  // nothing to ask.
  asked_.clear();
  EXPECT_EQ(Choose({u"/opt/d/", u"/old/data", u""}), u"/old/data");
  EXPECT_TRUE(asked_.empty());
}

TEST_F(DataDirChoiceTest, AnExplicitDirectoryIsUsedAndRecordedAsTheLastRun) {
  store::SetLastRunConfigPath(&registry_, u"/old/data");
  EXPECT_EQ(Choose({u"/opt/e/", u"/home/u/e-data", u"/given"}), u"/given");
  EXPECT_TRUE(asked_.empty());
  EXPECT_EQ(store::GetLastRunConfigPath(&registry_), u"/given");
  EXPECT_EQ(store::GetInstallDataDir(&registry_, u"/opt/e/"), u"");
}

}  // namespace
}  // namespace app
}  // namespace quill
