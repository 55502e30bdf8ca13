#include "commands/body_message.h"

#include "protocol/codec_status.h"

namespace quill {
namespace commands {

using protocol::CodecOk;

bool EncodeBodyRequest(const BodyRequest& request, protocol::WireMessage* message) {
  protocol::StartRequest(protocol::MessageType::GetMailBody, request.head, message);
  const protocol::RequestHead& h = request.head;
  protocol::TagCodec& body = message->Body();
  bool ok = body.PutInt(8, static_cast<int32_t>(h.client_version)) == CodecOk &&
            body.PutBytes(9, ByteView(h.platform)) == CodecOk &&
            body.PutBytes(1, ByteView(h.session_key)) == CodecOk &&
            body.PutInt(2, static_cast<int32_t>(request.server_id)) == CodecOk &&
            body.PutInt(3, request.offset) == CodecOk &&
            body.PutInt(4, kBodyLengthWanted) == CodecOk &&
            body.PutBytes(5, ByteView(h.data_id.data(), h.data_id.size())) == CodecOk &&
            body.PutInt(6, h.sync_key) == CodecOk &&
            body.PutInt(7, request.offset != 0 ? request.version : 0) == CodecOk;
  if (!ok) body.Reset();
  return ok;
}

int DecodeBodyResponse(const protocol::WireMessage& message, BodyResponse* response) {
  *response = BodyResponse();
  int status =
      protocol::DecodeResponseHead(message, protocol::MessageType::GetMailBody, &response->head);
  const int32_t result = response->head.result;
  if (status != CodecOk || (result != 0 && result != kBodyVersionChanged)) return status;
  const protocol::TagCodec& body = message.Body();
  BodyResponse& r = *response;
  int32_t server_id = 0;
  if ((status = body.GetInt(2, &r.sync_needed)) != CodecOk ||
      (status = body.GetInt(3, &server_id)) != CodecOk ||
      (status = body.GetInt(4, &r.body_length)) != CodecOk ||
      (status = body.GetInt(6, &r.offset)) != CodecOk ||
      (status = body.GetInt(7, &r.body_version)) != CodecOk) {
    return status;
  }
  r.server_id = static_cast<uint32_t>(server_id);
  if (r.body_length < 0 || r.offset < 0) return protocol::ErrMalformed;
  // An absent text is an empty one.
  status = body.GetString(5, &r.text);
  return status == protocol::ErrNotPresent ? CodecOk : status;
}

}  // namespace commands
}  // namespace quill
