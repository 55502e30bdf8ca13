// Jobs held for a session: run after the login the most recently held
// first, abandoned in the order held when it fails, retried after -3 at
// most as often as their slot allows.
#include "facade/session_runner.h"

#include <gtest/gtest.h>

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/message_loop.h"

namespace quill {
namespace facade {
namespace {

// What the fake jobs did, in order.
struct Journal {
  std::mutex mu;
  std::map<std::string, uint32_t> ran;       // name -> job id it ran with
  std::map<std::string, std::string> keys;   // name -> session key it was renewed with
  std::vector<std::string> abandoned;
};

class NamedJob : public engine::NetJob {
 public:
  NamedJob(std::string name, Journal* journal) : name_(std::move(name)), journal_(journal) {}
  void Run(engine::WorkerLink&) override {
    std::lock_guard<std::mutex> lock(journal_->mu);
    journal_->ran[name_] = job_id();
  }
  int GetJobType() const override { return engine::kJobMailBrief; }
  void Abandon() override { journal_->abandoned.push_back(name_); }
  bool CopyRequestTo(engine::NetJob* other) const override {
    static_cast<NamedJob*>(other)->name_ = name_ + "'";
    return true;
  }
  void RenewSession(const std::string& key, uint32_t) override { journal_->keys[name_] = key; }

 private:
  std::string name_;
  Journal* const journal_;
};

class SessionRunnerTest : public ::testing::Test {
 protected:
  SessionRunnerTest() {
    runner_.set_login_starter([this] {
      ++logins_;
      return login_possible_;
    });
  }
  std::unique_ptr<engine::NetJob> Job(const std::string& name) {
    return std::make_unique<NamedJob>(name, &journal_);
  }
  size_t Ran() {
    std::lock_guard<std::mutex> lock(journal_.mu);
    return journal_.ran.size();
  }

  MessageLoop loop_;
  engine::AccountState account_;
  EventList<> started_, ended_;
  engine::WorkerPool pool_{&loop_};
  SessionRunner runner_{&pool_, &account_, &started_, &ended_};
  Journal journal_;
  int logins_ = 0;
  bool login_possible_ = true;
};

TEST_F(SessionRunnerTest, HeldJobsRunAfterTheLoginTheMostRecentlyHeldFirst) {
  JobSlot sync(2), brief(2);
  int starts = 0;
  started_.Subscribe([&] { ++starts; });
  ASSERT_TRUE(runner_.StartSessionJob(Job("sync"), &sync));
  ASSERT_TRUE(runner_.StartSessionJob(Job("stat"), nullptr));
  ASSERT_TRUE(runner_.StartSessionJob(Job("brief"), &brief));
  EXPECT_EQ(runner_.held_count(), 3u);
  EXPECT_EQ(logins_, 3);  // each asked for the (one) silent login
  EXPECT_EQ(sync.state(), JobSlot::State::kWaiting);
  EXPECT_EQ(starts, 0);

  account_.SetSession("fresh");
  runner_.RunHeld();
  EXPECT_EQ(runner_.held_count(), 0u);
  EXPECT_EQ(starts, 3);
  ASSERT_TRUE(loop_.PumpUntil([&] { return Ran() == 3; }, 10000));
  EXPECT_EQ(journal_.ran, (std::map<std::string, uint32_t>{{"brief", 1}, {"stat", 2}, {"sync", 3}}));
  EXPECT_EQ(journal_.keys["sync"], "fresh");
  EXPECT_TRUE(sync.Holds(3));
  EXPECT_TRUE(brief.Holds(1));
}

TEST_F(SessionRunnerTest, AFailedLoginAbandonsTheHeldJobsInTheOrderHeld) {
  JobSlot brief(2);
  ASSERT_TRUE(runner_.StartSessionJob(Job("a"), nullptr));
  ASSERT_TRUE(runner_.StartSessionJob(Job("b"), &brief));
  ASSERT_TRUE(runner_.StartSessionJob(Job("c"), nullptr));
  runner_.DropHeld(&brief);  // its operation was replaced: no report
  runner_.AbandonHeld();
  EXPECT_EQ(journal_.abandoned, (std::vector<std::string>{"a", "c"}));
  EXPECT_EQ(runner_.held_count(), 0u);

  login_possible_ = false;  // nothing can be held without a login
  JobSlot other(2);
  EXPECT_FALSE(runner_.StartSessionJob(Job("d"), &other));
  EXPECT_FALSE(other.busy());
  EXPECT_EQ(runner_.held_count(), 0u);
}

TEST_F(SessionRunnerTest, AnExpiredSessionIsRetriedAtMostAsOftenAsTheSlotAllows) {
  account_.SetSession("old");
  JobSlot slot(2);
  ASSERT_TRUE(runner_.StartSessionJob(Job("body"), &slot));
  NamedJob answered("body", &journal_);  // stands for the running job answered -3
  for (int retry = 1; retry <= 2; ++retry) {
    ASSERT_TRUE(runner_.RetryAfterLogin(answered, Job("copy"), &slot)) << retry;
    EXPECT_TRUE(account_.session().session_key.empty());  // the expired key is gone
    EXPECT_EQ(slot.state(), JobSlot::State::kWaiting);
    account_.SetSession("new");
    runner_.RunHeld();  // the login came: the copy runs
    ASSERT_EQ(slot.state(), JobSlot::State::kRunning);
  }
  EXPECT_FALSE(runner_.RetryAfterLogin(answered, Job("copy"), &slot));  // used up
  EXPECT_EQ(slot.state(), JobSlot::State::kRunning);
  EXPECT_EQ(logins_, 2);
  ASSERT_TRUE(loop_.PumpUntil([&] { return Ran() == 2; }, 10000));  // body, then body'
  EXPECT_EQ(journal_.keys["body'"], "new");
}

}  // namespace
}  // namespace facade
}  // namespace quill
