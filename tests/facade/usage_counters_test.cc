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

TEST_F(UsageCountersTest, EachJobTypeCountsUnderItsOwnKeys) {
  struct Case {
    int type;
    const char* prefix;  // null: counts nothing
  } cases[] = {
      {engine::kJobLogin, "Auth"},          {engine::kJobSync, "Sync"},
      {engine::kJobMailBrief, "MailBrief"}, {engine::kJobMailBody, "MailBody"},
      {engine::kJobAttachDownload, "MailAttach"}, {engine::kJobAttachPicture, "MailAttach"},
      {engine::kJobAttachText, "MailAttach"},     {engine::kJobMailImage, "MailImg"},
      {engine::kJobLongMail, "MailDelvLong"},     {engine::kJobDeliverMail, nullptr},
      {engine::kJobUpdatePack, nullptr},          {engine::kJobQueryUpdate, nullptr},
      {engine::kJobStatInfo, nullptr},            {engine::kJobDialUp, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.type);
    const commands::StatValues before = counters_.Snapshot();
    counters_.Count(c.type, engine::JobEventKind::kData, 0);
    counters_.Count(c.type, engine::JobEventKind::kData, -5);
    counters_.Count(c.type, engine::JobEventKind::kData, -5);
    counters_.Count(c.type, engine::JobEventKind::kError, 0);
    counters_.Count(c.type, engine::JobEventKind::kError, 0);
    counters_.Count(c.type, engine::JobEventKind::kError, 0);
    counters_.Count(c.type, engine::JobEventKind::kProgress, 0);  // counts nothing
    ASSERT_TRUE(counters_.Flush());
    for (size_t i = 0; i < commands::kStatValueCount; ++i) {
      const std::string key = kStatKeys[i];
      uint32_t added = 0;
      if (c.prefix != nullptr) {
        const std::string p = c.prefix;
        added = key == p + "OK" ? 1 : key == p + "SvrErr" ? 2 : key == p + "NetErr" ? 3 : 0;
      }
      EXPECT_EQ(Stored(kStatKeys[i]), before[i] + added) << key;
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
