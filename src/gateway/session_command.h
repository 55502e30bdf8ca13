// One command the gateway answers inside a session (every command but
// "auth"). Each command issue adds its own.
//
// Thread safety: Answer runs on the server's request threads, several at
// once; an implementation guards its own state.
#ifndef QUILL_GATEWAY_SESSION_COMMAND_H_
#define QUILL_GATEWAY_SESSION_COMMAND_H_

#include "gateway/session_table.h"
#include "protocol/codec_status.h"
#include "protocol/message_type.h"
#include "protocol/wire_message.h"

namespace quill {
namespace gateway {

class SessionCommand {
 public:
  virtual ~SessionCommand() = default;
  // Request and response message type.
  virtual protocol::MessageType type() const = 0;
  // Fills `response` (type and body) for the opened request. False when the
  // command cannot answer at all: the client then gets a failed wrapper.
  virtual bool Answer(const GatewaySession& session, const protocol::WireMessage& request,
                      protocol::WireMessage* response) = 0;
  // Fills `response` with the command's own refusal carrying `code` (the
  // "refuse" fault); by default the response's result is the code.
  virtual bool Refuse(int32_t code, protocol::WireMessage* response) {
    response->SetType(type());
    return response->Body().PutInt(1, code) == protocol::CodecOk;
  }
};

}  // namespace gateway
}  // namespace quill

#endif  // QUILL_GATEWAY_SESSION_COMMAND_H_
