// The sessions the gateway granted. A session is found by the ticket the
// client echoes in every session request; its key deciphers the request.
//
// Thread safety: every method may be called from any request thread.
#ifndef QUILL_GATEWAY_SESSION_TABLE_H_
#define QUILL_GATEWAY_SESSION_TABLE_H_

#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>

#include "platform/bytes.h"

namespace quill {
namespace gateway {

struct GatewaySession {
  std::string ticket;        // 16 random bytes, the map key
  std::string session_key;   // 16 random letters and digits
  std::string account;       // account name as stored in the book
  uint32_t uin = 0;          // the account's number
  std::chrono::steady_clock::time_point expires;  // after this the key is refused
};

class SessionTable {
 public:
  explicit SessionTable(std::chrono::seconds lifetime);

  // Grants a new session for the account. A second login of the same
  // account keeps its older sessions until they expire, like a service that
  // serves several devices. False when the random source fails.
  bool Grant(const std::string& account, uint32_t uin, GatewaySession* out);
  // The live session of `ticket`; an expired one is removed.
  bool Find(ByteView ticket, GatewaySession* out);
  // Ends the session of `ticket` at once.
  void Expire(ByteView ticket);
  size_t size() const;

 private:
  const std::chrono::seconds lifetime_;
  mutable std::mutex mu_;
  std::map<std::string, GatewaySession> sessions_;  // guarded by mu_; by ticket
};

}  // namespace gateway
}  // namespace quill

#endif  // QUILL_GATEWAY_SESSION_TABLE_H_
