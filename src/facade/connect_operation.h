// The dial-up family: brings up the connection of one connection-manager
// destination on a worker (dialling blocks) and announces the network type
// it reached. Needs no session and is never exclusive.
//
// Threading: UI thread only.
#ifndef QUILL_FACADE_CONNECT_OPERATION_H_
#define QUILL_FACADE_CONNECT_OPERATION_H_

#include "engine/connection_manager.h"
#include "facade/event_list.h"
#include "facade/operation.h"

namespace quill {
namespace facade {

class ConnectOperation : public Operation {
 public:
  // core must outlive the unit.
  explicit ConnectOperation(FacadeCore* core) : Operation(core) {}

  // MailService::DoConnect.
  bool DoConnect(int destination);
  // The network type a DoConnect reached (kNetNone: none).
  EventList<engine::NetworkType>& done() { return done_; }

 private:
  EventList<engine::NetworkType> done_;
};

}  // namespace facade
}  // namespace quill

#endif  // QUILL_FACADE_CONNECT_OPERATION_H_
