// The slot of one exclusive operation (a login, a sync, a brief fetch, ...):
// at most one job of the operation at a time, either running with the
// worker pool or held back until a silent login gives it a session.
//
// A job held back has not been queued, so its id is still 0; that is how a
// waiting job names itself when it ends (Finish(0)).
//
// States and transitions:
//
//   from      call                 to        notes
//   --------  -------------------  --------  ---------------------------------
//   none      Run(id)              running   a new operation; its retries = 0
//   none      Wait()               waiting   a new operation held for a login;
//                                            its retries = 0
//   waiting   Run(id)              running   the login came; the job is queued
//   running   WaitAgain()          waiting   a -3 answer: a copy of the job
//                                            waits for a silent login; true at
//                                            most max_retries times per
//                                            operation, else false and the
//                                            state stays running
//   running   Finish(its id)       none      true: the caller fires the
//   waiting   Finish(0)            none      operation's one result event
//   any       Finish(another id)   (same)    false: a stale or replaced job;
//                                            nothing is fired
//
// Every other call is a programming error: it is ignored and returns false.
// So an operation fires its result event exactly once, from the one caller
// whose Finish returned true, whatever ends it: its answer, a failure, a
// replacement, a failed login or a session reset.
//
// Threading: UI thread only.
#ifndef QUILL_FACADE_JOB_SLOT_H_
#define QUILL_FACADE_JOB_SLOT_H_

#include <cstdint>

namespace quill {
namespace facade {

class JobSlot {
 public:
  enum class State { kNone, kRunning, kWaiting };

  explicit JobSlot(int max_retries) : max_retries_(max_retries) {}
  JobSlot(const JobSlot&) = delete;
  JobSlot& operator=(const JobSlot&) = delete;

  State state() const { return state_; }
  bool busy() const { return state_ != State::kNone; }
  // The running job's id; 0 unless running.
  uint32_t job_id() const { return state_ == State::kRunning ? job_id_ : 0; }
  // True when job_id is the slot's job: the running one, or 0 while waiting.
  bool Holds(uint32_t job_id) const;

  // none or waiting -> running. False (nothing changes) in any other state
  // or for id 0.
  bool Run(uint32_t job_id);
  // none -> waiting.
  bool Wait();
  // running -> waiting, counted against max_retries.
  bool WaitAgain();
  // running (job_id) or waiting (0) -> none; true exactly once per operation.
  bool Finish(uint32_t job_id);

  int retries() const { return retries_; }

 private:
  const int max_retries_;        // WaitAgain calls allowed per operation
  State state_ = State::kNone;
  uint32_t job_id_ = 0;          // the running job; 0 otherwise
  int retries_ = 0;              // WaitAgain calls of the current operation
};

}  // namespace facade
}  // namespace quill

#endif  // QUILL_FACADE_JOB_SLOT_H_
