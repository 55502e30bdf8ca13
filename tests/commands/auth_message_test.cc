#include "commands/auth_message.h"

#include <gtest/gtest.h>

#include "commands/text_limits.h"
#include "platform/hex.h"

namespace quill {
namespace commands {
namespace {

using protocol::CodecOk;
using protocol::MessageType;
using protocol::WireMessage;

std::array<uint8_t, 16> CountingId() {
  std::array<uint8_t, 16> id;
  for (int i = 0; i < 16; ++i) id[i] = static_cast<uint8_t>(i);
  return id;
}

TEST(AuthMessage, RequestBytes) {
  const AuthRequest r = MakeAuthRequest(u"10001", u"5f4dcc3b5aa765d61d8327deb882cf99", CountingId());
  WireMessage m;
  ASSERT_TRUE(EncodeAuthRequest(r, &m));
  Bytes packed;
  ASSERT_EQ(m.Pack(&packed), CodecOk);
  EXPECT_EQ(HexEncode(packed),
            // header: framed length 0x77, type 101, checksum, 1234, uin 10001
            "0000002000000077006520D300000000000004D2000027110000000000000000"
            "BE" "8100E9F169000000" "00000000"
            "00000001" "00000005" "3130303031"
            "00000002" "00000020" "3566346463633362356161373635643631643833323764656238383263663939"
            "00000003" "00000004" "00010030"
            "00000004" "00000008" "506F636B65745043"
            "00000005" "00000010" "000102030405060708090A0B0C0D0E0F"
            "ED");
}

TEST(AuthMessage, UinFromLeadingDigits) {
  struct Case {
    const char* account;
    uint32_t uin;
  };
  const Case cases[] = {
      {"10001", 10001},          {"  42abc", 42},        {"+7", 7},
      {"user@example.test", 0},  {"", 0},                {"4294967295", 4294967295u},
      {"4294967296", 0},         {"99999999999999999999", 0},
      {"-1", 4294967295u},       {"--1", 0},             {"12 34", 12},
  };
  for (const Case& c : cases) EXPECT_EQ(LeadingDigitsUin(c.account), c.uin) << c.account;
}

TEST(AuthMessage, TextsAreCutAtCharacterBoundaries) {
  std::u16string account(127, u'a');
  account += u"\u4e2d";  // 3 bytes: 127 + 3 > 128, dropped whole
  const AuthRequest r = MakeAuthRequest(account, std::u16string(600, u'p'), CountingId());
  EXPECT_EQ(r.account, std::string(127, 'a'));
  EXPECT_EQ(r.password.size(), 512u);
}

WireMessage Response(int32_t result, const std::string& session, bool with_all = true) {
  WireMessage m;
  m.SetType(MessageType::Auth);
  m.Body().PutInt(1, result);
  if (with_all) {
    m.Body().PutUInt(6, 10001);
    m.Body().PutBytes(2, ByteView(session));
    m.Body().PutBytes(3, ByteView(std::string_view("\xE5\xB0\x8F\xE6\x98\x8E")));
    m.Body().PutBytes(4, ByteView(std::string_view("xm@example.test")));
    m.Body().PutInt(7, 0x10031);
    m.Body().PutBytes(5, ByteView(std::string_view("pkg-2")));
  }
  return m;
}

TEST(AuthMessage, DecodeByResult) {
  AuthResponse r;
  ASSERT_EQ(DecodeAuthResponse(Response(0, std::string(32, 'k')), &r), CodecOk);
  EXPECT_EQ(r.head.result, 0);
  EXPECT_EQ(r.uin, 10001u);
  EXPECT_EQ(r.session_key, std::string(32, 'k'));
  EXPECT_EQ(r.address, "xm@example.test");
  EXPECT_EQ(r.server_version, 0x10031);
  EXPECT_TRUE(r.update_id.empty());

  ASSERT_EQ(DecodeAuthResponse(Response(-8, "s"), &r), CodecOk);
  EXPECT_EQ(r.session_key, "s");
  EXPECT_EQ(r.update_id, "pkg-2");
  EXPECT_TRUE(r.nickname.empty());

  // Refusals carry only the result.
  ASSERT_EQ(DecodeAuthResponse(Response(-4, "", false), &r), CodecOk);
  EXPECT_EQ(r.head.result, -4);

  // A 33-byte session key, a missing required field, the wrong type.
  EXPECT_LT(DecodeAuthResponse(Response(0, std::string(33, 'k')), &r), 0);
  EXPECT_LT(DecodeAuthResponse(Response(0, "", false), &r), 0);
  WireMessage wrong = Response(0, "s");
  wrong.SetType(MessageType::Sync);
  EXPECT_LT(DecodeAuthResponse(wrong, &r), 0);
}

}  // namespace
}  // namespace commands
}  // namespace quill
