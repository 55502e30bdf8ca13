// The signed-in account as the network jobs see it: the login texts, the
// session, and the transfer counters. The facade owns one; workers read the
// session and add to the counters while the UI thread changes them.
//
// Thread safety: every member may be called from any thread; one mutex
// (the account lock) guards all fields. The ServerTicket has a lock of its
// own.
#ifndef QUILL_ENGINE_ACCOUNT_STATE_H_
#define QUILL_ENGINE_ACCOUNT_STATE_H_

#include <cstdint>
#include <mutex>
#include <string>

#include "protocol/server_ticket.h"

namespace quill {
namespace engine {

// What a worker needs to seal a session request, read in one go.
struct SessionSnapshot {
  std::string session_key;  // empty: no session
  uint32_t uin = 0;         // account number
};

struct TransferTotals {
  uint64_t sent = 0;         // request body bytes since the totals were loaded
  uint64_t received = 0;     // response body bytes read
  uint64_t daily_sent = 0;   // of those, bytes that count toward the daily limit
  uint64_t daily_received = 0;
};

class AccountState {
 public:
  AccountState() = default;
  AccountState(const AccountState&) = delete;
  AccountState& operator=(const AccountState&) = delete;

  std::u16string login_account() const;
  std::u16string login_password() const;
  SessionSnapshot session() const;

  void SetLoginAccount(std::u16string account);
  void SetLoginPassword(std::u16string password);
  void SetSession(std::string session_key);
  void SetUin(uint32_t uin);
  // Forgets the session key (and the ticket that belongs to it).
  void ClearSession();

  // The counters; counts_daily marks bytes of the mailbox sync.
  void AddSent(uint64_t bytes, bool counts_daily);
  void AddReceived(uint64_t bytes, bool counts_daily);
  TransferTotals totals() const;
  // Start values, e.g. the persisted totals.
  void SetTotals(const TransferTotals& totals);

  protocol::ServerTicket* ticket() { return &ticket_; }

 private:
  mutable std::mutex mu_;          // the account lock
  std::u16string login_account_;   // as typed at the last login
  std::u16string login_password_;  // its digest text
  std::string session_key_;        // empty: no session
  uint32_t uin_ = 0;               // account number
  TransferTotals totals_;          // byte counters
  protocol::ServerTicket ticket_;  // echoed by session requests
};

}  // namespace engine
}  // namespace quill

#endif  // QUILL_ENGINE_ACCOUNT_STATE_H_
