// A waitable event on the standard library, with the two reset behaviours of
// the system's events. Thread safety: every member may be called from any
// thread.
#ifndef QUILL_PLATFORM_EVENT_H_
#define QUILL_PLATFORM_EVENT_H_

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace quill {

class Event {
 public:
  enum class ResetMode {
    kAuto,    // a successful Wait consumes the signal: one waiter passes
    kManual,  // stays set until Reset: every waiter passes
  };

  explicit Event(ResetMode mode, bool initially_set = false);
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;

  void Set();
  void Reset();

  // True when the event was set within timeout_ms. False on time-out and,
  // at once, after Close.
  bool Wait(uint32_t timeout_ms);

  // Every current and later Wait fails at once.
  void Close();

 private:
  const ResetMode mode_;
  std::mutex mu_;
  std::condition_variable cv_;
  bool set_;     // guarded by mu_
  bool closed_;  // guarded by mu_
};

}  // namespace quill

#endif  // QUILL_PLATFORM_EVENT_H_
