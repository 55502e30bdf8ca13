#include "gateway/stat_command.h"

#include "gateway/mail_commands.h"
#include "platform/clock.h"
#include "protocol/codec_status.h"

namespace quill {
namespace gateway {

bool StatInfoCommand::Answer(const GatewaySession& session, const protocol::WireMessage& request,
                             protocol::WireMessage* response) {
  StatUpload upload;
  upload.account = session.account;
  upload.uin = session.uin;
  upload.received = NowSeconds();
  for (size_t i = 0; i < kStatValueCount; ++i) {
    if (request.Body().GetUInt(static_cast<uint32_t>(6 + i), &upload.values[i]) !=
        protocol::CodecOk) {
      return AnswerResult(type(), kMailResultBadRequest, response);
    }
  }
  const int32_t result = stats_->Record(upload) ? 0 : kMailResultMailboxUnreadable;
  return AnswerResult(type(), result, response);
}

}  // namespace gateway
}  // namespace quill
