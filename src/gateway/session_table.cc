#include "gateway/session_table.h"

#include "platform/crypto.h"

namespace quill {
namespace gateway {
namespace {

constexpr size_t kTicketBytes = 16;
constexpr size_t kSessionKeyChars = 16;
// Sessions kept at most; the oldest to expire goes first.
constexpr size_t kMaxSessions = 4096;

}  // namespace

SessionTable::SessionTable(std::chrono::seconds lifetime) : lifetime_(lifetime) {}

bool SessionTable::Grant(const std::string& account, uint32_t uin, GatewaySession* out) {
  static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  uint8_t random[kTicketBytes + kSessionKeyChars];
  if (!crypto::RandomBytes(random, sizeof random)) return false;
  GatewaySession s;
  s.ticket.assign(reinterpret_cast<const char*>(random), kTicketBytes);
  for (size_t i = 0; i < kSessionKeyChars; ++i) {
    s.session_key += kAlphabet[random[kTicketBytes + i] % (sizeof kAlphabet - 1)];
  }
  s.account = account;
  s.uin = uin;
  s.expires = std::chrono::steady_clock::now() + lifetime_;
  std::lock_guard<std::mutex> lock(mu_);
  if (sessions_.size() >= kMaxSessions) {
    auto oldest = sessions_.begin();
    for (auto it = sessions_.begin(); it != sessions_.end(); ++it) {
      if (it->second.expires < oldest->second.expires) oldest = it;
    }
    sessions_.erase(oldest);
  }
  sessions_[s.ticket] = s;
  *out = s;
  return true;
}

bool SessionTable::Find(ByteView ticket, GatewaySession* out) {
  std::lock_guard<std::mutex> lock(mu_);
  auto it = sessions_.find(ticket.ToString());
  if (it == sessions_.end()) return false;
  if (std::chrono::steady_clock::now() >= it->second.expires) {
    sessions_.erase(it);
    return false;
  }
  *out = it->second;
  return true;
}

void SessionTable::Expire(ByteView ticket) {
  std::lock_guard<std::mutex> lock(mu_);
  sessions_.erase(ticket.ToString());
}

size_t SessionTable::size() const {
  std::lock_guard<std::mutex> lock(mu_);
  return sessions_.size();
}

}  // namespace gateway
}  // namespace quill
