#include "commands/image_message.h"

#include "commands/text_limits.h"
#include "protocol/codec_status.h"

namespace quill {
namespace commands {

using protocol::CodecOk;
using protocol::ErrMalformed;
using protocol::ErrNotPresent;

bool EncodeImageRequest(const MailImageRequest& request, protocol::WireMessage* message) {
  protocol::StartRequest(protocol::MessageType::GetMailImg, request.head, message);
  const protocol::RequestHead& h = request.head;
  protocol::TagCodec& body = message->Body();
  const bool ok =
      request.url.size() <= kMaxImageUrlBytes && request.offset >= 0 &&
      body.PutInt(3, static_cast<int32_t>(h.client_version)) == CodecOk &&
      body.PutBytes(4, ByteView(h.platform)) == CodecOk &&
      body.PutBytes(1, ByteView(h.session_key)) == CodecOk &&
      body.PutBytes(2, ByteView(h.data_id.data(), h.data_id.size())) == CodecOk &&
      body.PutInt(5, h.sync_key) == CodecOk && body.PutInt(6, request.continuation) == CodecOk &&
      body.PutInt(7, static_cast<int32_t>(request.server_id)) == CodecOk &&
      body.PutUInt(9, request.width) == CodecOk && body.PutUInt(10, request.height) == CodecOk &&
      body.PutInt(11, request.offset) == CodecOk && body.PutInt(12, kImageLengthWanted) == CodecOk &&
      body.PutInt(14, 0) == CodecOk && body.PutBytes(8, ByteView(request.url)) == CodecOk;
  if (!ok) body.Reset();
  return ok;
}

int DecodeImageResponse(const protocol::WireMessage& message, MailImageResponse* response) {
  *response = MailImageResponse();
  MailImageResponse& r = *response;
  int status = protocol::DecodeResponseHead(message, protocol::MessageType::GetMailImg, &r.head);
  if (status != CodecOk) return status;
  const protocol::TagCodec& body = message.Body();
  if (r.head.result == kImageNotReady) {
    status = body.GetUInt(11, &r.retry_delay);
    return status == ErrNotPresent ? CodecOk : status;
  }
  if (r.head.result != 0) return CodecOk;
  int32_t total = 0, length = 0, offset = 0;
  ByteView piece;
  if ((status = body.GetInt(2, &r.continuation)) != CodecOk ||
      (status = body.GetInt(7, &total)) != CodecOk ||
      (status = body.GetInt(9, &length)) != CodecOk) {
    return status;
  }
  status = body.GetView(10, &piece);
  if (status != CodecOk && status != ErrNotPresent) return status;
  status = body.GetInt(5, &offset);
  if (status != CodecOk && status != ErrNotPresent) return status;
  r.has_offset = status == CodecOk;
  status = GetBoundedText(body, 4, kMaxImageSuffixBytes, &r.suffix);
  if (status != CodecOk && status != ErrNotPresent) return status;
  if (total < 0 || length < 0 || offset < 0 || static_cast<size_t>(length) != piece.size) {
    return ErrMalformed;
  }
  r.total = total;
  r.offset = offset;
  r.piece.assign(piece.data, piece.data + piece.size);
  return CodecOk;
}

}  // namespace commands
}  // namespace quill
