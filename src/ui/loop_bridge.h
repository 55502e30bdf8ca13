// Runs the platform message loop inside Qt's event loop: a wake descriptor
// watched by a QSocketNotifier starts a turn, and one single-shot QTimer
// stands for the loop's earliest timer. Each turn dispatches for at most
// kTurnBudgetMs so Qt's input and paint events are never starved; what is
// left wakes the next turn. Turns nest: a handler that opens a modal
// screen (exec) keeps the loop running inside that screen's event loop.
//
// Never call MessageLoop::Run or PumpUntil on the UI thread while a bridge
// exists. Workers keep blocking in the loop's Send.
//
// Thread safety: made, used and destroyed on the UI thread (the loop's and
// Qt's main thread); the loop wakes it from any thread.
#ifndef QUILL_UI_LOOP_BRIDGE_H_
#define QUILL_UI_LOOP_BRIDGE_H_

#include <QSocketNotifier>
#include <QTimer>

#include "platform/message_loop.h"
#include "platform/wake_fd.h"

namespace quill {
namespace ui {

class LoopBridge : private MessageLoopHost {
 public:
  static constexpr uint32_t kTurnBudgetMs = 8;

  // loop must outlive the bridge.
  explicit LoopBridge(MessageLoop* loop);
  ~LoopBridge() override;
  LoopBridge(const LoopBridge&) = delete;
  LoopBridge& operator=(const LoopBridge&) = delete;

  // Turns run so far (for tests).
  uint64_t turns() const { return turns_; }

 private:
  void Wake() override { wake_.Signal(); }
  void Turn();
  void ArmTimer();

  MessageLoop* const loop_;
  WakeFd wake_;                // signalled by the loop from any thread
  QSocketNotifier notifier_;   // watches wake_
  QTimer timer_;               // the loop's earliest timer, single shot
  uint64_t turns_ = 0;         // turns started
};

}  // namespace ui
}  // namespace quill

#endif  // QUILL_UI_LOOP_BRIDGE_H_
