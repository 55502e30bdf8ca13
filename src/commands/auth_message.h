// The "auth" command's request and response messages (type 101).
//
// Request body: 1 account, 2 password, 3 client version, 4 platform,
// 5 DeviceId; the header's uin is the number the account text starts with.
// Response body: 1 result; for 0 and -8: 6 uin, 2 session key; for 0 also
// 3 nickname, 4 address, 7 newest client version; for -8 also 5 update
// package id. Every listed field is required for its result, and a text
// longer than its capacity fails the decode.
#ifndef QUILL_COMMANDS_AUTH_MESSAGE_H_
#define QUILL_COMMANDS_AUTH_MESSAGE_H_

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "protocol/message_heads.h"
#include "protocol/wire_message.h"

namespace quill {
namespace commands {

constexpr size_t kMaxAuthPasswordBytes = 512;
constexpr size_t kMaxAuthAccountBytes = 128;
constexpr size_t kMaxNicknameBytes = 128;
constexpr size_t kMaxAddressBytes = 128;
constexpr size_t kMaxUpdateIdBytes = 32;
// The service grants a session but this client version must be upgraded.
constexpr int32_t kAuthMustUpgrade = -8;

struct AuthRequest {
  protocol::RequestHead head;  // session key empty, uin 0, data_id = DeviceId
  std::string account;         // UTF-8, at most 128 bytes
  std::string password;        // UTF-8 digest text, at most 512 bytes
};

struct AuthResponse {
  protocol::ResponseHead head;  // result
  uint32_t uin = 0;             // account number (0 and -8)
  std::string session_key;      // the new SessionKey (0 and -8), at most 32 bytes
  std::string nickname;         // (0) at most 128 bytes
  std::string address;          // (0) e-mail address, at most 128 bytes
  int32_t server_version = 0;   // (0) newest client version the service knows
  std::string update_id;        // (-8) update package to fetch, at most 32 bytes
};

// The number the account text starts with: leading blanks, then at most one
// sign, then decimal digits. 0 without digits, and 0 when the digits
// overflow 32 bits; a '-' negates modulo 2^32.
uint32_t LeadingDigitsUin(std::string_view account);

// The form a typed password is sent in: the MD5 digest of its UTF-8 bytes
// as 32 lowercase hexadecimal digits.
std::u16string PasswordDigest(std::string_view typed_utf8);

// The request of a login: texts converted to UTF-8 and cut at a character
// boundary to their byte limits.
AuthRequest MakeAuthRequest(std::u16string_view account, std::u16string_view password,
                            const std::array<uint8_t, 16>& device_id);

// Fills `message` (type 101, flag 0). False when a field could not be put;
// the body is then reset.
bool EncodeAuthRequest(const AuthRequest& request, protocol::WireMessage* message);

// CodecOk, or a negative status: wrong type, a missing required field, or a
// text over its capacity.
int DecodeAuthResponse(const protocol::WireMessage& message, AuthResponse* response);

}  // namespace commands
}  // namespace quill

#endif  // QUILL_COMMANDS_AUTH_MESSAGE_H_
