#include "commands/stat_message.h"

#include "protocol/codec_status.h"

namespace quill {
namespace commands {

using protocol::CodecOk;

bool EncodeStatRequest(const StatRequest& request, protocol::WireMessage* message) {
  protocol::StartRequest(protocol::MessageType::StatInfo, request.head, message);
  message->SetFlag(0);
  const protocol::RequestHead& h = request.head;
  protocol::TagCodec& body = message->Body();
  bool ok = body.PutInt(2, h.sync_key) == CodecOk &&
            body.PutInt(4, static_cast<int32_t>(h.client_version)) == CodecOk &&
            body.PutBytes(5, ByteView(h.platform)) == CodecOk &&
            body.PutBytes(1, ByteView(h.session_key)) == CodecOk &&
            body.PutBytes(3, ByteView(h.data_id.data(), h.data_id.size())) == CodecOk;
  for (size_t i = 0; ok && i < kStatValueCount; ++i) {
    ok = body.PutUInt(kFirstStatTag + static_cast<uint32_t>(i), request.values[i]) == CodecOk;
  }
  if (!ok) body.Reset();
  return ok;
}

int DecodeStatResponse(const protocol::WireMessage& message, StatResponse* response) {
  *response = StatResponse();
  return protocol::DecodeResponseHead(message, protocol::MessageType::StatInfo, &response->head);
}

}  // namespace commands
}  // namespace quill
