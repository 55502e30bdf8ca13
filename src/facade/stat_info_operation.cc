#include "facade/stat_info_operation.h"

#include <memory>
#include <utility>

#include "engine/trace.h"
#include "facade/facade_core.h"

namespace quill {
namespace facade {

bool StatInfoOperation::DoStatInfo() {
  if (core_->store() == nullptr || slot_.busy()) return false;
  commands::StatRequest request;
  request.head = core_->SessionHead();
  request.values = core_->usage().Snapshot();
  uploading_ = request.values;
  auto job = std::make_unique<commands::StatJob>(
      core_->exchange(), static_cast<commands::StatHost*>(this), std::move(request));
  job->set_listener(this);
  if (!core_->runner().StartSessionJob(std::move(job), &slot_)) return false;
  engine::WriteLog(engine::kNetworkLog, "DoStatInfo begin", 0, 0);
  return true;
}

void StatInfoOperation::StatAnswered(uint32_t job_id, const commands::StatValues& uploaded,
                                     int32_t result) {
  if (!slot_.Holds(job_id)) return;                      // stale
  if (result == protocol::kSessionKeyError) return;      // repeated in SessionExpired
  StatInfoOutcome outcome;
  outcome.code = result;
  outcome.values = uploaded;
  // Settled before the event, so a handler sees what is left to upload.
  outcome.ok = result == 0 && core_->usage().Settle(uploaded);
  End(job_id, outcome);
}

void StatInfoOperation::StatFailed(uint32_t job_id, uint32_t system_error, uint32_t step) {
  StatInfoOutcome outcome;
  outcome.code = static_cast<int32_t>(system_error);
  outcome.step = step;
  outcome.values = uploading_;
  End(job_id, outcome);
}

void StatInfoOperation::StatAbandoned(uint32_t job_id) {
  StatInfoOutcome outcome;
  outcome.values = uploading_;
  End(job_id, outcome);
}

void StatInfoOperation::SessionExpired(engine::NetJob* job) {
  if (!slot_.Holds(job->job_id())) return;
  engine::WriteLog(engine::kNetworkLog,
                   "UploadStatInfo svr ret sessionkey err, auth and then will retry", 0, 0);
  auto fresh = std::make_unique<commands::StatJob>(
      core_->exchange(), static_cast<commands::StatHost*>(this), commands::StatRequest());
  if (!core_->runner().RetryAfterLogin(*job, std::move(fresh), &slot_)) {
    StatInfoOutcome outcome;
    outcome.code = protocol::kSessionKeyError;
    outcome.values = uploading_;
    End(job->job_id(), outcome);
  }
}

void StatInfoOperation::JobGone(uint32_t job_id, int) {
  // An upload that ended without an answer (no connection, the pool going
  // away) still ends once.
  StatInfoOutcome outcome;
  outcome.step = engine::kStepNoConnection;
  outcome.values = uploading_;
  End(job_id, outcome);
}

void StatInfoOperation::EndSessionWork() {
  const uint32_t id = slot_.job_id();
  if (!slot_.busy()) return;
  StatAbandoned(id);
  if (id != 0) core_->runner().Cancel(id);
}

void StatInfoOperation::End(uint32_t job_id, const StatInfoOutcome& outcome) {
  if (!slot_.Finish(job_id)) return;  // ended already, or not this upload's job
  done_.Fire(outcome);
}

}  // namespace facade
}  // namespace quill
