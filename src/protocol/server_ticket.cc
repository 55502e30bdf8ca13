#include "protocol/server_ticket.h"

namespace quill {
namespace protocol {

Bytes ServerTicket::Get() const {
  std::lock_guard<std::mutex> lock(mu_);
  return value_;
}

void ServerTicket::Replace(ByteView ticket) {
  Bytes copy = ticket.ToBytes();
  std::lock_guard<std::mutex> lock(mu_);
  value_.swap(copy);
}

void ServerTicket::Clear() { Replace(ByteView()); }

}  // namespace protocol
}  // namespace quill
