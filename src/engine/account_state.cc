#include "engine/account_state.h"

namespace quill {
namespace engine {

std::u16string AccountState::login_account() const {
  std::lock_guard<std::mutex> lock(mu_);
  return login_account_;
}

std::u16string AccountState::login_password() const {
  std::lock_guard<std::mutex> lock(mu_);
  return login_password_;
}

SessionSnapshot AccountState::session() const {
  std::lock_guard<std::mutex> lock(mu_);
  return SessionSnapshot{session_key_, uin_};
}

void AccountState::SetLoginAccount(std::u16string account) {
  std::lock_guard<std::mutex> lock(mu_);
  login_account_ = std::move(account);
}

void AccountState::SetLoginPassword(std::u16string password) {
  std::lock_guard<std::mutex> lock(mu_);
  login_password_ = std::move(password);
}

void AccountState::SetSession(std::string session_key) {
  std::lock_guard<std::mutex> lock(mu_);
  session_key_ = std::move(session_key);
}

void AccountState::SetUin(uint32_t uin) {
  std::lock_guard<std::mutex> lock(mu_);
  uin_ = uin;
}

void AccountState::ClearSession() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    session_key_.clear();
  }
  ticket_.Clear();
}

void AccountState::AddSent(uint64_t bytes, bool counts_daily) {
  std::lock_guard<std::mutex> lock(mu_);
  totals_.sent += bytes;
  if (counts_daily) totals_.daily_sent += bytes;
}

void AccountState::AddReceived(uint64_t bytes, bool counts_daily) {
  std::lock_guard<std::mutex> lock(mu_);
  totals_.received += bytes;
  if (counts_daily) totals_.daily_received += bytes;
}

TransferTotals AccountState::totals() const {
  std::lock_guard<std::mutex> lock(mu_);
  return totals_;
}

void AccountState::SetTotals(const TransferTotals& totals) {
  std::lock_guard<std::mutex> lock(mu_);
  totals_ = totals;
}

}  // namespace engine
}  // namespace quill
