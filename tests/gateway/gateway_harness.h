// A gateway on 127.0.0.1 with hand-built client requests: the tests of the
// service side speak the protocol through these helpers, not through the
// client's jobs, so a fault shared by both sides cannot cancel out.
#ifndef QUILL_TESTS_GATEWAY_GATEWAY_HARNESS_H_
#define QUILL_TESTS_GATEWAY_GATEWAY_HARNESS_H_

#include <gtest/gtest.h>
#include <httplib.h>

#include <memory>
#include <string>

#include "gateway/gateway_cli.h"
#include "gateway/gateway_server.h"
#include "platform/utf.h"
#include "protocol/codec_status.h"
#include "protocol/envelope.h"
#include "protocol/message_heads.h"
#include "protocol/response_wrapper.h"
#include "tests/temp_dir.h"

namespace quill {
namespace gateway {

class GatewayHarness : public ::testing::Test {
 protected:
  // Adds an account with a Maildir to the state directory.
  void AddAccount(const std::string& name, const std::string& password, uint32_t uin) {
    std::string why;
    ASSERT_TRUE(AddAccountWithMaildir(
        DefaultFileSystem(), dir_.path(),
        {name, PasswordDigestText(password), uin, name + "@example.com", "昵称"}, &why))
        << why;
  }

  // Starts the gateway after `configure` has had its say.
  void StartGateway(GatewayOptions options = GatewayOptions()) {
    options.state_dir = dir_.path();
    server_ = std::make_unique<GatewayServer>(options);
    if (before_start_) before_start_(server_.get());
    std::string why;
    ASSERT_TRUE(server_->Start(&why)) << why;
    http_ = std::make_unique<httplib::Client>("127.0.0.1", server_->port());
  }

  // POSTs a body; the HTTP status (-1: no response) and the response body.
  int Post(const std::string& command, const Bytes& body, std::string* out) {
    auto res = http_->Post(("/cgi-bin/rb-bin/" + command).c_str(),
                           std::string(body.begin(), body.end()), "application/octet-stream");
    if (!res) return -1;
    *out = res->body;
    return res->status;
  }

  // A login request as the client sends it: tags 1..5, sealed with the
  // gateway's public key.
  Bytes LoginRequest(const std::string& account, const std::string& digest,
                     uint32_t version = 0x10030) {
    protocol::WireMessage m;
    m.SetType(protocol::MessageType::Auth);
    m.SetFlag(0);
    const Bytes device(16, 0xA5);
    EXPECT_EQ(m.Body().PutBytes(1, ByteView(account)), protocol::CodecOk);
    EXPECT_EQ(m.Body().PutBytes(2, ByteView(digest)), protocol::CodecOk);
    EXPECT_EQ(m.Body().PutUInt(3, version), protocol::CodecOk);
    EXPECT_EQ(m.Body().PutBytes(4, ByteView(std::string("PocketPC"))), protocol::CodecOk);
    EXPECT_EQ(m.Body().PutBytes(5, ByteView(device)), protocol::CodecOk);
    Bytes packed;
    EXPECT_EQ(m.Pack(&packed), protocol::CodecOk);
    protocol::RequestKeys keys;
    const ClientConfig& c = server_->client_config();
    keys.public_key = {c.modulus_hex, c.exponent_hex};
    EXPECT_EQ(protocol::WrapRequest(&packed, keys), protocol::kEnvOk);
    return packed;
  }

  // Opens a login answer with the key derived from `digest`; the wrapper's
  // result (the message is unpacked when it is 0).
  int32_t OpenLoginAnswer(const std::string& body, const std::string& digest,
                          protocol::WireMessage* message, protocol::ServerTicket* ticket) {
    Bytes b(body.begin(), body.end());
    int32_t result = -99;
    const std::string key = protocol::NarrowLoginKey(Utf8ToUtf16(digest));
    EXPECT_EQ(protocol::UnwrapResponse(&b, ByteView(key), ticket, &result), protocol::kEnvOk);
    if (result == 0) {
      EXPECT_EQ(message->Unpack(b.data(), static_cast<int64_t>(b.size())), protocol::CodecOk);
    }
    return result;
  }

  // Signs in; the session key goes to session_key_, the ticket to ticket_.
  void SignIn(const std::string& account, const std::string& password) {
    const std::string digest = PasswordDigestText(password);
    std::string body;
    ASSERT_EQ(Post("auth", LoginRequest(account, digest), &body), 200);
    protocol::WireMessage answer;
    ASSERT_EQ(OpenLoginAnswer(body, digest, &answer, &ticket_), 0);
    ASSERT_EQ(answer.Body().GetString(2, &session_key_), protocol::CodecOk);
  }

  // Seals `request` for the session, as a session request body.
  Bytes Seal(protocol::WireMessage* request) {
    Bytes packed;
    EXPECT_EQ(request->Pack(&packed), protocol::CodecOk);
    protocol::RequestKeys keys;
    keys.use_session = true;
    keys.session_key = ByteView(session_key_);
    keys.ticket = &ticket_;
    EXPECT_EQ(protocol::WrapRequest(&packed, keys), protocol::kEnvOk);
    return packed;
  }

  // One session exchange; the wrapper result, and the answer when it is 0.
  int32_t Exchange(const std::string& command, protocol::WireMessage* request,
                   protocol::WireMessage* answer, size_t* wire_bytes = nullptr) {
    std::string body;
    if (Post(command, Seal(request), &body) != 200) return -100;
    if (wire_bytes != nullptr) *wire_bytes = body.size();
    Bytes b(body.begin(), body.end());
    int32_t result = -99;
    if (protocol::UnwrapResponse(&b, ByteView(session_key_), &ticket_, &result) !=
        protocol::kEnvOk) {
      return -101;
    }
    if (result == 0) {
      EXPECT_EQ(answer->Unpack(b.data(), static_cast<int64_t>(b.size())), protocol::CodecOk);
    }
    return result;
  }

  static int32_t WrapperResult(const std::string& body) {
    int32_t result = -99;
    Bytes payload;
    if (protocol::ReadWrapper(ByteView(body), &result, &payload) != protocol::kEnvOk) return -99;
    return result;
  }

  TempDir dir_;
  std::function<void(GatewayServer*)> before_start_;  // e.g. adds test commands
  std::unique_ptr<GatewayServer> server_;
  std::unique_ptr<httplib::Client> http_;
  std::string session_key_;
  protocol::ServerTicket ticket_;
};

}  // namespace gateway
}  // namespace quill

#endif  // QUILL_TESTS_GATEWAY_GATEWAY_HARNESS_H_
