// The statistics values: where each travels in an upload, and what an
// accepted upload leaves behind.
#include "facade/usage_counters.h"

#include <gtest/gtest.h>

#include "engine/net_job.h"
#include "tests/temp_dir.h"

namespace quill {
namespace facade {
namespace {

class UsageCountersTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(settings_.SetDataDir(dir_.path())); }
  uint32_t Stored(const char* key) {
    store::ConfigFile file(DefaultFileSystem());
    file.SetPath(dir_.path() + "/global.cfg");
    return file.GetUInt(key, 0);
  }

  TempDir dir_;
  store::GlobalSettings settings_{DefaultFileSystem()};
  UsageCounters counters_{&settings_};
};

TEST_F(UsageCountersTest, EachValueHasItsPlaceInTheUpload) {
  store::ConfigFile& file = settings_.file();
  file.SetUInt("AuthOK", 6);
  file.SetUInt("SyncSvrErr", 11);
  file.SetUInt("MailAttachNetErr", 16);
  file.SetUInt("MailBriefOK", 24);
  file.SetUInt("StartTime", 27);
  file.SetInt("CrashCount", 29);
  const commands::StatValues v = counters_.Snapshot();
  // Value i travels under tag 6 + i.
  EXPECT_EQ(v[6 - 6], 6u);
  EXPECT_EQ(v[11 - 6], 11u);
  EXPECT_EQ(v[16 - 6], 16u);
  EXPECT_EQ(v[24 - 6], 24u);
  EXPECT_EQ(v[27 - 6], 27u);
  EXPECT_EQ(v[29 - 6], 29u);
  EXPECT_EQ(v[28 - 6], 0u);  // "EndTime" absent
  // Every kind the service counts is uploaded.
  for (const char* prefix : {"Auth", "Sync", "MailBody", "MailAttach", "MailImg", "MailDelvLong",
                             "MailBrief"}) {
    for (const char* outcome : {"OK", "NetErr", "SvrErr"}) {
      const std::string key = std::string(prefix) + outcome;
      int found = 0;
      for (const char* k : kStatKeys) found += key == k;
      EXPECT_EQ(found, 1) << key;
    }
  }
}

TEST_F(UsageCountersTest, AnAcceptedUploadLeavesWhatCameAfterItsSnapshot) {
  store::ConfigFile& file = settings_.file();
  file.SetUInt("AuthOK", 3);
  file.SetUInt("SyncOK", 0xFFFFFFFF);
  file.SetUInt("StartTime", 1000);
  file.SetUInt("EndTime", 2000);
  file.SetInt("CrashCount", 1);
  const commands::StatValues uploaded = counters_.Snapshot();
  // While the upload is in flight: more logins, a sync count that wraps, a
  // sync end that records new times.
  counters_.Count(engine::kJobLogin, engine::JobEventKind::kData, 0);
  counters_.Count(engine::kJobSync, engine::JobEventKind::kData, 0);
  counters_.Count(engine::kJobSync, engine::JobEventKind::kData, 0);
  counters_.RecordSyncTimes(1000, 3000);
  ASSERT_TRUE(counters_.Settle(uploaded));
  EXPECT_EQ(Stored("AuthOK"), 1u);
  EXPECT_EQ(Stored("SyncOK"), 2u);
  EXPECT_EQ(Stored("StartTime"), 0u);     // unchanged: uploaded
  EXPECT_EQ(Stored("EndTime"), 3000u);    // changed: for the next upload
  EXPECT_EQ(Stored("CrashCount"), 0u);
  EXPECT_EQ(Stored("MailImgOK"), 0u);
}

}  // namespace
}  // namespace facade
}  // namespace quill
