// The sync job's paging against the gateway: every page applied before
// the next, exactly one final page whatever ends the paging, the key check.
#include <gtest/gtest.h>

#include <atomic>

#include "commands/sync_job.h"
#include "engine/trace.h"
#include "protocol/codec_status.h"
#include "tests/e2e/client_rig.h"
#include "tests/gateway/maildir_writer.h"

namespace quill {
namespace {

using commands::SyncJob;
using commands::SyncResponse;

// Applies pages the way the store will: the stored key follows each page.
class PageBook : public commands::SyncHost {
 public:
  int32_t StoredSyncKey() const override { return stored.load(); }
  void SyncPageArrived(uint32_t, const SyncResponse& page, bool final_page, int32_t) override {
    ++pages;
    if (final_page) ++finals;
    last_result = page.head.result;
    if (page.head.result == 0 && apply) stored = page.new_key;
    for (const auto& c : page.commands) adds += c.type == commands::kRbcmdAddMail;
  }
  void SyncFailed(uint32_t, uint32_t, uint32_t s, int32_t) override {
    ++failures;
    step = s;
  }
  void SyncAbandoned(uint32_t, int32_t) override { ++abandoned; }

  std::atomic<int32_t> stored{0};
  bool apply = true;  // false: pages are seen but not applied
  int pages = 0, finals = 0, adds = 0, failures = 0, abandoned = 0;
  int32_t last_result = -99;
  uint32_t step = 0;
};

// A sync service that always says more follows, with `step` added to the
// key (0: the key never moves).
class EndlessSync : public gateway::SessionCommand {
 public:
  explicit EndlessSync(int32_t step) : step_(step) {}
  protocol::MessageType type() const override { return protocol::MessageType::Sync; }
  bool Answer(const gateway::GatewaySession&, const protocol::WireMessage& request,
              protocol::WireMessage* response) override {
    int32_t key = 0;
    request.Body().GetInt(3, &key);
    ++requests;
    response->SetType(type());
    auto& b = response->Body();
    return b.PutInt(1, 0) == 0 && b.PutInt(2, key + step_) == 0 && b.PutInt(3, 1) == 0 &&
           b.PutInt(4, 0) == 0 && b.PutInt(5, 0) == 0;
  }
  std::atomic<int> requests{0};

 private:
  const int32_t step_;
};

class SyncJobEndToEnd : public ClientGatewayTest {
 protected:
  void Start(gateway::SessionCommand* sync = nullptr) {
    AddAccount("alice", "secret", 10001, "爱丽丝");
    StartGateway([sync](gateway::GatewayServer* server) {
      if (sync != nullptr) {
        server->AddSessionCommand("sync", std::unique_ptr<gateway::SessionCommand>(sync));
      }
    });
    SignIn("alice", "secret");
  }
  void RunSync(int32_t key) {
    commands::SyncRequest request;
    request.head.sync_key = key;
    request.reason = 5;
    SyncJob job(&context_, &book_, request);
    InlineUi ui(&job);
    job.RunWith(&ui);
  }
  PageBook book_;
};

TEST_F(SyncJobEndToEnd, PagesUntilTheMailboxIsInAndEndsOnce) {
  Start();
  const std::string maildir = gateway::MaildirPath(state_.path(), "alice");
  for (int i = 0; i < 200; ++i) {
    gateway::Deliver(maildir, "cur/" + std::to_string(1000 + i) + ".x:2,S",
                     gateway::PlainMessage(std::string(200, 'a' + i % 26), "s@x", "b"));
  }
  RunSync(0);
  EXPECT_GT(book_.pages, 1);
  EXPECT_EQ(book_.finals, 1);
  EXPECT_EQ(book_.adds, 200);
  EXPECT_EQ(book_.failures, 0);
  EXPECT_EQ(book_.last_result, 0);
  const int32_t synced = book_.stored;
  EXPECT_GT(synced, 200);
  // Nothing new: one request, one final page, the same key.
  book_.pages = book_.finals = 0;
  RunSync(synced);
  EXPECT_EQ(book_.pages, 1);
  EXPECT_EQ(book_.finals, 1);
  EXPECT_EQ(book_.stored.load(), synced);
}

TEST_F(SyncJobEndToEnd, AKeyThatMovedIsStepOneHundred) {
  Start();
  gateway::Deliver(gateway::MaildirPath(state_.path(), "alice"), "new/1.a",
                   gateway::PlainMessage("s", "a@x", "b"));
  book_.stored = 5;  // the store moved on since the job was made
  RunSync(0);
  EXPECT_EQ(book_.pages, 0);
  EXPECT_EQ(book_.failures, 1);
  EXPECT_EQ(book_.step, engine::kStepSyncKey);
}

TEST_F(SyncJobEndToEnd, TheCapEndsAnEndlessSyncAtFiftyTwoRequests) {
  auto* endless = new EndlessSync(1);
  Start(endless);
  RunSync(0);
  EXPECT_EQ(endless->requests.load(), commands::kMaxSyncRequests);
  EXPECT_EQ(book_.pages, commands::kMaxSyncRequests);
  EXPECT_EQ(book_.finals, 1);
  EXPECT_EQ(book_.failures, 0);
}

TEST_F(SyncJobEndToEnd, AnUnchangedKeyEndsThePagingDespiteTheFlag) {
  auto* stuck = new EndlessSync(0);
  Start(stuck);
  RunSync(0);
  EXPECT_EQ(stuck->requests.load(), 1);
  EXPECT_EQ(book_.finals, 1);
}

TEST_F(SyncJobEndToEnd, UnappliedPageAndExpiredSessionEachEndOnce) {
  auto* endless = new EndlessSync(1);
  Start(endless);
  book_.apply = false;
  RunSync(0);
  EXPECT_EQ(endless->requests.load(), 1);
  EXPECT_EQ(book_.pages, 1);
  EXPECT_EQ(book_.failures, 1);
  EXPECT_EQ(book_.step, engine::kStepSyncKey);

  book_.apply = true;
  book_.stored = 0;
  book_.pages = book_.finals = 0;
  server_->faults()->Set("sync", {gateway::FaultMode::kExpire, 0});
  RunSync(0);
  EXPECT_EQ(book_.pages, 1);
  EXPECT_EQ(book_.finals, 1);
  EXPECT_EQ(book_.last_result, protocol::kSessionKeyError);
}

}  // namespace
}  // namespace quill
