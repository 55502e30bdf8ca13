// The "statinfo" command's messages (type 110): the usage statistics of the
// device, uploaded once per run.
//
// Request: 1 session key, 2 sync key, 3 AccountDataId, 4 client version,
// 5 platform, then tags 6 to 29 the 24 statistics values in the order of
// their table (usage_counters.h). Written in tag order 2, 4, 5, 1, 3, 6..29.
// Response: 1 result; nothing else is read.
#ifndef QUILL_COMMANDS_STAT_MESSAGE_H_
#define QUILL_COMMANDS_STAT_MESSAGE_H_

#include <array>
#include <cstdint>

#include "protocol/message_heads.h"
#include "protocol/wire_message.h"

namespace quill {
namespace commands {

constexpr size_t kStatValueCount = 24;
// Tag of the first value; value i travels under kFirstStatTag + i.
constexpr uint32_t kFirstStatTag = 6;

using StatValues = std::array<uint32_t, kStatValueCount>;

struct StatRequest {
  protocol::RequestHead head;  // session key, uin, AccountDataId, sync key
  StatValues values{};         // the snapshot uploaded, in table order
};

struct StatResponse {
  protocol::ResponseHead head;
};

// False (and an empty body) when a field could not be written.
bool EncodeStatRequest(const StatRequest& request, protocol::WireMessage* message);
// Decodes a response message of type 110.
int DecodeStatResponse(const protocol::WireMessage& message, StatResponse* response);

}  // namespace commands
}  // namespace quill

#endif  // QUILL_COMMANDS_STAT_MESSAGE_H_
