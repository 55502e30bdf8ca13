// The service side of "auth" (message type 101): checks the account and the
// password digest and grants a session.
//
// Request body: 1 account, 2 password digest, 3 client version, 4 platform,
// 5 device id (16 bytes). Response body: 1 result; for 0 and -8 also
// 6 uin and 2 session key; for 0 also 3 nickname, 4 address, 7 newest
// client version; for -8 also 5 update package id.
//
// Results: 0 granted; -2 a request field missing or malformed; -3 wrong
// password; -4 no such account; -5 the account has no mailbox; -8 the
// client version is below the minimum (a session is still granted).
//
// Thread safety: Answer may run on several request threads at once.
#ifndef QUILL_GATEWAY_AUTH_SERVICE_H_
#define QUILL_GATEWAY_AUTH_SERVICE_H_

#include <cstdint>
#include <optional>
#include <string>

#include "gateway/account_book.h"
#include "gateway/session_table.h"
#include "gateway/update_shelf.h"
#include "protocol/wire_message.h"

namespace quill {
namespace gateway {

struct AuthPolicy {
  std::string mailbox_root;          // DIR/accounts: NAME/Maildir must exist
  uint32_t min_client_version = 0;   // older clients get -8
  int32_t newest_client_version = 0x10030;  // tag 7 of a granted login
  std::string update_id = "update";  // tag 5 of a -8 answer
  // A published release raises tag 7 to its version and names its package
  // in tag 5 of a -8 answer. May be null.
  const UpdateShelf* updates = nullptr;
};

struct AuthAnswer {
  int32_t result = 0;         // the response's tag 1
  std::string password;       // the request's password text: the response key comes from it
  bool has_password = false;  // false: the request cannot be answered sealed
  std::optional<GatewaySession> session;  // granted for 0 and -8
};

class AuthService {
 public:
  AuthService(const AccountBook* book, SessionTable* sessions, FileSystem* fs, AuthPolicy policy);

  // Decides the login of `request`. With `forced_result`, that result is
  // answered instead (a fault mode); 0 and -8 are forced only for an
  // existing account, as they need one to grant a session.
  AuthAnswer Decide(const protocol::WireMessage& request, std::optional<int32_t> forced_result);

  // The response message of an answer.
  bool Encode(const AuthAnswer& answer, protocol::WireMessage* response) const;

 private:
  const AccountBook* const book_;
  SessionTable* const sessions_;
  FileSystem* const fs_;
  const AuthPolicy policy_;
};

}  // namespace gateway
}  // namespace quill

#endif  // QUILL_GATEWAY_AUTH_SERVICE_H_
