// The gateway over real HTTP, driven by hand-built requests rather than the
// client's jobs, so a fault shared by the client and the gateway cannot
// cancel out: routing, the login answer and its bytes, sessions and their
// expiry, faults, the response limit, start and stop.
#include "gateway/gateway_server.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <thread>

#include "platform/hex.h"
#include "platform/utf.h"
#include "protocol/codec_status.h"
#include "protocol/envelope.h"
#include "protocol/message_heads.h"
#include "protocol/response_wrapper.h"
#include "tests/gateway/gateway_harness.h"

namespace quill {
namespace gateway {
namespace {

using protocol::CodecOk;

// Answers tag 1 = 0 and tag 2 = as many bytes as the request's tag 1 asks.
class FillerCommand : public SessionCommand {
 public:
  protocol::MessageType type() const override { return protocol::MessageType::GetMailBrief; }
  bool Answer(const GatewaySession& session, const protocol::WireMessage& request,
              protocol::WireMessage* response) override {
    int32_t n = 0;
    if (request.Body().GetInt(1, &n) != CodecOk || n < 0) return false;
    last_account = session.account;
    Bytes filler(static_cast<size_t>(n));
    uint32_t x = 7;
    for (auto& b : filler) b = static_cast<uint8_t>((x = x * 1103515245 + 12345) >> 24);
    response->SetType(type());
    return response->Body().PutInt(1, 0) == CodecOk &&
           response->Body().PutBytes(2, ByteView(filler)) == CodecOk;
  }
  std::string last_account;  // written on request threads; read after the reply
};

class GatewayServerTest : public GatewayHarness {
 protected:
  void SetUp() override {
    AddAccount("alice", "secret", 10001);
    before_start_ = [this](GatewayServer* server) {
      auto filler = std::make_unique<FillerCommand>();
      filler_ = filler.get();
      server->AddSessionCommand("getmailbrief", std::move(filler));
    };
    GatewayOptions options;
    options.min_client_version = 0x10030;
    StartGateway(options);
  }

  // A filler request for `n` bytes, sealed with the session key and the
  // given ticket.
  Bytes FillerRequest(int32_t n, protocol::ServerTicket* ticket) {
    protocol::WireMessage m;
    m.SetType(protocol::MessageType::GetMailBrief);
    EXPECT_EQ(m.Body().PutInt(1, n), CodecOk);
    Bytes packed;
    EXPECT_EQ(m.Pack(&packed), CodecOk);
    protocol::RequestKeys keys;
    keys.use_session = true;
    keys.session_key = ByteView(session_key_);
    keys.ticket = ticket;
    EXPECT_EQ(protocol::WrapRequest(&packed, keys), protocol::kEnvOk);
    return packed;
  }

  FillerCommand* filler_ = nullptr;
};

TEST_F(GatewayServerTest, OnlyPostsToKnownCommandsAreServed) {
  std::string body;
  EXPECT_EQ(Post("nosuchcommand", Bytes{1, 2}, &body), 404);
  auto get = http_->Get("/cgi-bin/rb-bin/auth");
  ASSERT_TRUE(get);
  EXPECT_EQ(get->status, 404);
  auto other = http_->Post("/index.html", "x", "text/plain");
  ASSERT_TRUE(other);
  EXPECT_EQ(other->status, 404);
  auto traversal = http_->Post("/cgi-bin/rb-bin/../auth", "x", "text/plain");
  ASSERT_TRUE(traversal);
  EXPECT_EQ(traversal->status, 404);
}

TEST_F(GatewayServerTest, LoginAnswerCarriesSessionAndTicketSealedWithThePasswordKey) {
  const std::string digest = PasswordDigestText("secret");
  std::string body;
  // The account compares without case, the digest too.
  std::string upper_digest = digest;
  for (char& c : upper_digest) c = static_cast<char>(toupper(c));
  ASSERT_EQ(Post("auth", LoginRequest("ALICE", upper_digest), &body), 200);
  protocol::WireMessage answer;
  protocol::ServerTicket ticket;
  ASSERT_EQ(OpenLoginAnswer(body, upper_digest, &answer, &ticket), 0);
  int32_t result = -99, newest = 0;
  uint32_t uin = 0;
  std::string session_key, nickname, address;
  ASSERT_EQ(answer.Body().GetInt(1, &result), CodecOk);
  EXPECT_EQ(result, 0);
  ASSERT_EQ(answer.Body().GetUInt(6, &uin), CodecOk);
  EXPECT_EQ(uin, 10001u);
  EXPECT_EQ(answer.Header().GetUin(), 10001u);
  ASSERT_EQ(answer.Body().GetString(2, &session_key), CodecOk);
  EXPECT_EQ(session_key.size(), 16u);
  ASSERT_EQ(answer.Body().GetString(3, &nickname), CodecOk);
  EXPECT_EQ(nickname, "昵称");
  ASSERT_EQ(answer.Body().GetString(4, &address), CodecOk);
  EXPECT_EQ(address, "alice@example.com");
  ASSERT_EQ(answer.Body().GetInt(7, &newest), CodecOk);
  EXPECT_EQ(newest, 0x10030);
  EXPECT_EQ(ticket.Get().size(), 16u);
  EXPECT_EQ(server_->sessions()->size(), 1u);
}

TEST_F(GatewayServerTest, RefusalsAreReadableWithThePasswordKey) {
  const std::string good = PasswordDigestText("secret");
  const std::string bad = PasswordDigestText("wrong");
  struct Case {
    std::string account, digest;
    uint32_t version;
    int32_t result;
  } cases[] = {
      {"alice", bad, 0x10030, -3},
      {"nobody", good, 0x10030, -4},
      {"alice", good, 0x1002F, -8},
  };
  for (const Case& c : cases) {
    std::string body;
    ASSERT_EQ(Post("auth", LoginRequest(c.account, c.digest, c.version), &body), 200);
    protocol::WireMessage answer;
    protocol::ServerTicket ticket;
    ASSERT_EQ(OpenLoginAnswer(body, c.digest, &answer, &ticket), 0);
    int32_t result = 0;
    ASSERT_EQ(answer.Body().GetInt(1, &result), CodecOk);
    EXPECT_EQ(result, c.result) << c.account;
    std::string update_id;
    // Only -8 grants a session (for reading offline) and names the update.
    EXPECT_EQ(answer.Body().GetString(5, &update_id) == CodecOk, c.result == -8);
    EXPECT_EQ(ticket.Get().empty(), c.result != -8);
  }
  // The mailbox gone: -5.
  std::filesystem::remove_all(MaildirPath(dir_.path(), "alice"));
  std::string body;
  ASSERT_EQ(Post("auth", LoginRequest("alice", good), &body), 200);
  protocol::WireMessage answer;
  protocol::ServerTicket ticket;
  ASSERT_EQ(OpenLoginAnswer(body, good, &answer, &ticket), 0);
  int32_t result = 0;
  ASSERT_EQ(answer.Body().GetInt(1, &result), CodecOk);
  EXPECT_EQ(result, -5);
}

TEST_F(GatewayServerTest, RequestsThatCannotBeOpenedGetTheFailedWrapper) {
  std::string body;
  ASSERT_EQ(Post("auth", Bytes{1, 2, 3}, &body), 200);
  EXPECT_EQ(WrapperResult(body), kWrapperRequestFailed);
  // The failed wrapper, byte for byte: compact mode, checksum = complement
  // of the sum of the body's signed bytes (1 + 4 + 1), body length 6, then
  // tag 1 as a 4-byte integer 1.
  EXPECT_EQ(HexEncode(ByteView(body)), "8101F9FF0600000000000000" "010401000000");
  // Sealed for another key.
  protocol::RequestKeys keys;
  crypto::RsaKeyPair other;
  ASSERT_TRUE(other.Generate(1024));
  const std::string m = other.ModulusHex(), e = other.ExponentHex();
  keys.public_key = {m, e};
  Bytes packed = {0xBE, 0xED};
  ASSERT_EQ(protocol::WrapRequest(&packed, keys), protocol::kEnvOk);
  ASSERT_EQ(Post("auth", packed, &body), 200);
  EXPECT_EQ(WrapperResult(body), kWrapperRequestFailed);
}

TEST_F(GatewayServerTest, SessionRequestsNeedALiveTicketAndExpireOnDemand) {
  std::string body;
  SignIn("alice", "secret");
  const std::string key = session_key_;
  protocol::ServerTicket& ticket = ticket_;
  ASSERT_EQ(Post("getmailbrief", FillerRequest(100, &ticket), &body), 200);
  Bytes b(body.begin(), body.end());
  int32_t result = -99;
  ASSERT_EQ(protocol::UnwrapResponse(&b, ByteView(key), &ticket, &result), protocol::kEnvOk);
  ASSERT_EQ(result, 0);
  EXPECT_EQ(filler_->last_account, "alice");

  protocol::ServerTicket none;
  ASSERT_EQ(Post("getmailbrief", FillerRequest(1, &none), &body), 200);
  EXPECT_EQ(WrapperResult(body), protocol::kSessionKeyError);
  // The -3 wrapper, byte for byte: the signed bytes 1 + 4 - 3 - 1 - 1 - 1
  // sum to -1, so the checksum is 0.
  EXPECT_EQ(HexEncode(ByteView(body)), "8101000006000000000000000104FDFFFFFF");

  server_->faults()->Set("getmailbrief", {FaultMode::kExpire, 0});
  ASSERT_EQ(Post("getmailbrief", FillerRequest(1, &ticket), &body), 200);
  EXPECT_EQ(WrapperResult(body), protocol::kSessionKeyError);
  server_->faults()->ClearAll();
  ASSERT_EQ(Post("getmailbrief", FillerRequest(1, &ticket), &body), 200);
  EXPECT_EQ(WrapperResult(body), protocol::kSessionKeyError);  // gone for good
  EXPECT_EQ(server_->sessions()->size(), 0u);
}

TEST_F(GatewayServerTest, ResultFaultAndResponseLimit) {
  std::string body;
  SignIn("alice", "secret");
  const std::string key = session_key_;
  protocol::ServerTicket& ticket = ticket_;
  server_->faults()->Set("all", {FaultMode::kResult, -10});
  ASSERT_EQ(Post("getmailbrief", FillerRequest(5, &ticket), &body), 200);
  Bytes b(body.begin(), body.end());
  int32_t result = -99;
  ASSERT_EQ(protocol::UnwrapResponse(&b, ByteView(key), &ticket, &result), protocol::kEnvOk);
  protocol::WireMessage m;
  ASSERT_EQ(m.Unpack(b.data(), static_cast<int64_t>(b.size())), CodecOk);
  int32_t code = 0;
  ASSERT_EQ(m.Body().GetInt(1, &code), CodecOk);
  EXPECT_EQ(code, -10);
  server_->faults()->ClearAll();

  // Incompressible filler beyond the limit is never sent.
  ASSERT_EQ(Post("getmailbrief", FillerRequest(20000, &ticket), &body), 200);
  EXPECT_LE(body.size(), kMaxResponseBytes);
  EXPECT_EQ(WrapperResult(body), 0);
  ASSERT_EQ(Post("getmailbrief", FillerRequest(21000, &ticket), &body), 200);
  EXPECT_EQ(WrapperResult(body), kWrapperRequestFailed);
}

TEST_F(GatewayServerTest, TransportFaults) {
  const std::string digest = PasswordDigestText("secret");
  std::string body;
  server_->faults()->Set("auth", {FaultMode::kHttp500, 0});
  EXPECT_EQ(Post("auth", LoginRequest("alice", digest), &body), 500);
  server_->faults()->Set("auth", {FaultMode::kGarbage, 0});
  EXPECT_EQ(Post("auth", LoginRequest("alice", digest), &body), 200);
  EXPECT_EQ(WrapperResult(body), -99);
  server_->faults()->Set("auth", {FaultMode::kDrop, 0});
  EXPECT_EQ(Post("auth", LoginRequest("alice", digest), &body), -1);
  server_->faults()->Set("auth", {FaultMode::kDelay, 50});
  EXPECT_EQ(Post("auth", LoginRequest("alice", digest), &body), 200);
  EXPECT_EQ(WrapperResult(body), 0);
}

TEST_F(GatewayServerTest, StopEndsALongDelayAndABusyPortIsAClearError) {
  server_->faults()->Set("auth", {FaultMode::kDelay, 600000});
  std::thread waiting([this] {
    std::string body;
    Post("auth", Bytes{1}, &body);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  server_->Stop();  // would wait ten minutes if the delay ignored it
  waiting.join();
  server_->Stop();

  GatewayOptions options;
  options.state_dir = dir_.path();
  GatewayServer first(options);
  std::string why;
  ASSERT_TRUE(first.Start(&why)) << why;
  options.port = first.port();
  GatewayServer second(options);
  EXPECT_FALSE(second.Start(&why));
  EXPECT_NE(why.find("cannot listen on 127.0.0.1:" + std::to_string(first.port())),
            std::string::npos)
      << why;
}

TEST_F(GatewayServerTest, DamagedAccountsFileStopsTheStart) {
  ASSERT_TRUE(DefaultFileSystem()->ReplaceAtomically(AccountsPath(dir_.path()),
                                                     ByteView(std::string("alice\tx\n"))));
  GatewayOptions options;
  options.state_dir = dir_.path();
  GatewayServer server(options);
  std::string why;
  EXPECT_FALSE(server.Start(&why));
  EXPECT_NE(why.find("accounts.cfg:1:"), std::string::npos) << why;
}

}  // namespace
}  // namespace gateway
}  // namespace quill
