#include "commands/update_message.h"

#include <algorithm>

#include "commands/text_limits.h"
#include "platform/ascii.h"
#include "platform/hex.h"
#include "protocol/codec_status.h"

namespace quill {
namespace commands {

using protocol::CodecOk;
using protocol::ErrMalformed;
using protocol::TagCodec;

namespace {

bool IsHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// The head fields both requests carry under the same tags.
bool PutHead(const protocol::RequestHead& h, TagCodec* body) {
  return body->PutInt(3, static_cast<int32_t>(h.client_version)) == CodecOk &&
         body->PutBytes(4, ByteView(h.platform)) == CodecOk &&
         body->PutBytes(1, ByteView(h.session_key)) == CodecOk;
}

bool PutDataId(const protocol::RequestHead& h, TagCodec* body) {
  return body->PutBytes(2, ByteView(h.data_id.data(), h.data_id.size())) == CodecOk;
}

}  // namespace

bool EncodeUpdateQueryRequest(const UpdateQueryRequest& request, protocol::WireMessage* message) {
  protocol::StartRequest(protocol::MessageType::QueryUpdate, request.head, message);
  TagCodec& body = message->Body();
  const bool ok = PutHead(request.head, &body) && PutDataId(request.head, &body) &&
                  body.PutInt(5, request.reason) == CodecOk;
  if (!ok) body.Reset();
  return ok;
}

int DecodeUpdateQueryResponse(const protocol::WireMessage& message, UpdateQueryResponse* response) {
  *response = UpdateQueryResponse();
  int status =
      protocol::DecodeResponseHead(message, protocol::MessageType::QueryUpdate, &response->head);
  if (status != CodecOk || response->head.result != 0) return status;
  const TagCodec& body = message.Body();
  UpdateQueryResponse& r = *response;
  if ((status = body.GetInt(2, &r.update_value)) != CodecOk ||
      (status = body.GetInt(3, &r.offered_version)) != CodecOk ||
      (status = GetBoundedText(body, 4, kMaxVersionTextBytes, &r.version_text)) != CodecOk) {
    return status;
  }
  if ((status = GetBoundedText(body, 5, kMaxOfferTextBytes, &r.offer_text)) != CodecOk) {
    return status;
  }
  // An offer must name a package that can be fetched; one that cannot is
  // a bad answer, never "nothing offered".
  if (r.update_value < 0 || (r.update_value > 0 && !ParseUpdateOffer(r.offer_text, &r.offer))) {
    return ErrMalformed;
  }
  return CodecOk;
}

bool EncodeUpdatePackRequest(const UpdatePackRequest& request, protocol::WireMessage* message) {
  protocol::StartRequest(protocol::MessageType::GetUpdatePack, request.head, message);
  TagCodec& body = message->Body();
  const bool ok = PutHead(request.head, &body) &&
                  body.PutBytes(5, ByteView(request.package)) == CodecOk &&
                  PutDataId(request.head, &body) && body.PutUInt(6, request.offset) == CodecOk &&
                  body.PutInt(7, kUpdateLengthWanted) == CodecOk &&
                  body.PutInt(8, request.pass_through) == CodecOk;
  if (!ok) body.Reset();
  return ok;
}

int DecodeUpdatePackResponse(const protocol::WireMessage& message, UpdatePackResponse* response) {
  *response = UpdatePackResponse();
  int status =
      protocol::DecodeResponseHead(message, protocol::MessageType::GetUpdatePack, &response->head);
  const int32_t result = response->head.result;
  if (status != CodecOk || (result != 0 && result != kUpdatePackReplaced)) return status;
  const TagCodec& body = message.Body();
  UpdatePackResponse& r = *response;
  if ((status = GetBoundedText(body, 2, kPackageNameDigits, &r.package)) != CodecOk ||
      (status = body.GetUInt(3, &r.total)) != CodecOk || result != 0) {
    return status;
  }
  uint32_t length = 0;
  ByteView piece;
  if ((status = body.GetInt(4, &r.kept4)) != CodecOk ||
      (status = body.GetUInt(5, &length)) != CodecOk ||
      (status = body.GetView(6, &piece)) != CodecOk) {
    return status;
  }
  if (piece.size != length) return ErrMalformed;
  r.piece.assign(piece.begin(), piece.end());
  return CodecOk;
}

bool IsPackageName(std::string_view text) {
  if (text.size() != kPackageNameDigits) return false;
  for (char c : text) {
    if (!IsHexDigit(c)) return false;
  }
  return true;
}

bool SamePackageName(std::string_view a, std::string_view b) {
  return EqualsIgnoringAsciiCase(a, b);
}

bool PackageDigest(std::string_view name, std::array<uint8_t, 16>* digest) {
  Bytes bytes;
  if (!IsPackageName(name) || !HexDecode(name, &bytes) || bytes.size() != digest->size()) {
    return false;
  }
  std::copy(bytes.begin(), bytes.end(), digest->begin());
  return true;
}

bool ParseUpdateOffer(std::string_view text, UpdateOffer* offer) {
  const size_t end = text.find('\n');
  const std::string_view first = text.substr(0, end);
  if (!IsPackageName(first)) return false;
  offer->package = std::string(first);
  offer->notes = end == std::string_view::npos ? std::string() : std::string(text.substr(end + 1));
  return true;
}

}  // namespace commands
}  // namespace quill
