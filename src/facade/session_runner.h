// Starts the facade's jobs with the worker pool, and holds back the jobs
// that need a session until a silent login gives them one.
//
// Held jobs have not been queued (their id is 0). A successful login runs
// them, the most recently held first; a failed one abandons them (each
// fires its operation's result event with ok 0), in the order held. A job
// of an exclusive operation is held together with its JobSlot, which is
// then waiting (job_slot.h).
//
// Every job queued here ends once for the JobEnded event: when the pool
// reports its end, or at once when a cancel freed it before any worker
// took it.
//
// Threading: UI thread only.
#ifndef QUILL_FACADE_SESSION_RUNNER_H_
#define QUILL_FACADE_SESSION_RUNNER_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <vector>

#include "engine/account_state.h"
#include "engine/net_job.h"
#include "engine/worker_pool.h"
#include "facade/event_list.h"
#include "facade/job_slot.h"

namespace quill {
namespace facade {

class SessionRunner {
 public:
  // Starts a silent login (stored account and password); false when none
  // could start.
  using LoginStarter = std::function<bool()>;

  // Everything must outlive the runner.
  SessionRunner(engine::WorkerPool* pool, engine::AccountState* account,
                EventList<>* job_started, EventList<>* job_ended);
  SessionRunner(const SessionRunner&) = delete;
  SessionRunner& operator=(const SessionRunner&) = delete;

  void set_login_starter(LoginStarter start) { login_ = std::move(start); }

  // Queues *job with the pool and returns its id; -1 leaves it in *job.
  int32_t Queue(std::unique_ptr<engine::NetJob>* job);

  // Starts a job that needs the session, for slot (null for an operation
  // without one, which must be none or waiting): queued now (JobStarted
  // fires) or, without a session, held behind a silent login. False when
  // neither was possible; the job is freed and the slot unchanged.
  bool StartSessionJob(std::unique_ptr<engine::NetJob> job, JobSlot* slot);

  // `failed`, the running job of slot, was answered -3: the session key is
  // forgotten and `fresh`, a new job of the same kind, takes its request and
  // waits for a silent login. False, with fresh freed and the slot still
  // running, when the slot's retries are used up. When no login can start,
  // every held job is abandoned (the copy too) and this returns true.
  bool RetryAfterLogin(const engine::NetJob& failed, std::unique_ptr<engine::NetJob> fresh,
                       JobSlot* slot);

  // The login succeeded: the held jobs start with its session.
  void RunHeld();
  // The login failed: the held jobs are abandoned.
  void AbandonHeld();
  // Frees the held job of slot without a report (its operation ended it).
  void DropHeld(const JobSlot* slot);

  // Cancels a queued or running job.
  void Cancel(uint32_t job_id);
  // Cancels every job queued here.
  void CancelAll();
  // The pool reported the end of job_id.
  void JobEnded(uint32_t job_id);

  size_t held_count() const { return held_.size(); }
  // Nothing held, nothing queued or running.
  bool idle() const { return held_.empty() && live_.empty(); }

 private:
  struct Held {
    std::unique_ptr<engine::NetJob> job;  // not yet queued
    JobSlot* slot;                        // its operation's slot; null when none
  };

  engine::WorkerPool* const pool_;
  engine::AccountState* const account_;
  EventList<>* const job_started_;
  EventList<>* const job_ended_;
  LoginStarter login_;
  std::vector<Held> held_;     // in the order held
  std::set<uint32_t> live_;    // queued here, JobEnded not yet fired
};

}  // namespace facade
}  // namespace quill

#endif  // QUILL_FACADE_SESSION_RUNNER_H_
