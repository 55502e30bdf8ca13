// The daily transfer limit of the mailbox sync: a 24-hour window that
// begins at the first check, and the sync bytes counted in it (the
// account's daily counters, read as the difference to their value when the
// window began). A window also begins anew when the tick count wrapped.
//
// Thread safety: Reached() may be called from any worker; the window has
// its own lock, taken after none other.
#ifndef QUILL_FACADE_DAILY_SYNC_BUDGET_H_
#define QUILL_FACADE_DAILY_SYNC_BUDGET_H_

#include <cstdint>
#include <functional>
#include <mutex>

#include "engine/account_state.h"
#include "engine/exchange.h"

namespace quill {
namespace facade {

class DailySyncBudget : public engine::TransferBudget {
 public:
  static constexpr uint64_t kDefaultLimit = 1048576;
  static constexpr uint32_t kWindowMs = 86400000;

  // account must outlive the budget; tick_ms defaults to GetTickCount.
  DailySyncBudget(const engine::AccountState* account, uint64_t limit,
                  std::function<uint32_t()> tick_ms = nullptr);

  // True once more than the limit of sync bytes were counted in the window.
  bool Reached() override;
  void SetLimit(uint64_t limit);

 private:
  const engine::AccountState* const account_;
  const std::function<uint32_t()> tick_ms_;
  std::mutex mu_;
  uint64_t limit_;               // bytes allowed per window
  bool window_open_ = false;     // a window has begun
  uint32_t window_start_ = 0;    // its start tick
  uint64_t bytes_at_start_ = 0;  // the account's daily bytes when it began
};

}  // namespace facade
}  // namespace quill

#endif  // QUILL_FACADE_DAILY_SYNC_BUDGET_H_
