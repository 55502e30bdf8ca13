#include "commands/auth_message.h"

#include "commands/text_limits.h"
#include "platform/crypto.h"
#include "platform/hex.h"
#include "platform/utf.h"

namespace quill {
namespace commands {

using protocol::CodecOk;
using protocol::ErrMalformed;
using protocol::TagCodec;

std::u16string PasswordDigest(std::string_view typed_utf8) {
  uint8_t digest[16];
  crypto::Md5(ByteView(typed_utf8), digest);
  return Utf8ToUtf16(HexEncodeLower(ByteView(digest, sizeof digest)));
}

uint32_t LeadingDigitsUin(std::string_view account) {
  size_t i = 0;
  while (i < account.size() && (account[i] == ' ' || account[i] == '\t')) ++i;
  bool negative = false;
  if (i < account.size() && (account[i] == '+' || account[i] == '-')) negative = account[i++] == '-';
  uint64_t value = 0;
  for (; i < account.size() && account[i] >= '0' && account[i] <= '9'; ++i) {
    value = value * 10 + static_cast<uint64_t>(account[i] - '0');
    if (value > 0xFFFFFFFFull) return 0;
  }
  const uint32_t v = static_cast<uint32_t>(value);
  return negative ? 0u - v : v;
}

AuthRequest MakeAuthRequest(std::u16string_view account, std::u16string_view password,
                            const std::array<uint8_t, 16>& device_id) {
  AuthRequest r;
  r.head.data_id = device_id;
  r.account = std::string(CutUtf8(Utf16ToUtf8(account), kMaxAuthAccountBytes));
  r.password = std::string(CutUtf8(Utf16ToUtf8(password), kMaxAuthPasswordBytes));
  return r;
}

bool EncodeAuthRequest(const AuthRequest& request, protocol::WireMessage* message) {
  protocol::StartRequest(protocol::MessageType::Auth, request.head, message);
  message->SetFlag(0);
  message->SetUin(LeadingDigitsUin(request.account));
  TagCodec& body = message->Body();
  const bool ok = body.PutBytes(1, ByteView(request.account)) == CodecOk &&
                  body.PutBytes(2, ByteView(request.password)) == CodecOk &&
                  body.PutUInt(3, request.head.client_version) == CodecOk &&
                  body.PutBytes(4, ByteView(request.head.platform)) == CodecOk &&
                  body.PutBytes(5, ByteView(request.head.data_id.data(), request.head.data_id.size())) == CodecOk;
  if (!ok) body.Reset();
  return ok;
}

int DecodeAuthResponse(const protocol::WireMessage& message, AuthResponse* response) {
  *response = AuthResponse();
  int status = protocol::DecodeResponseHead(message, protocol::MessageType::Auth, &response->head);
  if (status != CodecOk) return status;
  const int32_t result = response->head.result;
  if (result != 0 && result != kAuthMustUpgrade) return CodecOk;
  const TagCodec& body = message.Body();
  if ((status = body.GetUInt(6, &response->uin)) != CodecOk) return status;
  if ((status = GetBoundedText(body, 2, protocol::kMaxSessionKeyBytes, &response->session_key)) != CodecOk) {
    return status;
  }
  if (result == kAuthMustUpgrade) {
    return GetBoundedText(body, 5, kMaxUpdateIdBytes, &response->update_id);
  }
  if ((status = GetBoundedText(body, 3, kMaxNicknameBytes, &response->nickname)) != CodecOk ||
      (status = GetBoundedText(body, 4, kMaxAddressBytes, &response->address)) != CodecOk) {
    return status;
  }
  return body.GetInt(7, &response->server_version);
}

}  // namespace commands
}  // namespace quill
