// Base of the mail service's operation units (login, sync, mail fetches,
// dial-up, ...). Each unit starts its jobs through the FacadeCore and is
// their listener: it counts their reports for the usage statistics, renews
// an expired session for them, and sees their end.
//
// A unit of an exclusive operation keeps a JobSlot (job_slot.h) and ends
// the operation with its one result event exactly where the slot's Finish
// returns true.
//
// Threading: UI thread only.
#ifndef QUILL_FACADE_OPERATION_H_
#define QUILL_FACADE_OPERATION_H_

#include <cstdint>

#include "engine/job_listener.h"
#include "engine/net_job.h"

namespace quill {
namespace facade {

class FacadeCore;

class Operation : public engine::JobListener {
 public:
  ~Operation() override = default;
  Operation(const Operation&) = delete;
  Operation& operator=(const Operation&) = delete;

  // The session is gone (reset, or another account signed in; held jobs
  // were abandoned already): what the unit runs ends now with its result
  // event, and its jobs are cancelled so they apply nothing they still
  // deliver. Nothing by default.
  virtual void EndSessionWork() {}

  // JobListener: counts the report, then SessionExpired for a -3 answer.
  void OnJobEvent(engine::JobEventKind kind, int32_t code, int job_type,
                  engine::NetJob* job) override;
  // JobListener: JobGone, then the JobEnded event.
  void OnJobEnded(uint32_t job_id, int job_type, uint32_t user_data) override;

 protected:
  // Registers the unit with core, which must outlive it.
  explicit Operation(FacadeCore* core);

  // A -3 answer reached one of the unit's jobs (after the job's own
  // callbacks). Nothing by default: the job is not retried.
  virtual void SessionExpired(engine::NetJob* job) { (void)job; }
  // One of the unit's jobs ended, after its last report: a slot that still
  // holds it ends the operation (the job ended without a report).
  virtual void JobGone(uint32_t job_id, int job_type) {
    (void)job_id;
    (void)job_type;
  }

  FacadeCore* const core_;
};

}  // namespace facade
}  // namespace quill

#endif  // QUILL_FACADE_OPERATION_H_
