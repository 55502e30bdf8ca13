// The mail service facade over a gateway that serves "alice": one service
// per data directory at a time (MakeService starts another run) over a file
// system that can fail, with its job, sync and new-mail events recorded, and
// the statistics counters read from global.cfg.
#ifndef QUILL_TESTS_E2E_SERVICE_RIG_H_
#define QUILL_TESTS_E2E_SERVICE_RIG_H_

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "facade/mail_service.h"
#include "platform/fault_file_system.h"
#include "store/config_file.h"
#include "store/global_settings.h"
#include "tests/e2e/client_rig.h"
#include "tests/gateway/maildir_writer.h"

namespace quill {

constexpr uint32_t kWaitMs = 10000;

class ServiceEndToEnd : public ClientGatewayTest {
 protected:
  void SetUp() override {
    AddAccount("alice", "secret", 10001, "爱丽丝");
    StartGateway(before_start_);
    maildir_ = gateway::MaildirPath(state_.path(), "alice");
    store::GlobalSettings settings(DefaultFileSystem());
    settings.SetDataDir(data_.path());
    ASSERT_TRUE(settings.Set(store::global_keys::kAutoDeleteSpan, 0));
  }

  void MakeService(uint64_t daily_limit = facade::DailySyncBudget::kDefaultLimit) {
    facade::MailServiceOptions o;
    o.data_dir = data_.path();
    o.gateway = gateway_;
    o.fs = &fs_;
    o.backend = &backend_;
    o.daily_sync_limit = daily_limit;
    o.tick_ms = [this] { return tick_ms_; };
    if (now_seconds_ != 0) o.now_seconds = [this] { return now_seconds_; };
    service_.reset();  // one service per data directory at a time
    service_ = std::make_unique<facade::MailService>(&loop_, std::move(o));
    service_->SubscribeJobStarted([this] { ++started_; });
    service_->SubscribeJobEnded([this] { ++ended_; });
    service_->SubscribeNewMailFound([this] { ++found_; });
    service_->SubscribeSyncDone([this](const facade::SyncOutcome& o) {
      ++sync_dones_;
      sync_ = o;
    });
  }

  // A user's login, through the end of its job; the account is saved for
  // silent logins.
  void SignIn() {
    std::optional<commands::AuthOutcome> done;
    const int id = service_->SubscribeAuthDone([&](const commands::AuthOutcome& o) { done = o; });
    const int ended_before = ended_;
    ASSERT_TRUE(service_->DoAuth(service_->connections().destination(), true, u"alice",
                                 Utf8ToUtf16(gateway::PasswordDigestText("secret")), true));
    ASSERT_TRUE(loop_.PumpUntil([&] { return done && ended_ > ended_before; }, kWaitMs));
    EXPECT_FALSE(service_->LoginRunning());
    service_->UnsubscribeAuthDone(id);
    ASSERT_TRUE(done->ok);
  }

  // Runs one sync through its SyncDone and the end of every job it caused:
  // `jobs` of them (a silent login before it, the statistics upload after
  // the first one of a run that succeeded).
  void Sync(int jobs = 1) {
    sync_.reset();
    const int ended_before = ended_;
    ASSERT_TRUE(service_->DoSync(5));
    ASSERT_TRUE(loop_.PumpUntil([&] { return sync_ && !service_->JobsRunning(); }, kWaitMs));
    EXPECT_EQ(ended_ - ended_before, jobs);
  }

  // Mails with subjects that do not compress away, so many make many pages.
  void DeliverMany(int n) {
    uint32_t x = 12345;
    for (int i = 0; i < n; ++i) {
      std::string subject;
      for (int k = 0; k < 150; ++k) {
        x = x * 1103515245u + 12345u;
        subject += static_cast<char>('a' + (x >> 16) % 26);
      }
      gateway::Deliver(maildir_, "new/" + std::to_string(100 + i) + ".m",
                       gateway::PlainMessage(subject, "z@x.cn", "body"));
    }
  }

  uint32_t Counter(const std::string& key) {
    store::ConfigFile file(DefaultFileSystem());
    file.SetPath(data_.path() + "/global.cfg");
    return file.GetUInt(key, 0);
  }

  FaultInjectingFileSystem fs_{DefaultFileSystem()};  // the service's file system
  // Set by a derived fixture's constructor: e.g. wraps a gateway command.
  std::function<void(gateway::GatewayServer*)> before_start_;
  MessageLoop loop_;
  std::unique_ptr<facade::MailService> service_;
  std::string maildir_;
  uint32_t tick_ms_ = 1000;
  int64_t now_seconds_ = 0;  // the update notice's clock from the next MakeService; 0: the real one
  int started_ = 0, ended_ = 0, found_ = 0, sync_dones_ = 0;
  std::optional<facade::SyncOutcome> sync_;
};

}  // namespace quill

#endif  // QUILL_TESTS_E2E_SERVICE_RIG_H_
