// The "getmailbody" command's messages (type 104): body text of one mail
// from an offset counted in UTF-16 units.
//
// Request: 8 client version, 9 platform, 1 session key, 2 ServerID,
// 3 offset, 4 length wanted (always 0x7FFFFFFF), 5 AccountDataId, 6 sync
// key, 7 body version held (only with a non-zero offset).
// Response: 1 result; for 0 and -7 (the version changed) also 2 sync-needed,
// 3 ServerID, 4 body length, 5 text (UTF-8, may be empty), 6 the offset
// the text starts at, 7 body version.
#ifndef QUILL_COMMANDS_BODY_MESSAGE_H_
#define QUILL_COMMANDS_BODY_MESSAGE_H_

#include <cstdint>
#include <string>

#include "protocol/message_heads.h"
#include "protocol/wire_message.h"

namespace quill {
namespace commands {

constexpr int32_t kBodyVersionChanged = -7;
constexpr int32_t kBodyLengthWanted = 0x7FFFFFFF;

struct BodyRequest {
  protocol::RequestHead head;  // session key, uin, AccountDataId, sync key
  uint32_t server_id = 0;
  int32_t offset = 0;          // UTF-16 units already held
  int32_t version = 0;         // body version held; sent only when offset != 0
};

struct BodyResponse {
  protocol::ResponseHead head;
  int32_t sync_needed = 0;
  uint32_t server_id = 0;
  int32_t body_length = 0;   // on the server, UTF-16 units
  std::string text;          // UTF-8
  int32_t offset = 0;        // where `text` starts
  int32_t body_version = 0;
};

bool EncodeBodyRequest(const BodyRequest& request, protocol::WireMessage* message);
int DecodeBodyResponse(const protocol::WireMessage& message, BodyResponse* response);

}  // namespace commands
}  // namespace quill

#endif  // QUILL_COMMANDS_BODY_MESSAGE_H_
