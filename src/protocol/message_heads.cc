#include "protocol/message_heads.h"

namespace quill {
namespace protocol {

void StartRequest(MessageType type, const RequestHead& head, WireMessage* message) {
  message->Body().Reset();
  message->SetType(type);
  message->SetUin(head.uin);
}

int DecodeResponseHead(const WireMessage& message, MessageType expected, ResponseHead* head) {
  head->result = kResultNotSet;
  if (message.GetType() != static_cast<uint16_t>(expected)) return ErrMalformed;
  int32_t result = 0;
  const int status = message.Body().GetInt(1, &result);
  if (status != CodecOk) return status;
  head->result = result;
  return CodecOk;
}

}  // namespace protocol
}  // namespace quill
