// ServerTicket: opaque bytes that responses may carry and every later
// session request echoes. One instance serves the whole process.
//
// Thread safety: all operations may be called from any worker; a request
// takes the whole current value, a response replaces the whole value. The
// ticket is a secret and is never logged.
#ifndef QUILL_PROTOCOL_SERVER_TICKET_H_
#define QUILL_PROTOCOL_SERVER_TICKET_H_

#include <mutex>

#include "platform/bytes.h"

namespace quill {
namespace protocol {

class ServerTicket {
 public:
  ServerTicket() = default;
  ServerTicket(const ServerTicket&) = delete;
  ServerTicket& operator=(const ServerTicket&) = delete;

  Bytes Get() const;
  void Replace(ByteView ticket);
  void Clear();

 private:
  mutable std::mutex mu_;
  Bytes value_;  // guarded by mu_; empty at start-up
};

}  // namespace protocol
}  // namespace quill

#endif  // QUILL_PROTOCOL_SERVER_TICKET_H_
