#include "gateway/update_commands.h"

#include "gateway/mail_commands.h"
#include "platform/ascii.h"
#include "protocol/codec_status.h"

namespace quill {
namespace gateway {

using protocol::CodecOk;

bool QueryUpdateCommand::Answer(const GatewaySession&, const protocol::WireMessage& request,
                                protocol::WireMessage* response) {
  int32_t client_version = 0;
  if (request.Body().GetInt(3, &client_version) != CodecOk) {
    return AnswerResult(type(), kMailResultBadRequest, response);
  }
  UpdateRelease release;
  const bool offered = shelf_->Current(&release) && release.version > client_version;
  if (!offered) release = UpdateRelease();
  if (!AnswerResult(type(), 0, response)) return false;
  protocol::TagCodec& body = response->Body();
  return body.PutInt(2, static_cast<int32_t>(release.size)) == CodecOk &&
         body.PutInt(3, release.version) == CodecOk &&
         body.PutBytes(4, ByteView(offered ? VersionText(release.version) : std::string())) ==
             CodecOk &&
         PutText(&body, 5, offered ? release.package + "\n" + release.notes : std::string(),
                 kMaxOfferTextBytes);
}

bool UpdatePackCommand::Answer(const GatewaySession&, const protocol::WireMessage& request,
                               protocol::WireMessage* response) {
  const protocol::TagCodec& in = request.Body();
  std::string package;
  uint32_t offset = 0;
  int32_t wanted = 0;
  if (in.GetString(5, &package) != CodecOk || in.GetUInt(6, &offset) != CodecOk ||
      in.GetInt(7, &wanted) != CodecOk || wanted <= 0) {
    return AnswerResult(type(), kMailResultBadRequest, response);
  }
  UpdateRelease release;
  if (!shelf_->Current(&release)) return AnswerResult(type(), kMailResultNotFound, response);
  protocol::TagCodec& body = response->Body();
  if (!EqualsIgnoringAsciiCase(package, release.package)) {
    return AnswerResult(type(), kUpdateResultReplaced, response) &&
           body.PutBytes(2, ByteView(release.package)) == CodecOk &&
           body.PutUInt(3, static_cast<uint32_t>(release.size)) == CodecOk;
  }
  if (offset > release.size) return AnswerResult(type(), kMailResultBadRequest, response);
  Bytes piece;
  const size_t max = std::min(kPackPieceBytes, static_cast<size_t>(wanted));
  if (!shelf_->ReadPiece(release, offset, max, &piece)) {
    return AnswerResult(type(), kMailResultMailboxUnreadable, response);
  }
  return AnswerResult(type(), 0, response) &&
         body.PutBytes(2, ByteView(release.package)) == CodecOk &&
         body.PutUInt(3, static_cast<uint32_t>(release.size)) == CodecOk &&
         body.PutInt(4, 0) == CodecOk &&
         body.PutUInt(5, static_cast<uint32_t>(piece.size())) == CodecOk &&
         body.PutBytes(6, ByteView(piece)) == CodecOk;
}

}  // namespace gateway
}  // namespace quill
