#include "facade/daily_sync_budget.h"

#include <utility>

#include "platform/clock.h"

namespace quill {
namespace facade {
namespace {

uint64_t DailyBytes(const engine::AccountState* account) {
  const engine::TransferTotals t = account->totals();
  return t.daily_sent + t.daily_received;
}

}  // namespace

DailySyncBudget::DailySyncBudget(const engine::AccountState* account, uint64_t limit,
                                 std::function<uint32_t()> tick_ms)
    : account_(account),
      tick_ms_(tick_ms ? std::move(tick_ms) : std::function<uint32_t()>(GetTickCount)),
      limit_(limit) {}

void DailySyncBudget::SetLimit(uint64_t limit) {
  std::lock_guard<std::mutex> lock(mu_);
  limit_ = limit;
}

bool DailySyncBudget::Reached() {
  const uint32_t now = tick_ms_();
  const uint64_t bytes = DailyBytes(account_);
  std::lock_guard<std::mutex> lock(mu_);
  if (!window_open_ || now < window_start_ || now - window_start_ > kWindowMs) {
    window_open_ = true;
    window_start_ = now;
    bytes_at_start_ = bytes;
  }
  return bytes - bytes_at_start_ > limit_;
}

}  // namespace facade
}  // namespace quill
