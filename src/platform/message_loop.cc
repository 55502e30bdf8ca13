#include "platform/message_loop.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <vector>

#include "platform/last_error.h"

namespace quill {
namespace internal {

using Clock = std::chrono::steady_clock;
using HandlerPtr = std::shared_ptr<const MessageHandler>;

// One blocking send, living on the sender's stack until it is done or failed.
struct PendingSend {
  EndpointId id = 0;     // target endpoint
  uint32_t msg = 0;      // message number
  uintptr_t wparam = 0;  // first argument
  intptr_t lparam = 0;   // second argument
  intptr_t result = 0;   // the handler's return value once done
  enum class State { kQueued, kRunning, kDone, kFailed } state = State::kQueued;  // progress
  std::condition_variable done_cv;  // signalled on kDone or kFailed
};

struct Posted {
  EndpointId id;     // target endpoint
  uint32_t msg;      // message number
  uintptr_t wparam;  // first argument
  intptr_t lparam;   // second argument
};

struct Timer {
  EndpointId id;       // owning endpoint
  uint32_t timer_id;   // delivered as wparam
  uint32_t interval;   // period in milliseconds
  Clock::time_point due;  // next delivery
};

struct LoopCore {
  explicit LoopCore(std::thread::id ui) : ui_thread(ui) {}

  const std::thread::id ui_thread;
  std::mutex mu;
  std::condition_variable ui_cv;  // the UI thread waits here for work
  // Everything below is guarded by mu.
  std::map<EndpointId, HandlerPtr> endpoints;
  EndpointId next_id = 1;
  std::deque<PendingSend*> sent;
  std::deque<Posted> posted;
  std::vector<Timer> timers;
  bool quitting = false;
  int exit_code = 0;
  MessageLoopHost* host = nullptr;  // set and cleared on the UI thread only

  void WakeHostLocked() {
    if (host) host->Wake();
  }

  // Before a handler runs: a nested toolkit loop inside it must still see
  // the rest of the work.
  void WakeHostForRestLocked() {
    if (host && (!sent.empty() || !posted.empty() || !timers.empty())) host->Wake();
  }

  HandlerPtr FindLocked(EndpointId id) const {
    auto it = endpoints.find(id);
    return it == endpoints.end() ? nullptr : it->second;
  }

  void FailSendsLocked(EndpointId id, bool all) {
    for (auto it = sent.begin(); it != sent.end();) {
      if (all || (*it)->id == id) {
        (*it)->state = PendingSend::State::kFailed;
        (*it)->done_cv.notify_one();
        it = sent.erase(it);
      } else {
        ++it;
      }
    }
  }

  bool Send(EndpointId id, uint32_t msg, uintptr_t wparam, intptr_t lparam, intptr_t* result) {
    std::unique_lock<std::mutex> lock(mu);
    HandlerPtr handler = quitting ? nullptr : FindLocked(id);
    if (!handler) {
      SetLastError(kErrorInvalidHandle);
      return false;
    }
    if (std::this_thread::get_id() == ui_thread) {
      lock.unlock();
      intptr_t r = (*handler)(msg, wparam, lparam);
      if (result) *result = r;
      return true;
    }
    PendingSend ps;
    ps.id = id;
    ps.msg = msg;
    ps.wparam = wparam;
    ps.lparam = lparam;
    sent.push_back(&ps);
    ui_cv.notify_one();
    WakeHostLocked();
    ps.done_cv.wait(lock, [&ps] {
      return ps.state == PendingSend::State::kDone || ps.state == PendingSend::State::kFailed;
    });
    if (ps.state == PendingSend::State::kFailed) {
      SetLastError(kErrorInvalidHandle);
      return false;
    }
    if (result) *result = ps.result;
    return true;
  }

  bool Post(EndpointId id, uint32_t msg, uintptr_t wparam, intptr_t lparam) {
    std::lock_guard<std::mutex> lock(mu);
    if (quitting || !FindLocked(id)) {
      SetLastError(kErrorInvalidHandle);
      return false;
    }
    posted.push_back(Posted{id, msg, wparam, lparam});
    ui_cv.notify_one();
    WakeHostLocked();
    return true;
  }

  // Dispatches one message or due timer. Called and returns with lock held;
  // releases it around the handler. False when nothing was ready.
  bool DispatchOne(std::unique_lock<std::mutex>& lock) {
    if (!sent.empty()) {
      PendingSend* ps = sent.front();
      sent.pop_front();
      HandlerPtr handler = FindLocked(ps->id);  // present: closing fails its sends
      ps->state = PendingSend::State::kRunning;
      WakeHostForRestLocked();
      lock.unlock();
      intptr_t r = (*handler)(ps->msg, ps->wparam, ps->lparam);
      lock.lock();
      ps->result = r;
      ps->state = PendingSend::State::kDone;
      ps->done_cv.notify_one();
      return true;
    }
    if (!posted.empty()) {
      Posted p = posted.front();
      posted.pop_front();
      HandlerPtr handler = FindLocked(p.id);
      if (handler) {
        WakeHostForRestLocked();
        lock.unlock();
        (*handler)(p.msg, p.wparam, p.lparam);
        lock.lock();
      }
      return true;
    }
    Clock::time_point now = Clock::now();
    Timer* first = nullptr;
    for (Timer& t : timers) {
      if (t.due <= now && (!first || t.due < first->due)) first = &t;
    }
    if (!first) return false;
    first->due = now + std::chrono::milliseconds(first->interval);
    EndpointId id = first->id;
    uint32_t timer_id = first->timer_id;
    HandlerPtr handler = FindLocked(id);
    WakeHostForRestLocked();
    lock.unlock();
    (*handler)(kWmTimer, timer_id, 0);
    lock.lock();
    return true;
  }

  // Waits (lock held) until work may be ready or `until` passes.
  void WaitLocked(std::unique_lock<std::mutex>& lock, Clock::time_point until) {
    for (const Timer& t : timers) until = std::min(until, t.due);
    ui_cv.wait_until(lock, until);
  }
};

}  // namespace internal

using internal::Clock;

bool EndpointRef::Send(uint32_t msg, uintptr_t wparam, intptr_t lparam, intptr_t* result) const {
  if (!core_) {
    SetLastError(kErrorInvalidHandle);
    return false;
  }
  return core_->Send(id_, msg, wparam, lparam, result);
}

bool EndpointRef::Post(uint32_t msg, uintptr_t wparam, intptr_t lparam) const {
  if (!core_) {
    SetLastError(kErrorInvalidHandle);
    return false;
  }
  return core_->Post(id_, msg, wparam, lparam);
}

bool EndpointRef::IsAlive() const {
  if (!core_) return false;
  std::lock_guard<std::mutex> lock(core_->mu);
  return !core_->quitting && core_->FindLocked(id_) != nullptr;
}

MessageLoop::MessageLoop()
    : core_(std::make_shared<internal::LoopCore>(std::this_thread::get_id())),
      ui_thread_(std::this_thread::get_id()) {}

MessageLoop::~MessageLoop() {
  Quit(0);
  std::map<EndpointId, internal::HandlerPtr> doomed;  // released after the lock
  std::lock_guard<std::mutex> lock(core_->mu);
  doomed.swap(core_->endpoints);
  core_->timers.clear();
}

EndpointId MessageLoop::CreateEndpoint(MessageHandler handler) {
  std::lock_guard<std::mutex> lock(core_->mu);
  if (core_->quitting) return 0;
  EndpointId id = core_->next_id++;
  core_->endpoints[id] = std::make_shared<const MessageHandler>(std::move(handler));
  return id;
}

void MessageLoop::DestroyEndpoint(EndpointId id) {
  internal::HandlerPtr doomed;  // released after the lock: it may own anything
  std::lock_guard<std::mutex> lock(core_->mu);
  auto it = core_->endpoints.find(id);
  if (it == core_->endpoints.end()) return;
  doomed = std::move(it->second);
  core_->endpoints.erase(it);
  core_->FailSendsLocked(id, false);
  auto& posted = core_->posted;
  posted.erase(std::remove_if(posted.begin(), posted.end(),
                              [id](const internal::Posted& p) { return p.id == id; }),
               posted.end());
  auto& timers = core_->timers;
  timers.erase(std::remove_if(timers.begin(), timers.end(),
                              [id](const internal::Timer& t) { return t.id == id; }),
               timers.end());
}

bool MessageLoop::IsEndpoint(EndpointId id) const { return Ref(id).IsAlive(); }

EndpointRef MessageLoop::Ref(EndpointId id) const { return EndpointRef(core_, id); }

bool MessageLoop::Send(EndpointId id, uint32_t msg, uintptr_t wparam, intptr_t lparam,
                       intptr_t* result) {
  return core_->Send(id, msg, wparam, lparam, result);
}

bool MessageLoop::Post(EndpointId id, uint32_t msg, uintptr_t wparam, intptr_t lparam) {
  return core_->Post(id, msg, wparam, lparam);
}

bool MessageLoop::SetTimer(EndpointId id, uint32_t timer_id, uint32_t interval_ms) {
  std::lock_guard<std::mutex> lock(core_->mu);
  if (!core_->FindLocked(id)) {
    SetLastError(kErrorInvalidHandle);
    return false;
  }
  Clock::time_point due = Clock::now() + std::chrono::milliseconds(interval_ms);
  for (internal::Timer& t : core_->timers) {
    if (t.id == id && t.timer_id == timer_id) {
      t.interval = interval_ms;
      t.due = due;
      core_->WakeHostLocked();
      return true;
    }
  }
  core_->timers.push_back(internal::Timer{id, timer_id, interval_ms, due});
  core_->ui_cv.notify_one();
  core_->WakeHostLocked();
  return true;
}

bool MessageLoop::KillTimer(EndpointId id, uint32_t timer_id) {
  std::lock_guard<std::mutex> lock(core_->mu);
  auto& timers = core_->timers;
  auto it = std::find_if(timers.begin(), timers.end(), [&](const internal::Timer& t) {
    return t.id == id && t.timer_id == timer_id;
  });
  if (it == timers.end()) return false;
  timers.erase(it);
  return true;
}

void MessageLoop::Quit(int exit_code) {
  std::lock_guard<std::mutex> lock(core_->mu);
  if (core_->quitting) return;
  core_->quitting = true;
  core_->exit_code = exit_code;
  core_->FailSendsLocked(0, true);
  core_->posted.clear();
  core_->ui_cv.notify_all();
  core_->WakeHostLocked();
}

bool MessageLoop::IsQuitting() const {
  std::lock_guard<std::mutex> lock(core_->mu);
  return core_->quitting;
}

int MessageLoop::Run() {
  std::unique_lock<std::mutex> lock(core_->mu);
  while (!core_->quitting) {
    if (!core_->DispatchOne(lock)) {
      core_->WaitLocked(lock, Clock::now() + std::chrono::hours(1));
    }
  }
  return core_->exit_code;
}

bool MessageLoop::PumpUntil(const std::function<bool()>& done, uint32_t timeout_ms) {
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  // done() may turn true without a message (another thread's state), so the
  // idle wait is sliced; this pump is for tests and headless runs only.
  const auto slice = std::chrono::milliseconds(5);
  for (;;) {
    if (done()) return true;
    std::unique_lock<std::mutex> lock(core_->mu);
    if (core_->quitting) break;
    if (core_->DispatchOne(lock)) continue;
    Clock::time_point now = Clock::now();
    if (now >= deadline) break;
    core_->WaitLocked(lock, std::min(deadline, now + slice));
  }
  return done();
}

void MessageLoop::SetHost(MessageLoopHost* host) {
  std::lock_guard<std::mutex> lock(core_->mu);
  core_->host = host;
  core_->WakeHostLocked();
}

bool MessageLoop::DispatchReady(uint32_t budget_ms) {
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(budget_ms);
  std::unique_lock<std::mutex> lock(core_->mu);
  while (!core_->quitting && core_->DispatchOne(lock)) {
    if (Clock::now() < deadline) continue;
    // Out of time: the host comes back after its own events if work is left.
    const Clock::time_point now = Clock::now();
    bool more = !core_->sent.empty() || !core_->posted.empty();
    for (const internal::Timer& t : core_->timers) more = more || t.due <= now;
    if (more && !core_->quitting) core_->WakeHostLocked();
    return more && !core_->quitting;
  }
  return false;
}

int64_t MessageLoop::NextTimerDelayMs() const {
  std::lock_guard<std::mutex> lock(core_->mu);
  if (core_->timers.empty()) return -1;
  Clock::time_point first = core_->timers.front().due;
  for (const internal::Timer& t : core_->timers) first = std::min(first, t.due);
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(first - Clock::now()).count();
  return left < 0 ? 0 : left;
}

}  // namespace quill
