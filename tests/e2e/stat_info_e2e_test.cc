// The usage statistics upload against the gateway: what each kind of
// exchange counts, the snapshot the gateway records (by name, so the two
// tables agree), the upload once per run after the first good sync, the
// -3 repeat with the same snapshot, failures that keep everything, and
// counts made while an upload is in flight that survive it.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "facade/usage_counters.h"
#include "engine/trace.h"
#include "gateway/stats_store.h"
#include "tests/e2e/service_rig.h"

namespace quill {
namespace {

using Values = std::map<std::string, uint64_t>;

class StatInfoEndToEnd : public ServiceEndToEnd {
 protected:
  StatInfoEndToEnd() {
    before_start_ = [this](gateway::GatewayServer* server) {
      auto stat = std::make_unique<WatchedCommand>();
      stat_command_ = stat.get();
      stat_command_->Wrap(server->AddSessionCommand("statinfo", std::move(stat)));
    };
  }

  // The 24 values global.cfg holds now.
  Values Local() {
    Values v;
    for (const char* key : facade::kStatKeys) v[key] = Counter(key);
    return v;
  }
  // What the gateway recorded for alice: the uploads and the values summed
  // (the times as the last upload carried them).
  Values Recorded(int64_t* uploads) {
    gateway::StatsStore stats(state_.path() + "/" + gateway::kStatsFileName);
    std::vector<gateway::StatTotals> totals;
    std::string why;
    EXPECT_TRUE(stats.Totals(&totals, &why)) << why;
    Values v;
    *uploads = 0;
    for (const gateway::StatTotals& t : totals) {
      EXPECT_EQ(t.account, "alice");
      *uploads = t.uploads;
      for (size_t i = 0; i < gateway::kStatValueCount; ++i) v[gateway::kStatNames[i]] = t.values[i];
    }
    return v;
  }
  static Values Zeros() {
    Values v;
    for (const char* key : facade::kStatKeys) v[key] = 0;
    return v;
  }
  // Starts an upload and waits for its end and for every job it caused.
  facade::StatInfoOutcome Upload() {
    std::optional<facade::StatInfoOutcome> done;
    const int id = service_->SubscribeStatInfoDone([&](const facade::StatInfoOutcome& o) { done = o; });
    EXPECT_TRUE(service_->DoStatInfo());
    EXPECT_TRUE(loop_.PumpUntil([&] { return done && !service_->JobsRunning(); }, kWaitMs));
    service_->UnsubscribeStatInfoDone(id);
    return done.value_or(facade::StatInfoOutcome());
  }
  // One brief or body fetch of mail 1 through its end.
  void Fetch(bool brief) {
    std::optional<facade::FetchOutcome> done;
    auto handler = [&](const facade::FetchOutcome& o) { done = o; };
    const int id = brief ? service_->SubscribeBriefDone(handler) : service_->SubscribeBodyDone(handler);
    ASSERT_TRUE(brief ? service_->DoGetMailBrief(1) : service_->DoGetMailBody(1, 0, 0));
    ASSERT_TRUE(loop_.PumpUntil([&] { return done && !service_->JobsRunning(); }, kWaitMs));
    brief ? service_->UnsubscribeBriefDone(id) : service_->UnsubscribeBodyDone(id);
  }
  WatchedCommand* stat_command_ = nullptr;  // the gateway's statinfo

  // A user's login that is expected to fail.
  void FailedLogin(const std::string& password) {
    std::optional<commands::AuthOutcome> done;
    const int id = service_->SubscribeAuthDone([&](const commands::AuthOutcome& o) { done = o; });
    ASSERT_TRUE(service_->DoAuth(service_->connections().destination(), true, u"alice",
                                 Utf8ToUtf16(gateway::PasswordDigestText(password)), true));
    ASSERT_TRUE(loop_.PumpUntil([&] { return done && !service_->JobsRunning(); }, kWaitMs));
    service_->UnsubscribeAuthDone(id);
    EXPECT_FALSE(done->ok);
  }
  // The account saved as a login with automatic sign-in leaves it.
  void SaveAccount() {
    store::GlobalSettings settings(DefaultFileSystem());
    settings.SetDataDir(data_.path());
    ASSERT_TRUE(settings.Set(store::global_keys::kUinName, u"alice"));
    ASSERT_TRUE(settings.Set(store::global_keys::kPwd,
                             Utf8ToUtf16(gateway::PasswordDigestText("secret"))));
    ASSERT_TRUE(settings.Set(store::global_keys::kUinNum, 10001));
    ASSERT_TRUE(settings.Set(store::global_keys::kHaveLogon, 1));
  }
};

TEST_F(StatInfoEndToEnd, AFreshInstallationUploadsZerosAndKeepsWhatItsLoginCounted) {
  SaveAccount();
  MakeService();
  ASSERT_TRUE(service_->OpenSavedAccount());
  // No session: the upload waits for a silent login, with the values of
  // before it.
  const facade::StatInfoOutcome outcome = Upload();
  EXPECT_TRUE(outcome.ok);
  int64_t uploads = 0;
  EXPECT_EQ(Recorded(&uploads), Zeros());
  EXPECT_EQ(uploads, 1);
  // The login counted while the upload waited; clearing what was uploaded
  // keeps it.
  Values expected = Zeros();
  expected["AuthOK"] = 1;
  EXPECT_EQ(Local(), expected);
}

TEST_F(StatInfoEndToEnd, EveryKindCountsItsOutcomesAndTheGatewayRecordsThemByName) {
  MakeService();
  SignIn();
  DeliverMany(1);
  Sync(/*jobs=*/2);  // the run's first good sync uploads what the login counted
  int64_t uploads = 0;
  Values after_first = Recorded(&uploads);
  EXPECT_EQ(uploads, 1);
  EXPECT_EQ(after_first["AuthOK"], 1u);

  gateway::FaultPlan* faults = server_->faults();
  FailedLogin("wrong");                               // AuthSvrErr
  faults->Set("auth", {gateway::FaultMode::kHttp500, 0});
  FailedLogin("secret");                              // AuthNetErr
  faults->ClearAll();
  SignIn();                                           // AuthOK
  Fetch(/*brief=*/true);                              // MailBriefOK
  Fetch(/*brief=*/false);                             // MailBodyOK
  faults->Set("getmailbrief", {gateway::FaultMode::kHttp500, 0});
  faults->Set("getmailbody", {gateway::FaultMode::kHttp500, 0});
  Fetch(true);                                        // MailBriefNetErr
  Fetch(false);                                       // MailBodyNetErr
  faults->Set("getmailbrief", {gateway::FaultMode::kResult, -5});
  faults->Set("getmailbody", {gateway::FaultMode::kResult, -5});
  faults->Set("sync", {gateway::FaultMode::kResult, -6});
  Fetch(true);                                        // MailBriefSvrErr
  Fetch(false);                                       // MailBodySvrErr
  Sync();                                             // SyncSvrErr
  faults->Set("sync", {gateway::FaultMode::kHttp500, 0});
  Sync();                                             // SyncNetErr
  faults->ClearAll();

  const Values held = Local();
  for (const char* key : {"AuthOK", "AuthNetErr", "AuthSvrErr", "SyncOK", "SyncNetErr",
                          "SyncSvrErr", "MailBodyOK", "MailBodyNetErr", "MailBodySvrErr",
                          "MailBriefOK", "MailBriefNetErr", "MailBriefSvrErr"}) {
    EXPECT_EQ(held.at(key), 1u) << key;
  }
  for (const char* key : {"MailAttachOK", "MailImgNetErr", "MailDelvLongSvrErr", "CrashCount"}) {
    EXPECT_EQ(held.at(key), 0u) << key;
  }
  EXPECT_GT(held.at("StartTime"), 0u);
  EXPECT_GE(held.at("EndTime"), held.at("StartTime"));

  ASSERT_TRUE(Upload().ok);
  Values recorded = Recorded(&uploads);
  EXPECT_EQ(uploads, 2);
  for (const auto& [key, value] : held) {
    const bool time = key == "StartTime" || key == "EndTime";
    EXPECT_EQ(recorded[key], time ? value : after_first[key] + value) << key;
  }
  EXPECT_EQ(Local(), Zeros());
}

TEST_F(StatInfoEndToEnd, TheFirstGoodSyncOfARunUploadsOnceAndTheTimesOfTheRunSurviveIt) {
  MakeService();
  SignIn();
  service_.reset();
  // The last run was killed: it never wrote the orderly end.
  store::GlobalSettings settings(DefaultFileSystem());
  settings.SetDataDir(data_.path());
  ASSERT_TRUE(settings.Set(store::global_keys::kAbnormalOutFlag, 1));
  MakeService();
  ASSERT_EQ(Counter("CrashCount"), 1u);
  SignIn();
  server_->faults()->Set("sync", {gateway::FaultMode::kHttp500, 0});
  Sync();  // a failed sync uploads nothing
  server_->faults()->ClearAll();
  Sync(/*jobs=*/2);
  Sync(/*jobs=*/1);  // once per run
  int64_t uploads = 0;
  const Values recorded = Recorded(&uploads);
  EXPECT_EQ(uploads, 1);
  EXPECT_EQ(recorded.at("CrashCount"), 1u);
  EXPECT_EQ(recorded.at("AuthOK"), 2u);
  EXPECT_EQ(recorded.at("SyncNetErr"), 1u);
  EXPECT_EQ(Counter("CrashCount"), 0u);
  // The run's times were written after the snapshot was taken: they stay
  // for the next upload.
  EXPECT_GT(Counter("StartTime"), 0u);
  EXPECT_GT(Counter("EndTime"), 0u);
}

TEST_F(StatInfoEndToEnd, ARepeatAfterAnExpiredSessionUploadsTheSameSnapshot) {
  MakeService();
  SignIn();
  gateway::Fault expire{gateway::FaultMode::kExpire, 0};
  expire.once = true;
  server_->faults()->Set("statinfo", expire);
  const facade::StatInfoOutcome outcome = Upload();
  EXPECT_TRUE(outcome.ok);
  int64_t uploads = 0;
  const Values recorded = Recorded(&uploads);
  EXPECT_EQ(uploads, 1);
  EXPECT_EQ(recorded.at("AuthOK"), 1u);  // not the silent login's too
  EXPECT_EQ(Counter("AuthOK"), 1u);      // the silent login's stays
}

TEST_F(StatInfoEndToEnd, AFailedUploadKeepsEveryValue) {
  MakeService();
  SignIn();
  const Values held = Local();
  struct Case {
    gateway::Fault fault;
    uint32_t step;
  } cases[] = {
      {{gateway::FaultMode::kGarbage, 0}, engine::kStepDecodeBody},
      {{gateway::FaultMode::kHttp500, 0}, engine::kStepDecodeBody},
      {{gateway::FaultMode::kResult, -6}, 0},
      {{gateway::FaultMode::kDrop, 0}, engine::kStepReadBody},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.fault.mode));
    server_->faults()->Set("statinfo", c.fault);
    const facade::StatInfoOutcome outcome = Upload();
    EXPECT_FALSE(outcome.ok);
    EXPECT_EQ(outcome.step, c.step);
    if (c.step == 0) {
      EXPECT_EQ(outcome.code, -6);
    }
    EXPECT_EQ(Local(), held);
  }
  // Only the upload whose answer was cut reached the gateway; the client
  // cannot know, and sends those values again.
  int64_t uploads = 0;
  Recorded(&uploads);
  EXPECT_EQ(uploads, 1);
}

TEST_F(StatInfoEndToEnd, CountsMadeWhileAnUploadIsInFlightSurviveIt) {
  MakeService();
  SignIn();
  DeliverMany(1);
  Sync(/*jobs=*/2);
  Sync();  // with the first one's, SyncOK 2 to upload
  // The gateway holds the upload's answer back until the brief is done.
  std::promise<void> brief_done;
  std::shared_future<void> released = brief_done.get_future().share();
  stat_command_->Before(stat_command_->requests + 1,
                        [released] { released.wait_for(std::chrono::milliseconds(kWaitMs)); });
  std::optional<facade::StatInfoOutcome> uploaded;
  service_->SubscribeStatInfoDone([&](const facade::StatInfoOutcome& o) { uploaded = o; });
  ASSERT_TRUE(service_->DoStatInfo());
  EXPECT_FALSE(service_->DoStatInfo());  // one upload at a time
  std::optional<facade::FetchOutcome> brief;
  service_->SubscribeBriefDone([&](const facade::FetchOutcome& o) { brief = o; });
  ASSERT_TRUE(service_->DoGetMailBrief(1));
  ASSERT_TRUE(loop_.PumpUntil([&] { return brief.has_value(); }, kWaitMs));
  EXPECT_TRUE(brief->ok);
  EXPECT_FALSE(uploaded.has_value());
  brief_done.set_value();
  ASSERT_TRUE(loop_.PumpUntil([&] { return uploaded && !service_->JobsRunning(); }, kWaitMs));
  ASSERT_TRUE(uploaded->ok);
  EXPECT_EQ(uploaded->values[3], 2u);  // SyncOK
  EXPECT_EQ(Counter("SyncOK"), 0u);
  EXPECT_EQ(Counter("MailBriefOK"), 1u);
}

}  // namespace
}  // namespace quill
