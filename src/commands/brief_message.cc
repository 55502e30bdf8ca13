#include "commands/brief_message.h"

#include "commands/text_limits.h"
#include "protocol/codec_status.h"
#include "protocol/list_codec.h"

namespace quill {
namespace commands {
namespace {

using protocol::CodecOk;
using protocol::ErrMalformed;
using protocol::ListReader;
using protocol::TagCodec;

int DecodeAddress(const TagCodec& c, BriefAddress* out) {
  int status = GetCutText(c, 1, kMaxBriefAddressBytes, &out->address);
  if (status != CodecOk) return status;
  return GetCutText(c, 2, kMaxBriefAddressBytes, &out->name);
}

int DecodeAddressList(const TagCodec& body, uint32_t count_tag, uint32_t list_tag,
                      std::vector<BriefAddress>* out) {
  ListReader list;
  int status = list.Open(body, count_tag, list_tag, /*exact=*/true);
  if (status != CodecOk) return status;
  for (int32_t i = 1; i <= list.count(); ++i) {
    TagCodec item;
    BriefAddress a;
    if ((status = list.Item(i, &item)) != CodecOk || (status = DecodeAddress(item, &a)) != CodecOk) {
      return status;
    }
    out->push_back(std::move(a));
  }
  return CodecOk;
}

}  // namespace

bool EncodeBriefRequest(const BriefRequest& request, protocol::WireMessage* message) {
  protocol::StartRequest(protocol::MessageType::GetMailBrief, request.head, message);
  const protocol::RequestHead& h = request.head;
  TagCodec& body = message->Body();
  const bool ok =
      body.PutBytes(1, ByteView(h.session_key)) == CodecOk &&
      body.PutInt(2, static_cast<int32_t>(request.server_id)) == CodecOk &&
      body.PutBytes(3, ByteView(h.data_id.data(), h.data_id.size())) == CodecOk &&
      body.PutInt(4, h.sync_key) == CodecOk &&
      body.PutInt(5, static_cast<int32_t>(h.client_version)) == CodecOk &&
      body.PutBytes(6, ByteView(h.platform)) == CodecOk;
  if (!ok) body.Reset();
  return ok;
}

int DecodeBriefResponse(const protocol::WireMessage& message, BriefResponse* response) {
  *response = BriefResponse();
  int status =
      protocol::DecodeResponseHead(message, protocol::MessageType::GetMailBrief, &response->head);
  if (status != CodecOk || response->head.result != 0) return status;
  const TagCodec& body = message.Body();
  BriefResponse& r = *response;
  int32_t server_id = 0;
  TagCodec sender;
  if ((status = body.GetInt(2, &r.sync_needed)) != CodecOk ||
      (status = body.GetInt(3, &server_id)) != CodecOk ||
      (status = body.GetInt(4, &r.body_length)) != CodecOk ||
      (status = body.GetCodec(5, &sender)) != CodecOk ||
      (status = DecodeAddress(sender, &r.sender)) != CodecOk ||
      (status = body.GetInt(6, &r.to_total)) != CodecOk ||
      (status = DecodeAddressList(body, 7, 8, &r.to)) != CodecOk ||
      (status = body.GetInt(9, &r.cc_total)) != CodecOk ||
      (status = DecodeAddressList(body, 10, 11, &r.cc)) != CodecOk ||
      (status = body.GetInt(12, &r.kept12)) != CodecOk ||
      (status = GetCutText(body, 13, kMaxBriefSubjectBytes, &r.subject)) != CodecOk ||
      (status = body.GetInt64(14, &r.kept14)) != CodecOk ||
      (status = body.GetInt(15, &r.attachment_total)) != CodecOk) {
    return status;
  }
  r.server_id = static_cast<uint32_t>(server_id);
  if (r.body_length < 0) return ErrMalformed;
  ListReader attachments;
  if ((status = attachments.Open(body, 16, 17, /*exact=*/true)) != CodecOk) return status;
  for (int32_t i = 1; i <= attachments.count(); ++i) {
    TagCodec item;
    BriefAttachment a;
    if ((status = attachments.Item(i, &item)) != CodecOk ||
        (status = GetCutText(item, 1, kMaxAttachmentNameBytes, &a.name)) != CodecOk ||
        (status = item.GetInt(2, &a.size)) != CodecOk ||
        (status = item.GetInt(3, &a.kind)) != CodecOk) {
      return status;
    }
    r.attachments.push_back(std::move(a));
  }
  if ((status = body.GetString(18, &r.brief_text)) != CodecOk) return status;
  return body.GetInt(19, &r.body_version);
}

}  // namespace commands
}  // namespace quill
