#include "platform/event.h"

#include <chrono>

#include "platform/last_error.h"

namespace quill {

Event::Event(ResetMode mode, bool initially_set)
    : mode_(mode), set_(initially_set), closed_(false) {}

void Event::Set() {
  std::lock_guard<std::mutex> lock(mu_);
  set_ = true;
  if (mode_ == ResetMode::kAuto) {
    cv_.notify_one();
  } else {
    cv_.notify_all();
  }
}

void Event::Reset() {
  std::lock_guard<std::mutex> lock(mu_);
  set_ = false;
}

bool Event::Wait(uint32_t timeout_ms) {
  std::unique_lock<std::mutex> lock(mu_);
  bool ready = cv_.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                            [this] { return set_ || closed_; });
  if (closed_) {
    SetLastError(kErrorInvalidHandle);
    return false;
  }
  if (!ready) {
    SetLastError(kErrorTimeout);
    return false;
  }
  if (mode_ == ResetMode::kAuto) set_ = false;
  return true;
}

void Event::Close() {
  std::lock_guard<std::mutex> lock(mu_);
  closed_ = true;
  cv_.notify_all();
}

}  // namespace quill
