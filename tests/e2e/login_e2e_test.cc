// The client against the gateway over 127.0.0.1: quillpost-cli login with
// every answer the gateway can give, and the login and session exchanges
// under every fault mode, each ending in one report with the right step.
#include <gtest/gtest.h>
#include <httplib.h>


#include "commands/auth_job.h"
#include "engine/exchange.h"
#include "engine/trace.h"
#include "gateway/gateway_server.h"
#include "platform/utf.h"
#include "protocol/codec_status.h"
#include "tests/e2e/client_rig.h"
#include "tests/temp_dir.h"

namespace quill {
namespace {

using gateway::Fault;
using gateway::FaultMode;

// Answers tag 1 = 0 and tag 2 = a short text.
class HelloCommand : public gateway::SessionCommand {
 public:
  protocol::MessageType type() const override { return protocol::MessageType::GetMailBrief; }
  bool Answer(const gateway::GatewaySession&, const protocol::WireMessage&,
              protocol::WireMessage* response) override {
    response->SetType(type());
    return response->Body().PutInt(1, 0) == protocol::CodecOk &&
           response->Body().PutBytes(2, ByteView(std::string("hello"))) == protocol::CodecOk;
  }
};

// The client side of HelloCommand.
class HelloRequest : public engine::ExchangeCommand {
 public:
  std::string RequestPath() const override { return "/cgi-bin/rb-bin/getmailbrief"; }
  bool EncodeRequest(protocol::WireMessage* m) override {
    m->SetType(protocol::MessageType::GetMailBrief);
    return m->Body().PutInt(1, 1) == protocol::CodecOk;
  }
  std::unique_ptr<engine::JobResult> DecodeResponse(const protocol::WireMessage& m) override {
    auto r = std::make_unique<Code>();
    if (m.Body().GetInt(1, &r->code) != protocol::CodecOk) return nullptr;
    return r;
  }
  struct Code : engine::JobResult {
    int32_t ResultCode() const override { return code; }
    int32_t code = -99;
  };
};

class LoginEndToEnd : public ClientGatewayTest {
 protected:
  void SetUp() override {
    AddAccount("alice", "secret", 10001, "爱丽丝");
    AddAccount("bob", "hunter2", 10002, "鲍勃");
    StartGateway([](gateway::GatewayServer* server) {
      server->AddSessionCommand("getmailbrief", std::make_unique<HelloCommand>());
    });
  }

  engine::ExchangeOutcome Hello() {
    recorder_ = Recorder();
    HelloRequest request;
    return engine::RunExchange(context_, engine::ExchangeRequest(), &request, &recorder_);
  }
};

TEST_F(LoginEndToEnd, CliSignsInAndSwitchesAccounts) {
  ASSERT_EQ(Cli({"login", "alice", "secret"}), 0) << err_.str();
  EXPECT_EQ(out_.str(), "uin: 10001\nnickname: 爱丽丝\naddress: alice@example.com\n");
  ASSERT_EQ(Cli({"login", "BOB", "hunter2"}), 0) << err_.str();
  EXPECT_EQ(out_.str(), "uin: 10002\nnickname: 鲍勃\naddress: bob@example.com\n");
  // Each account keeps its own data; alice's is not overwritten by bob's.
  EXPECT_TRUE(DefaultFileSystem()->Exists(data_.path() + "/10001/account.cfg"));
  EXPECT_TRUE(DefaultFileSystem()->Exists(data_.path() + "/10002/account.cfg"));
  ASSERT_EQ(Cli({"login", "alice", "secret"}), 0) << err_.str();
  EXPECT_EQ(out_.str(), "uin: 10001\nnickname: 爱丽丝\naddress: alice@example.com\n");
}

TEST_F(LoginEndToEnd, CliShowsTheTextOfEveryRefusal) {
  const std::string wrong = "无此用户或密码错误，请检查是否设置了独立密码。\n";
  EXPECT_EQ(Cli({"login", "alice", "wrong"}), 1);
  EXPECT_EQ(err_.str(), wrong);
  EXPECT_EQ(Cli({"login", "nobody", "secret"}), 1);
  EXPECT_EQ(err_.str(), wrong);
  const std::pair<int32_t, std::string> forced[] = {
      {-2, "参数错误"},
      {-3, "无此用户或密码错误，请检查是否设置了独立密码。"},
      {-5, "找不到"},
      {-6, "服务器拒绝登录"},
      {-11, "此邮箱不在内测授权范围，仅当服务器闲时才可以登录。"},
      {-12, "此邮箱不在内测授权范围，无法登录。"},
      {-7, "未定义的错误"},
      {-8, "系统检测到您的版本需要升级，否则只能离线浏览。请问是否现在升级？"},
  };
  for (const auto& [code, text] : forced) {
    server_->faults()->Set("auth", {FaultMode::kResult, code});
    EXPECT_EQ(Cli({"login", "alice", "secret"}), 1) << code;
    EXPECT_EQ(err_.str(), text + "\n") << code;
  }
  server_->faults()->Set("auth", {FaultMode::kHttp500, 0});
  EXPECT_EQ(Cli({"login", "alice", "secret"}), 1);
  EXPECT_EQ(err_.str().rfind("您选择接入的网络无法连通，请问是否检测有效的网络接入类型？ (", 0), 0u)
      << err_.str();
}

TEST_F(LoginEndToEnd, UpgradeAnswerStillGrantsASessionThatWorks) {
  server_->faults()->Set("auth", {FaultMode::kResult, -8});
  ASSERT_EQ(Login("alice", "secret"), engine::ExchangeOutcome::kDelivered);
  const commands::AuthResponse* r = LoginResponse();
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->head.result, -8);
  EXPECT_EQ(r->uin, 10001u);
  EXPECT_FALSE(r->update_id.empty());
  account_.SetSession(r->session_key);
  ASSERT_EQ(Hello(), engine::ExchangeOutcome::kDelivered);
  EXPECT_EQ(recorder_.result->ResultCode(), 0);
}

TEST_F(LoginEndToEnd, EveryFaultEndsInOneReportWithItsStep) {
  struct Case {
    Fault fault;
    uint32_t step;  // 0: delivered
  } cases[] = {
      {{FaultMode::kDrop, 0}, engine::kStepReadBody},
      {{FaultMode::kGarbage, 0}, engine::kStepDecodeBody},
      {{FaultMode::kHttp500, 0}, engine::kStepDecodeBody},
      // No answer within the exchange's time: the request never got its
      // response head, which is the send step.
      {{FaultMode::kDelay, 5000}, engine::kStepSend},
      {{FaultMode::kDelay, 20}, 0},
      {{FaultMode::kExpire, 0}, 0},  // a login has no session to expire
  };
  for (const Case& c : cases) {
    server_->faults()->Set("auth", c.fault);
    const engine::ExchangeOutcome outcome = Login("alice", "secret");
    EXPECT_EQ(recorder_.reports, 1) << static_cast<int>(c.fault.mode);
    if (c.step == 0) {
      EXPECT_EQ(outcome, engine::ExchangeOutcome::kDelivered);
      ASSERT_NE(LoginResponse(), nullptr);
      EXPECT_EQ(LoginResponse()->head.result, 0);
    } else {
      EXPECT_EQ(outcome, engine::ExchangeOutcome::kFailed) << static_cast<int>(c.fault.mode);
      EXPECT_EQ(recorder_.step, c.step) << static_cast<int>(c.fault.mode);
    }
  }
}

TEST_F(LoginEndToEnd, SessionExchangesAndTheirFaults) {
  ASSERT_EQ(Login("alice", "secret"), engine::ExchangeOutcome::kDelivered);
  account_.SetSession(LoginResponse()->session_key);
  ASSERT_EQ(Hello(), engine::ExchangeOutcome::kDelivered);
  EXPECT_EQ(recorder_.result->ResultCode(), 0);

  server_->faults()->Set("getmailbrief", {FaultMode::kResult, -10});
  ASSERT_EQ(Hello(), engine::ExchangeOutcome::kDelivered);
  EXPECT_EQ(recorder_.result->ResultCode(), -10);

  server_->faults()->Set("getmailbrief", {FaultMode::kDrop, 0});
  EXPECT_EQ(Hello(), engine::ExchangeOutcome::kFailed);
  EXPECT_EQ(recorder_.step, engine::kStepReadBody);
  EXPECT_EQ(recorder_.reports, 1);

  // An expired session reaches the job as -3, once, and stays expired.
  server_->faults()->Set("getmailbrief", {FaultMode::kExpire, 0});
  ASSERT_EQ(Hello(), engine::ExchangeOutcome::kDelivered);
  EXPECT_EQ(recorder_.result->ResultCode(), protocol::kSessionKeyError);
  server_->faults()->ClearAll();
  ASSERT_EQ(Hello(), engine::ExchangeOutcome::kDelivered);
  EXPECT_EQ(recorder_.result->ResultCode(), protocol::kSessionKeyError);
  // A fresh login gives a working session again.
  ASSERT_EQ(Login("alice", "secret"), engine::ExchangeOutcome::kDelivered);
  account_.SetSession(LoginResponse()->session_key);
  ASSERT_EQ(Hello(), engine::ExchangeOutcome::kDelivered);
  EXPECT_EQ(recorder_.result->ResultCode(), 0);
}

TEST_F(LoginEndToEnd, BytesOfAFailedDecodeAreCounted) {
  server_->faults()->Set("auth", {FaultMode::kGarbage, 0});
  // What the gateway sends for the fault, seen by a plain HTTP client.
  httplib::Client plain("127.0.0.1", server_->port());
  auto res = plain.Post("/cgi-bin/rb-bin/auth", "x", "application/octet-stream");
  ASSERT_TRUE(res);
  const size_t garbage = res->body.size();
  ASSERT_GT(garbage, 0u);

  const engine::TransferTotals before = account_.totals();
  EXPECT_EQ(Login("alice", "secret"), engine::ExchangeOutcome::kFailed);
  EXPECT_EQ(recorder_.step, engine::kStepDecodeBody);
  const engine::TransferTotals after = account_.totals();
  EXPECT_EQ(after.received - before.received, garbage);
  EXPECT_GT(after.sent - before.sent, 128u);  // at least one RSA block went out
}

}  // namespace
}  // namespace quill
