// The service side of "statinfo" (message type 110): records the usage
// statistics a client uploads, with the session's account, in the stats
// store, and answers 0 only once the upload is durable.
//
// Request body: 1 session key, 2 sync key, 3 AccountDataId, 4 client
// version, 5 platform, 6 to 29 the 24 values (unsigned 32-bit). Response
// body: 1 result: 0 recorded; -2 a value is missing or malformed; -6 the
// store could not record it (the client keeps its values).
//
// Thread safety: Answer may run on several request threads at once.
#ifndef QUILL_GATEWAY_STAT_COMMAND_H_
#define QUILL_GATEWAY_STAT_COMMAND_H_

#include "gateway/session_command.h"
#include "gateway/stats_store.h"

namespace quill {
namespace gateway {

class StatInfoCommand : public SessionCommand {
 public:
  // stats must outlive the command.
  explicit StatInfoCommand(StatsStore* stats) : stats_(stats) {}
  protocol::MessageType type() const override { return protocol::MessageType::StatInfo; }
  bool Answer(const GatewaySession& session, const protocol::WireMessage& request,
              protocol::WireMessage* response) override;

 private:
  StatsStore* const stats_;
};

}  // namespace gateway
}  // namespace quill

#endif  // QUILL_GATEWAY_STAT_COMMAND_H_
