// The usage statistics upload: DoStatInfo sends a snapshot of the 24
// statistics values; when the gateway accepts it, the counters lose what
// was uploaded (usage_counters.h). The service starts it once per run,
// after the first sync that succeeded.
//
// One upload at a time. Without a session it waits for a silent login; an
// upload answered -3 is repeated with the same snapshot after a silent
// login, at most kMaxSessionRetries times. Any failure keeps the values
// for the next upload.
//
// Threading: UI thread only.
#ifndef QUILL_FACADE_STAT_INFO_OPERATION_H_
#define QUILL_FACADE_STAT_INFO_OPERATION_H_

#include <cstdint>

#include "commands/stat_job.h"
#include "facade/event_list.h"
#include "facade/job_slot.h"
#include "facade/operation.h"

namespace quill {
namespace facade {

// How an upload ended: ok (accepted), the result, the platform error of a
// failed exchange (with its step), or none of them when it was abandoned.
struct StatInfoOutcome {
  bool ok = false;
  int32_t code = 0;           // result, or platform error when step != 0
  uint32_t step = 0;          // failing step of the exchange; 0 otherwise
  commands::StatValues values{};  // the snapshot uploaded
};

class StatInfoOperation : public Operation, private commands::StatHost {
 public:
  // Silent logins one upload may cause by -3 answers.
  static constexpr int kMaxSessionRetries = 2;

  // core must outlive the unit.
  explicit StatInfoOperation(FacadeCore* core) : Operation(core) {}

  // Uploads the values held now. False when none was started: no open
  // account, an upload in flight, or no login possible.
  bool DoStatInfo();
  bool running() const { return slot_.busy(); }
  // Once per upload.
  EventList<const StatInfoOutcome&>& done() { return done_; }

  void EndSessionWork() override;

 private:
  void SessionExpired(engine::NetJob* job) override;
  void JobGone(uint32_t job_id, int job_type) override;

  // StatHost.
  void StatAnswered(uint32_t job_id, const commands::StatValues& uploaded, int32_t result) override;
  void StatFailed(uint32_t job_id, uint32_t system_error, uint32_t step) override;
  void StatAbandoned(uint32_t job_id) override;

  // Ends the upload held by job_id (see JobSlot::Finish) with its event.
  void End(uint32_t job_id, const StatInfoOutcome& outcome);

  JobSlot slot_{kMaxSessionRetries};
  commands::StatValues uploading_{};  // the running upload's snapshot
  EventList<const StatInfoOutcome&> done_;
};

}  // namespace facade
}  // namespace quill

#endif  // QUILL_FACADE_STAT_INFO_OPERATION_H_
