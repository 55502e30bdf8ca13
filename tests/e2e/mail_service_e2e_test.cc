// The mail service facade against the gateway: work that waits for a
// silent login, one start and one end per job, the daily sync budget, and a
// session reset under a running sync.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "store/mail_store.h"
#include "tests/e2e/service_rig.h"

namespace quill {
namespace {

class MailServiceEndToEnd : public ServiceEndToEnd {
 protected:
  MailServiceEndToEnd() {
    before_start_ = [this](gateway::GatewayServer* server) {
      auto sync = std::make_unique<WatchedCommand>();
      sync_command_ = sync.get();
      sync_command_->Wrap(server->AddSessionCommand("sync", std::move(sync)));
      auto brief = std::make_unique<WatchedCommand>();
      brief_command_ = brief.get();
      brief_command_->Wrap(server->AddSessionCommand("getmailbrief", std::move(brief)));
    };
  }

  WatchedCommand* sync_command_ = nullptr;   // the gateway's sync
  WatchedCommand* brief_command_ = nullptr;  // the gateway's getmailbrief
};

TEST_F(MailServiceEndToEnd, WorkWithoutSessionWaitsForASilentLoginAndEveryJobEndsOnce) {
  MakeService();
  SignIn();
  DeliverMany(3);
  // A later run: the account is open, there is no session yet.
  MakeService();
  started_ = ended_ = 0;
  ASSERT_TRUE(service_->OpenSavedAccount());
  EXPECT_FALSE(service_->HasSession());
  Sync(/*jobs=*/3);
  EXPECT_TRUE(sync_->ok);
  EXPECT_EQ(sync_dones_, 1);
  EXPECT_EQ(found_, 1);
  EXPECT_EQ(started_, 3);  // the silent login, the sync (one page), the statistics upload
  EXPECT_EQ(ended_, 3);
  EXPECT_EQ(service_->store()->mails()->mail_count(), 3u);

  // A brief replaced while it waits for its login ends once, abandoned;
  // the second one is served.
  MakeService();
  ASSERT_TRUE(service_->OpenSavedAccount());
  std::vector<facade::FetchOutcome> briefs;
  service_->SubscribeBriefDone([&](const facade::FetchOutcome& o) { briefs.push_back(o); });
  ASSERT_TRUE(service_->DoGetMailBrief(1));
  ASSERT_TRUE(service_->DoGetMailBrief(2));
  // BriefDone comes before its job's end: wait for that too, so the count
  // below starts from settled work.
  ASSERT_TRUE(loop_.PumpUntil([&] { return briefs.size() == 2 && !service_->JobsRunning(); },
                              kWaitMs));
  EXPECT_FALSE(briefs[0].ok);
  EXPECT_EQ(briefs[0].code, 0);
  EXPECT_EQ(briefs[0].mail_id, 1u);  // every BriefDone names its mail
  EXPECT_TRUE(briefs[1].ok) << briefs[1].code;
  EXPECT_EQ(briefs[1].mail_id, 2u);
  EXPECT_FALSE(service_->DoGetMailBrief(999));  // no such mail

  // A dial on a worker: one ConnectDone, one end, no start event.
  std::optional<engine::NetworkType> dialled;
  service_->SubscribeConnectDone([&](engine::NetworkType t) { dialled = t; });
  const int started = started_, ended = ended_;
  ASSERT_TRUE(service_->DoConnect(service_->connections().destination()));
  ASSERT_TRUE(loop_.PumpUntil([&] { return dialled && ended_ == ended + 1; }, kWaitMs));
  EXPECT_NE(*dialled, engine::kNetNone);
  EXPECT_EQ(started_, started);
}

TEST_F(MailServiceEndToEnd, AUsersLoginReplacesARunningOneWhoseAnswerIsThenIgnored) {
  MakeService();
  std::vector<commands::AuthOutcome> answers;
  service_->SubscribeAuthDone([&](const commands::AuthOutcome& o) { answers.push_back(o); });
  server_->faults()->Set("auth", {gateway::FaultMode::kDelay, 300});
  const std::u16string digest = Utf8ToUtf16(gateway::PasswordDigestText("secret"));
  ASSERT_TRUE(service_->DoAuth(service_->connections().destination(), true, u"alice", digest, true));
  ASSERT_TRUE(loop_.PumpUntil([&] { return started_ == 1; }, kWaitMs));
  loop_.PumpUntil([] { return false; }, 100);  // the first is in flight
  ASSERT_TRUE(service_->DoAuth(service_->connections().destination(), true, u"alice", digest, true));
  ASSERT_EQ(answers.size(), 1u);  // the replaced one ended at once
  EXPECT_FALSE(answers[0].ok);
  EXPECT_EQ(answers[0].code, 0);
  EXPECT_TRUE(answers[0].replaced);  // the login screen waits for the newer one
  ASSERT_TRUE(loop_.PumpUntil([&] { return ended_ == 2; }, kWaitMs));
  ASSERT_EQ(answers.size(), 2u);  // the first one's late answer changed nothing
  EXPECT_TRUE(answers[1].ok);
  EXPECT_FALSE(answers[1].replaced);
  EXPECT_GT(answers[1].job_id, answers[0].job_id);
  EXPECT_TRUE(service_->HasSession());
  EXPECT_FALSE(service_->LoginRunning());
}

TEST_F(MailServiceEndToEnd, TheDailyBudgetStopsSyncUntilTheWindowTurns) {
  MakeService(/*daily_limit=*/1024);
  SignIn();
  DeliverMany(150);  // pages of up to 20480 bytes: the first one uses the day up
  Sync();
  EXPECT_FALSE(sync_->ok);
  EXPECT_EQ(sync_->step, 200);
  const size_t held = service_->store()->mails()->mail_count();
  EXPECT_GT(held, 0u);
  EXPECT_LT(held, 150u);
  Sync();  // still the same day: not even one page
  EXPECT_EQ(sync_->step, 200);
  EXPECT_EQ(service_->store()->mails()->mail_count(), held);
  // A day later, and with a limit from global.cfg, the rest comes in.
  tick_ms_ += facade::DailySyncBudget::kWindowMs + 1;
  store::GlobalSettings settings(DefaultFileSystem());
  settings.SetDataDir(data_.path());
  ASSERT_TRUE(settings.Set(store::global_keys::kSyncNetFlowLimit, 1u << 30));
  MakeService();
  SignIn();
  Sync(/*jobs=*/2);  // and the statistics upload
  EXPECT_TRUE(sync_->ok);
  EXPECT_EQ(service_->store()->mails()->mail_count(), 150u);
}

TEST_F(MailServiceEndToEnd, ResetSessionEndsARunningSyncOnceAndKeepsItsCommands) {
  MakeService();
  SignIn();
  DeliverMany(2);
  Sync(/*jobs=*/2);  // and the statistics upload
  ASSERT_TRUE(sync_->ok);
  ASSERT_TRUE(service_->store()->MarkRead(1));
  server_->faults()->Set("sync", {gateway::FaultMode::kDelay, 500});
  sync_.reset();
  ASSERT_TRUE(service_->DoSync(5));
  service_->ResetSession();
  ASSERT_TRUE(sync_.has_value());
  EXPECT_EQ(sync_->step, -1);
  // The late answer of the cancelled job changes nothing.
  const int dones = sync_dones_;
  // The login, the sync, the statistics upload, the cancelled sync.
  ASSERT_TRUE(loop_.PumpUntil([&] { return ended_ == 4; }, kWaitMs)) << ended_;
  EXPECT_EQ(sync_dones_, dones);
  EXPECT_FALSE(service_->HasSession());
  // The mark is still queued and reaches the Maildir with the next sync.
  server_->faults()->ClearAll();
  SignIn();
  Sync();
  ASSERT_TRUE(sync_->ok);
  bool seen = false;
  std::vector<std::string> names;
  ASSERT_TRUE(DefaultFileSystem()->ListPrefix(maildir_ + "/cur", "", &names));
  for (const std::string& n : names) seen |= n.find(":2,S") != std::string::npos;
  EXPECT_TRUE(seen);
}

TEST_F(MailServiceEndToEnd, APageThatCannotBeStoredKeepsItsKeyAndFailsTheSync) {
  MakeService();
  SignIn();
  DeliverMany(3);
  int arrived = 0;
  service_->SubscribeNewMailArrived([&](int n) { arrived += n; });
  fs_.FailWrite(1, /*sticky=*/true);  // the disk is full from now on
  Sync();
  EXPECT_FALSE(sync_->ok);
  EXPECT_EQ(sync_->step, facade::kSyncStepStore);
  EXPECT_EQ(found_, 0);
  EXPECT_EQ(arrived, 0);
  EXPECT_EQ(service_->store()->GetSyncKey(), 0);
  fs_.FailWrite(0);
  // The next sync asks for the same page and keeps everything.
  Sync(/*jobs=*/2);  // and the statistics upload
  ASSERT_TRUE(sync_->ok);
  EXPECT_EQ(arrived, 3);
  MakeService();  // what is on the disk
  ASSERT_TRUE(service_->OpenSavedAccount());
  EXPECT_EQ(service_->store()->mails()->mail_count(), 3u);
  EXPECT_NE(service_->store()->GetSyncKey(), 0);
}

TEST_F(MailServiceEndToEnd, ASyncOfManyPagesStartsAndEndsOnce) {
  MakeService();
  SignIn();
  DeliverMany(150);
  int pages = 0;
  service_->SubscribeSyncPage([&](int) { ++pages; });
  started_ = ended_ = 0;
  Sync(/*jobs=*/2);
  ASSERT_TRUE(sync_->ok);
  EXPECT_GE(pages, 1);  // more than one page
  EXPECT_EQ(started_, 2);  // the sync once, then the statistics upload
  EXPECT_EQ(ended_, 2);
}

TEST_F(MailServiceEndToEnd, ClientCommandsTheServiceTookAreNeverSentAgain) {
  MakeService();
  SignIn();
  DeliverMany(2);
  Sync(/*jobs=*/2);  // and the statistics upload
  ASSERT_TRUE(sync_->ok);
  DeliverMany(150);  // the next sync has several pages
  ASSERT_TRUE(service_->store()->MarkRead(1));
  std::vector<int32_t> sent;  // client commands of each sync request
  sync_command_->Watch([&](int, const protocol::WireMessage& request) {
    int32_t count = -1;
    request.Body().GetInt(6, &count);
    sent.push_back(count);
  });
  sync_command_->RefuseAt(sync_command_->requests + 2);  // the second page fails
  Sync();
  EXPECT_FALSE(sync_->ok);
  sync_command_->RefuseAt(0);
  Sync();
  ASSERT_TRUE(sync_->ok);
  ASSERT_GE(sent.size(), 3u);
  EXPECT_EQ(sent[0], 1);  // the mark, with the first page only
  for (size_t i = 1; i < sent.size(); ++i) EXPECT_EQ(sent[i], 0) << "request " << i;
}

TEST_F(MailServiceEndToEnd, AFailedUsersLoginEndsTheWorkThatWaitedForASession) {
  MakeService();
  SignIn();
  DeliverMany(1);
  MakeService();  // a later run: no session yet
  ASSERT_TRUE(service_->OpenSavedAccount());
  server_->faults()->Set("auth", {gateway::FaultMode::kDelay, 300});
  ASSERT_TRUE(service_->DoSync(commands::kSyncByUser));  // waits for a silent login
  // The user signs in meanwhile, with a wrong password.
  std::optional<commands::AuthOutcome> user;
  service_->SubscribeAuthDone([&](const commands::AuthOutcome& o) {
    if (!o.replaced) user = o;
  });
  ASSERT_TRUE(service_->DoAuth(service_->connections().destination(), true, u"alice",
                               Utf8ToUtf16(gateway::PasswordDigestText("wrong")), true));
  ASSERT_TRUE(loop_.PumpUntil([&] { return user.has_value() && sync_.has_value(); }, kWaitMs));
  EXPECT_FALSE(user->ok);
  EXPECT_EQ(sync_->step, facade::kSyncStepAbandoned);
  // Nothing waits any more: a new sync starts (with a silent login).
  server_->faults()->ClearAll();
  sync_.reset();
  ASSERT_TRUE(service_->DoSync(commands::kSyncByUser));
  ASSERT_TRUE(loop_.PumpUntil([&] { return sync_.has_value(); }, kWaitMs));
  EXPECT_TRUE(sync_->ok);
}

// Quitting while the gateway takes a minute to answer: the service's
// destruction stops the transfer and waits for its worker, so it returns
// at once and no worker touches it afterwards (ASan sees any such touch
// when the answer finally arrives).
TEST_F(MailServiceEndToEnd, QuittingDuringASlowExchangeStopsItAndLeavesNoWorkerBehind) {
  MakeService();
  SignIn();
  DeliverMany(1);
  Sync(/*jobs=*/2);  // and the statistics upload
  ASSERT_TRUE(sync_->ok);
  std::mutex mu;
  std::condition_variable cv;
  bool in_flight = false, released = false;
  brief_command_->Before(brief_command_->requests + 1, [&] {
    std::unique_lock<std::mutex> lock(mu);
    in_flight = true;
    cv.notify_all();
    cv.wait_for(lock, std::chrono::seconds(60), [&] { return released; });
  });
  std::vector<facade::FetchOutcome> briefs;
  service_->SubscribeBriefDone([&](const facade::FetchOutcome& o) { briefs.push_back(o); });
  const int ended = ended_;
  ASSERT_TRUE(service_->DoGetMailBrief(1));
  ASSERT_TRUE(loop_.PumpUntil(
      [&] {
        std::lock_guard<std::mutex> lock(mu);
        return in_flight;
      },
      kWaitMs));
  service_.reset();  // quit
  {
    std::lock_guard<std::mutex> lock(mu);
    EXPECT_FALSE(released);  // it did not wait for the answer
    released = true;
    cv.notify_all();
  }
  ASSERT_EQ(briefs.size(), 1u);  // the fetch ended once, unanswered
  EXPECT_FALSE(briefs[0].ok);
  EXPECT_EQ(ended_, ended + 1);
  // The late answer goes out to a client that is no longer there.
  ASSERT_TRUE(loop_.PumpUntil([&] { return brief_command_->answered == brief_command_->requests; },
                              kWaitMs));
}

TEST_F(MailServiceEndToEnd, AnOperationAnsweredMinusThreeLogsInAgainAtMostTwice) {
  MakeService();
  SignIn();
  DeliverMany(1);
  Sync(/*jobs=*/2);  // and the statistics upload
  ASSERT_TRUE(sync_->ok);
  int logins = 0;
  service_->SubscribeAuthDone([&](const commands::AuthOutcome& o) { logins += o.ok ? 1 : 0; });
  server_->faults()->Set("getmailbrief", {gateway::FaultMode::kExpire, 0});  // -3 every time
  std::optional<facade::FetchOutcome> brief;
  service_->SubscribeBriefDone([&](const facade::FetchOutcome& o) { brief = o; });
  ASSERT_TRUE(service_->DoGetMailBrief(1));
  ASSERT_TRUE(loop_.PumpUntil([&] { return brief.has_value() && !service_->LoginRunning(); },
                              kWaitMs));
  EXPECT_FALSE(brief->ok);
  EXPECT_EQ(brief->code, -3);
  EXPECT_EQ(brief->mail_id, 1u);
  EXPECT_EQ(logins, facade::MailFetchOperation::kMaxSessionRetries);
}

TEST_F(MailServiceEndToEnd, SilentLoginsStopAfterFiveFailuresInARowUntilTheUserSignsIn) {
  MakeService();
  SignIn();
  MakeService();  // a later run: no session yet
  ASSERT_TRUE(service_->OpenSavedAccount());
  server_->faults()->Set("auth", {gateway::FaultMode::kResult, -4});  // refused
  int logins_asked = 0;
  service_->SubscribeAuthDone([&](const commands::AuthOutcome&) { ++logins_asked; });
  for (uint32_t i = 0; i < facade::MailService::kMaxAutoLoginFailures; ++i) {
    sync_.reset();
    ASSERT_TRUE(service_->DoSync(commands::kSyncByUser)) << i;
    // The abandoned sync ends before the failed login's job does.
    ASSERT_TRUE(
        loop_.PumpUntil([&] { return sync_.has_value() && !service_->JobsRunning(); }, kWaitMs));
    EXPECT_EQ(sync_->step, facade::kSyncStepAbandoned);
  }
  EXPECT_EQ(logins_asked, 5);
  EXPECT_FALSE(service_->DoSync(commands::kSyncByUser));  // no sixth silent login
  EXPECT_FALSE(service_->DoGetMailBrief(1));
  EXPECT_EQ(logins_asked, 5);
  // The user's own login counts afresh.
  server_->faults()->ClearAll();
  SignIn();
  Sync(/*jobs=*/2);  // and the statistics upload
  EXPECT_TRUE(sync_->ok);
}

TEST_F(MailServiceEndToEnd, ABriefThatAsksForASyncStartsOne) {
  MakeService();
  SignIn();
  DeliverMany(1);
  Sync(/*jobs=*/2);  // and the statistics upload
  ASSERT_TRUE(sync_->ok);
  // The answer's sync-needed flag (tag 2) set, every other tag as it was.
  brief_command_->RewriteAnswers([](protocol::WireMessage* response) {
    protocol::WireMessage copy;
    copy.SetType(protocol::MessageType::GetMailBrief);
    for (uint32_t tag = 1; tag <= 19; ++tag) {
      ByteView value;
      if (tag == 2) {
        copy.Body().PutInt(2, 1);
      } else if (response->Body().GetView(tag, &value) == protocol::CodecOk) {
        copy.Body().PutBytes(tag, value);
      }
    }
    *response = std::move(copy);
  });
  sync_.reset();
  std::optional<facade::FetchOutcome> brief;
  service_->SubscribeBriefDone([&](const facade::FetchOutcome& o) { brief = o; });
  ASSERT_TRUE(service_->DoGetMailBrief(1));
  ASSERT_TRUE(loop_.PumpUntil([&] { return brief.has_value() && sync_.has_value(); }, kWaitMs));
  EXPECT_TRUE(brief->ok);
  EXPECT_TRUE(sync_->ok);
  EXPECT_EQ(sync_->reason, commands::kSyncAskedByService);
}

// The gateway answers a brief for another mail than the one asked for.
TEST_F(MailServiceEndToEnd, ABriefIsStoredIntoTheMailItsAnswerNames) {
  MakeService();
  SignIn();
  DeliverMany(2);
  Sync(/*jobs=*/2);  // and the statistics upload
  ASSERT_TRUE(sync_->ok);
  store::MailStore* mails = service_->store()->mails();
  const uint32_t asked = 1, other = 2;
  const uint32_t other_server_id = mails->GetServerID(other);
  // The request's ServerID (tag 2) swapped, its texts (1, 3, 6) and
  // numbers (4, 5) kept: the answer names the other mail.
  brief_command_->Rewrite([&](const protocol::WireMessage& request) {
    protocol::WireMessage copy;
    copy.SetType(protocol::MessageType::GetMailBrief);
    for (uint32_t tag = 1; tag <= 6; ++tag) {
      ByteView bytes;
      int32_t v = 0;
      if (tag == 2) {
        copy.Body().PutInt(2, static_cast<int32_t>(other_server_id));
      } else if (tag == 1 || tag == 3 || tag == 6) {
        if (request.Body().GetView(tag, &bytes) == protocol::CodecOk) copy.Body().PutBytes(tag, bytes);
      } else if (request.Body().GetInt(tag, &v) == protocol::CodecOk) {
        copy.Body().PutInt(tag, v);
      }
    }
    return copy;
  });
  std::optional<facade::FetchOutcome> brief;
  service_->SubscribeBriefDone([&](const facade::FetchOutcome& o) { brief = o; });
  ASSERT_TRUE(service_->DoGetMailBrief(asked));
  ASSERT_TRUE(loop_.PumpUntil([&] { return brief.has_value(); }, kWaitMs));
  EXPECT_TRUE(brief->ok);
  EXPECT_EQ(brief->mail_id, other);
  store::MailRecord m;
  ASSERT_TRUE(mails->ReadMail(asked, &m));
  EXPECT_EQ(m.body_state(), store::kNoBody);  // nothing stored into the wrong mail
  ASSERT_TRUE(mails->ReadMail(other, &m));
  EXPECT_NE(m.body_state(), store::kNoBody);
}

}  // namespace
}  // namespace quill
