// The user-interface message loop: one thread (the one that made the loop)
// owns every endpoint (the counterpart of a window) and runs its handler;
// any thread may send or post messages to an endpoint.
//
// Ordering: sent messages are dispatched before posted ones, posted ones
// before timers, each group first in first out; this holds in every pump,
// including one nested inside a handler.
//
// Liveness: Send blocks until the UI thread handled the message and returns
// false, at once and without running the handler, when the endpoint is
// closed or the loop is quitting; an endpoint closed while a send waits
// wakes that sender with false. So no worker can hang on a dead endpoint.
// Endpoint ids are never reused, so a stale id stays dead.
//
// Hosting: a toolkit's own event loop may drive this one instead of Run.
// The host is woken (from any thread) whenever work may have become ready
// or the earliest timer moved; it then calls DispatchReady on the UI thread
// and arms a timer for NextTimerDelayMs. Before each handler the loop wakes
// the host again while more work is queued or timers exist, so a handler
// that runs a nested toolkit loop (a modal box) does not hold back the
// next send.
//
// Thread safety: CreateEndpoint, DestroyEndpoint, SetTimer, KillTimer, Run,
// PumpUntil, SetHost and DispatchReady only on the UI thread; Send, Post,
// IsEndpoint, Quit, NextTimerDelayMs and EndpointRef from any thread.
// Handlers run on the UI thread with no lock held, so they may send, post,
// pump or destroy endpoints themselves.
#ifndef QUILL_PLATFORM_MESSAGE_LOOP_H_
#define QUILL_PLATFORM_MESSAGE_LOOP_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <thread>

namespace quill {

using EndpointId = uint32_t;  // 0 is no endpoint
using MessageHandler = std::function<intptr_t(uint32_t msg, uintptr_t wparam, intptr_t lparam)>;

constexpr uint32_t kWmTimer = 0x0113;  // wparam: the timer id
constexpr uint32_t kWmUser = 0x0400;   // first private message number

namespace internal {
struct LoopCore;
}

// What a hosting event loop provides.
class MessageLoopHost {
 public:
  virtual ~MessageLoopHost() = default;
  // Asks for a DispatchReady soon. Any thread, any lock state of the
  // caller's own; must not block and must not call back into the loop.
  virtual void Wake() = 0;
};

// A sending handle on one endpoint that stays safe to use after the loop is
// gone: every call then fails at once. Copyable; any thread.
class EndpointRef {
 public:
  EndpointRef() = default;
  bool Send(uint32_t msg, uintptr_t wparam, intptr_t lparam, intptr_t* result = nullptr) const;
  bool Post(uint32_t msg, uintptr_t wparam, intptr_t lparam) const;
  bool IsAlive() const;
  EndpointId id() const { return id_; }

 private:
  friend class MessageLoop;
  EndpointRef(std::shared_ptr<internal::LoopCore> core, EndpointId id)
      : core_(std::move(core)), id_(id) {}
  std::shared_ptr<internal::LoopCore> core_;  // null for a default handle
  EndpointId id_ = 0;                         // the endpoint addressed
};

class MessageLoop {
 public:
  // The calling thread becomes the UI thread.
  MessageLoop();
  // Quits: every waiting and later send fails.
  ~MessageLoop();
  MessageLoop(const MessageLoop&) = delete;
  MessageLoop& operator=(const MessageLoop&) = delete;

  // A new endpoint whose messages go to handler. Returns 0 once quitting.
  EndpointId CreateEndpoint(MessageHandler handler);
  // Closes the endpoint: its queued messages and timers are dropped and
  // waiting senders get false. Unknown ids are ignored.
  void DestroyEndpoint(EndpointId id);
  bool IsEndpoint(EndpointId id) const;
  EndpointRef Ref(EndpointId id) const;

  // Blocking send; see the header comment. On the UI thread the handler is
  // called directly. *result receives the handler's return value.
  bool Send(EndpointId id, uint32_t msg, uintptr_t wparam, intptr_t lparam,
            intptr_t* result = nullptr);
  // Queues the message; false when the endpoint is closed or quitting.
  bool Post(EndpointId id, uint32_t msg, uintptr_t wparam, intptr_t lparam);

  // (Re)starts a periodic timer that delivers kWmTimer with wparam timer_id
  // every interval_ms. False for a closed endpoint.
  bool SetTimer(EndpointId id, uint32_t timer_id, uint32_t interval_ms);
  bool KillTimer(EndpointId id, uint32_t timer_id);

  // Makes Run return exit_code; from then on sends and posts fail. Final.
  void Quit(int exit_code);
  bool IsQuitting() const;

  // Dispatches until Quit; returns its exit code.
  int Run();
  // Dispatches until done() is true (checked before and after every
  // message), the loop quits or timeout_ms pass. Returns done().
  bool PumpUntil(const std::function<bool()>& done, uint32_t timeout_ms);

  // Hands dispatching to host (null: back to Run/PumpUntil). The host must
  // outlive the loop or be reset first.
  void SetHost(MessageLoopHost* host);
  // Dispatches ready messages and due timers, in the order above, until
  // none is ready or budget_ms have passed. True when ready work remains
  // (the host is then woken again). Never waits. Nothing after Quit.
  bool DispatchReady(uint32_t budget_ms);
  // Milliseconds until the earliest timer is due (0: due now), -1 when no
  // timer runs.
  int64_t NextTimerDelayMs() const;

  bool IsUiThread() const { return std::this_thread::get_id() == ui_thread_; }

 private:
  std::shared_ptr<internal::LoopCore> core_;
  const std::thread::id ui_thread_;
};

}  // namespace quill

#endif  // QUILL_PLATFORM_MESSAGE_LOOP_H_
