#include "commands/attach_message.h"

#include "platform/utf.h"
#include "protocol/codec_status.h"

namespace quill {
namespace commands {
namespace {

using protocol::CodecOk;
using protocol::ErrMalformed;
using protocol::ErrNotPresent;
using protocol::TagCodec;

// The tags of one sub-response kind.
struct SubTags {
  uint32_t total, offset, length, version, data;
};

SubTags TagsOf(AttachKind kind) {
  if (kind == AttachKind::kPicture) return SubTags{4, 5, 6, 8, 7};
  return SubTags{2, 3, 4, 6, 5};
}

// An optional integer: absent leaves *present false.
int GetOptional(const TagCodec& c, uint32_t tag, int32_t* out, bool* present) {
  const int status = c.GetInt(tag, out);
  *present = status == CodecOk;
  return status == ErrNotPresent ? CodecOk : status;
}

bool EncodeSub(const AttachRequest& r, TagCodec* sub) {
  switch (r.kind) {
    case AttachKind::kDownload:
      return sub->PutInt(1, r.offset) == CodecOk && sub->PutInt(2, kAttachLengthWanted) == CodecOk &&
             sub->PutInt(3, 0) == CodecOk;
    case AttachKind::kText:
      return sub->PutInt(1, r.offset) == CodecOk && sub->PutInt(2, r.length) == CodecOk &&
             sub->PutInt(3, r.version) == CodecOk;
    case AttachKind::kPicture:
      return sub->PutInt(1, r.width) == CodecOk && sub->PutInt(2, r.height) == CodecOk &&
             sub->PutInt(3, r.offset) == CodecOk &&
             sub->PutInt(4, kAttachLengthWanted) == CodecOk &&
             sub->PutInt(5, r.version) == CodecOk && sub->PutInt(6, 0) == CodecOk;
  }
  return false;
}

}  // namespace

bool EncodeAttachRequest(const AttachRequest& request, protocol::WireMessage* message) {
  protocol::StartRequest(protocol::MessageType::GetMailAttach, request.head, message);
  const protocol::RequestHead& h = request.head;
  TagCodec& body = message->Body();
  TagCodec sub;
  const bool ok =
      request.name.size() <= kMaxAttachNameBytes && request.offset >= 0 && EncodeSub(request, &sub) &&
      body.PutInt(8, static_cast<int32_t>(h.client_version)) == CodecOk &&
      body.PutBytes(9, ByteView(h.platform)) == CodecOk &&
      body.PutBytes(1, ByteView(h.session_key)) == CodecOk &&
      body.PutInt(2, h.sync_key) == CodecOk &&
      body.PutBytes(3, ByteView(h.data_id.data(), h.data_id.size())) == CodecOk &&
      body.PutInt(4, static_cast<int32_t>(request.server_id)) == CodecOk &&
      body.PutBytes(5, ByteView(request.name)) == CodecOk &&
      body.PutInt(6, static_cast<int32_t>(request.kind)) == CodecOk &&
      body.PutCodec(7, &sub) == CodecOk;
  if (!ok) body.Reset();
  return ok;
}

int DecodeAttachResponse(const protocol::WireMessage& message, AttachKind expected,
                         AttachResponse* response) {
  *response = AttachResponse();
  AttachResponse& r = *response;
  int status = protocol::DecodeResponseHead(message, protocol::MessageType::GetMailAttach, &r.head);
  if (status != CodecOk || r.head.result != 0) return status;
  const TagCodec& body = message.Body();
  int32_t kind = 0;
  TagCodec sub;
  if ((status = body.GetInt(2, &r.sync_needed)) != CodecOk ||
      (status = body.GetInt(3, &kind)) != CodecOk || (status = body.GetCodec(4, &sub)) != CodecOk) {
    return status;
  }
  if (kind != static_cast<int32_t>(expected)) return ErrMalformed;
  r.kind = expected;
  if ((status = sub.GetInt(1, &r.sub_result)) != CodecOk) return status;
  const SubTags tags = TagsOf(expected);
  int32_t total = 0;
  if ((status = GetOptional(sub, tags.total, &total, &r.has_total)) != CodecOk ||
      (status = GetOptional(sub, tags.version, &r.version, &r.has_version)) != CodecOk) {
    return status;
  }
  if (total < 0) return ErrMalformed;
  r.total = total;
  if (expected == AttachKind::kPicture) {
    bool present = false;
    if ((status = GetOptional(sub, 2, &r.width, &present)) != CodecOk ||
        (status = GetOptional(sub, 3, &r.height, &present)) != CodecOk) {
      return status;
    }
  }
  if (r.sub_result < 0) return CodecOk;  // no data follows
  int32_t offset = 0, length = 0;
  ByteView data;
  if (!r.has_total || (status = sub.GetInt(tags.offset, &offset)) != CodecOk ||
      (status = sub.GetInt(tags.length, &length)) != CodecOk) {
    return status == CodecOk ? ErrNotPresent : status;
  }
  status = sub.GetView(tags.data, &data);
  if (status != CodecOk && status != ErrNotPresent) return status;  // absent: empty
  if (offset < 0 || length < 0) return ErrMalformed;
  r.offset = offset;
  r.data.assign(data.data, data.data + data.size);
  const size_t units = expected == AttachKind::kText
                           ? Utf8ToUtf16(std::string_view(reinterpret_cast<const char*>(data.data),
                                                          data.size))
                                 .size()
                           : data.size;
  if (units != static_cast<size_t>(length)) return ErrMalformed;
  return CodecOk;
}

}  // namespace commands
}  // namespace quill
