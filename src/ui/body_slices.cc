#include "ui/body_slices.h"

namespace quill {
namespace ui {

// How near the end a scroll starts a blocking fetch.
constexpr int64_t kEndSlack = 10;

void BodySlices::Scrolled(int64_t position, int64_t max) {
  if (blocking_) return;
  if (position >= max - kEndSlack) {
    FetchAll();
  } else if (position >= (2 * max) / 3 && !outstanding_) {
    Request();
  }
}

void BodySlices::FetchAll() {
  if (complete()) return;
  SetBlocking(true);
  if (!outstanding_) Request();
}

void BodySlices::Request() {
  if (complete() || outstanding_) return;
  outstanding_ = true;
  if (!start_(static_cast<int32_t>(held_.held), held_.version)) {
    outstanding_ = false;
    SetBlocking(false);
  }
}

void BodySlices::SliceDone(bool ok, const Held& now) {
  outstanding_ = false;
  const bool progress = !(now == held_);
  held_ = now;
  if (!blocking_) return;
  if (ok && progress && !complete()) {
    Request();
  } else {
    SetBlocking(false);
  }
}

void BodySlices::SetBlocking(bool blocking) {
  if (blocking == blocking_) return;
  blocking_ = blocking;
  if (on_blocking) on_blocking(blocking);
}

}  // namespace ui
}  // namespace quill
