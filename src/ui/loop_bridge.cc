#include "ui/loop_bridge.h"

#include <algorithm>

namespace quill {
namespace ui {

LoopBridge::LoopBridge(MessageLoop* loop)
    : loop_(loop), notifier_(wake_.fd(), QSocketNotifier::Read) {
  timer_.setSingleShot(true);
  timer_.setTimerType(Qt::PreciseTimer);
  QObject::connect(&notifier_, &QSocketNotifier::activated, [this] { Turn(); });
  QObject::connect(&timer_, &QTimer::timeout, [this] { Turn(); });
  loop_->SetHost(this);  // wakes at once: work queued before now is seen
}

LoopBridge::~LoopBridge() {
  loop_->SetHost(nullptr);
  notifier_.setEnabled(false);
}

void LoopBridge::Turn() {
  ++turns_;
  // Drain first: a wake from here on (a handler's own send or the loop's
  // wake before each handler) makes the descriptor readable again.
  wake_.Drain();
  ArmTimer();
  loop_->DispatchReady(kTurnBudgetMs);
  ArmTimer();
}

void LoopBridge::ArmTimer() {
  const int64_t delay = loop_->NextTimerDelayMs();
  if (delay < 0) {
    timer_.stop();
    return;
  }
  timer_.start(static_cast<int>(std::min<int64_t>(delay, 24 * 3600 * 1000)));
}

}  // namespace ui
}  // namespace quill
