// RequestHead and ResponseHead: the fields every request record starts with
// and the result every response record starts with. Each command's encoder
// copies the request head under its own tags.
#ifndef QUILL_PROTOCOL_MESSAGE_HEADS_H_
#define QUILL_PROTOCOL_MESSAGE_HEADS_H_

#include <array>
#include <cstdint>
#include <string>

#include "protocol/message_type.h"
#include "protocol/wire_message.h"

namespace quill {
namespace protocol {

constexpr uint32_t kClientVersion = 0x10030;
constexpr char kPlatformName[] = "PocketPC";
constexpr size_t kMaxSessionKeyBytes = 32;
constexpr size_t kMaxPlatformBytes = 128;
// Result of a response message before a body was decoded into it.
constexpr int32_t kResultNotSet = -99;
// The session key is no longer valid: log in again and repeat the request.
constexpr int32_t kSessionKeyError = -3;
constexpr int32_t kSyncKeyUnset = -99;

struct RequestHead {
  std::string session_key;              // 8-bit text, at most 32 bytes; empty for login
  uint32_t uin = 0;                     // account number; 0 until login
  std::array<uint8_t, 16> data_id{};    // AccountDataId, or DeviceId for login
  int32_t sync_key = kSyncKeyUnset;     // mailbox sync position
  uint32_t client_version = kClientVersion;
  std::string platform = kPlatformName;  // at most 128 bytes
};

struct ResponseHead {
  int32_t result = kResultNotSet;  // tag 1 of every response body
};

// Sets type and uin of a request message about to be encoded.
void StartRequest(MessageType type, const RequestHead& head, WireMessage* message);

// The common first step of every decoder: the header type must be
// `expected` (else ErrMalformed, before any field is read), then tag 1 is
// read into head->result.
int DecodeResponseHead(const WireMessage& message, MessageType expected, ResponseHead* head);

}  // namespace protocol
}  // namespace quill

#endif  // QUILL_PROTOCOL_MESSAGE_HEADS_H_
