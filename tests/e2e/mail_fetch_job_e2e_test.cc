// The brief and body jobs against the gateway: each answer reaches the
// host once, with the mail it was asked for and the offset asked.
#include <gtest/gtest.h>

#include "commands/mail_fetch_job.h"
#include "commands/sync_message.h"
#include "engine/trace.h"
#include "tests/e2e/client_rig.h"
#include "tests/gateway/maildir_writer.h"

namespace quill {
namespace {

class FetchLog : public commands::MailFetchHost {
 public:
  void BriefArrived(uint32_t, uint32_t mail, const commands::BriefResponse& b) override {
    ++calls;
    mail_id = mail;
    brief = b;
  }
  void BodyArrived(uint32_t, uint32_t mail, int32_t asked, const commands::BodyResponse& b) override {
    ++calls;
    mail_id = mail;
    asked_offset = asked;
    body = b;
  }
  void FetchFailed(uint32_t, int type, uint32_t mail, uint32_t, uint32_t s) override {
    ++calls;
    failed_type = type;
    mail_id = mail;
    step = s;
  }
  void FetchAbandoned(uint32_t, int type, uint32_t mail) override {
    ++calls;
    abandoned_type = type;
    mail_id = mail;
  }
  int calls = 0;
  uint32_t mail_id = 0;
  int32_t asked_offset = -1;
  int failed_type = 0, abandoned_type = 0;
  uint32_t step = 0;
  commands::BriefResponse brief;
  commands::BodyResponse body;
};

class MailFetchEndToEnd : public ClientGatewayTest {
 protected:
  void SetUp() override {
    AddAccount("alice", "secret", 10001, "爱丽丝");
    StartGateway();
    SignIn("alice", "secret");
    gateway::Deliver(gateway::MaildirPath(state_.path(), "alice"), "new/1.a",
                     gateway::PlainMessage("主题", "z@x", "正文 body text 😀"));
    // The gateway learns the mail's ServerID (1) at a sync.
    recorder_ = Recorder();
    MessageCommand<commands::SyncResponse> sync(
        "/cgi-bin/rb-bin/sync",
        [](protocol::WireMessage* m) { return commands::EncodeSyncRequest({}, m); },
        commands::DecodeSyncResponse);
    ASSERT_EQ(engine::RunExchange(context_, engine::ExchangeRequest(), &sync, &recorder_),
              engine::ExchangeOutcome::kDelivered);
  }
  template <typename Job>
  void RunJob(Job* job) {
    InlineUi ui(job);
    job->RunWith(&ui);
  }
  FetchLog log_;
};

TEST_F(MailFetchEndToEnd, BriefAndBodySliceReachTheHostWithTheirMail) {
  commands::BriefRequest brief_request;
  brief_request.server_id = 1;
  commands::BriefJob brief(&context_, &log_, /*mail_id=*/42, brief_request);
  RunJob(&brief);
  ASSERT_EQ(log_.calls, 1);
  EXPECT_EQ(log_.mail_id, 42u);
  EXPECT_EQ(log_.brief.head.result, 0);
  EXPECT_EQ(log_.brief.subject, "主题");

  commands::BodyRequest body_request;
  body_request.server_id = 1;
  body_request.offset = 3;
  body_request.version = log_.brief.body_version;
  commands::BodyJob body(&context_, &log_, 42, body_request);
  RunJob(&body);
  ASSERT_EQ(log_.calls, 2);
  EXPECT_EQ(log_.asked_offset, 3);
  EXPECT_EQ(log_.body.head.result, 0);
  EXPECT_EQ(Utf8ToUtf16(log_.body.text), Utf8ToUtf16("正文 body text 😀").substr(3));
}

TEST_F(MailFetchEndToEnd, ExpiryFailureAndAbandonEachReportOnce) {
  commands::BriefRequest request;
  request.server_id = 1;
  server_->faults()->Set("getmailbrief", {gateway::FaultMode::kExpire, 0});
  commands::BriefJob expired(&context_, &log_, 7, request);
  RunJob(&expired);
  ASSERT_EQ(log_.calls, 1);
  EXPECT_EQ(log_.brief.head.result, protocol::kSessionKeyError);

  server_->faults()->Set("getmailbody", {gateway::FaultMode::kHttp500, 0});
  commands::BodyJob failing(&context_, &log_, 8, commands::BodyRequest());
  RunJob(&failing);
  ASSERT_EQ(log_.calls, 2);
  EXPECT_EQ(log_.failed_type, engine::kJobMailBody);
  EXPECT_EQ(log_.step, engine::kStepDecodeBody);
  EXPECT_EQ(log_.mail_id, 8u);

  commands::BodyJob dropped(&context_, &log_, 9, commands::BodyRequest());
  dropped.Abandon();
  ASSERT_EQ(log_.calls, 3);
  EXPECT_EQ(log_.abandoned_type, engine::kJobMailBody);
  // A copy for the retry after a fresh login keeps the mail and the request.
  commands::BodyJob copy(&context_, &log_, 0, commands::BodyRequest());
  ASSERT_TRUE(dropped.CopyRequestTo(&copy));
  EXPECT_EQ(copy.mail_id(), 9u);
  commands::BriefJob other_kind(&context_, &log_, 0, request);
  EXPECT_FALSE(dropped.CopyRequestTo(&other_kind));
}

}  // namespace
}  // namespace quill
