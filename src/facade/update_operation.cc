#include "facade/update_operation.h"

#include <memory>
#include <utility>

#include "engine/trace.h"
#include "facade/facade_core.h"

namespace quill {
namespace facade {

bool UpdateOperation::DoGetUpdateInfo(int32_t reason) {
  if (core_->store() == nullptr || !core_->HasSession()) return false;
  commands::UpdateQueryRequest request;
  request.head = core_->SessionHead();
  request.reason = reason;
  std::unique_ptr<engine::NetJob> job = std::make_unique<commands::UpdateQueryJob>(
      core_->exchange(), static_cast<commands::UpdateQueryHost*>(this), std::move(request));
  job->set_listener(this);
  const int32_t id = core_->runner().Queue(&job);
  if (id <= 0) return false;
  queries_[static_cast<uint32_t>(id)] = reason;
  engine::WriteLog(engine::kNetworkLog, "DoGetUpdateInfo begin", static_cast<uint32_t>(reason), 0);
  return true;
}

bool UpdateOperation::DoGetUpdatePack(const std::string& package, uint64_t expected_size,
                                      int32_t pass_through, const std::string& dir) {
  if (!commands::IsPackageName(package)) {
    engine::WriteLog(engine::kNetworkLog, "DoGetUpdatePack bad package name", 0, 0);
    return false;
  }
  if (dir.empty() || core_->store() == nullptr || !core_->HasSession()) return false;
  CancelUpdatePack();
  commands::UpdatePackRequest request;
  request.head = core_->SessionHead();
  request.package = package;
  request.pass_through = pass_through;
  commands::UpdatePackFiles files;
  files.fs = core_->options().fs;
  files.dir = dir;
  files.expected_size = expected_size;
  files.lock = &package_files_;
  std::unique_ptr<engine::NetJob> job = std::make_unique<commands::UpdatePackJob>(
      core_->exchange(), static_cast<commands::UpdatePackHost*>(this), std::move(request),
      std::move(files));
  job->set_listener(this);
  const int32_t id = core_->runner().Queue(&job);
  if (id <= 0) return false;
  slot_.Run(static_cast<uint32_t>(id));
  package_ = package;
  engine::WriteLog(engine::kNetworkLog, "DoGetUpdatePack begin", 0, 0);
  core_->job_started().Fire();
  return true;
}

void UpdateOperation::CancelUpdatePack() {
  const uint32_t id = slot_.job_id();
  if (!slot_.busy()) return;
  // The bytes held stay for the next request of the same package.
  EndPack(id, UpdatePackOutcome());
  core_->runner().Cancel(id);
}

void UpdateOperation::EndSessionWork() {
  CancelUpdatePack();
  const std::map<uint32_t, int32_t> running = queries_;
  for (const auto& query : running) {
    UpdateInfoOutcome outcome;
    outcome.reason = query.second;
    EndQuery(query.first, outcome);
    core_->runner().Cancel(query.first);
  }
}

void UpdateOperation::UpdateQueryAnswered(uint32_t job_id, int32_t reason,
                                          const commands::UpdateQueryResponse& answer) {
  UpdateInfoOutcome outcome;
  outcome.code = answer.head.result;
  outcome.reason = reason;
  if (answer.head.result == 0) {
    outcome.ok = true;
    outcome.update_value = answer.update_value;
    outcome.offered_version = answer.offered_version;
    outcome.version_text = answer.version_text;
    outcome.text = answer.offer_text;
    outcome.offer = answer.offer;
  }
  EndQuery(job_id, std::move(outcome));
}

void UpdateOperation::UpdateQueryFailed(uint32_t job_id, int32_t reason, uint32_t system_error,
                                        uint32_t step) {
  UpdateInfoOutcome outcome;
  outcome.code = static_cast<int32_t>(system_error);
  outcome.step = step;
  outcome.reason = reason;
  EndQuery(job_id, std::move(outcome));
}

void UpdateOperation::EndQuery(uint32_t job_id, UpdateInfoOutcome outcome) {
  auto it = queries_.find(job_id);
  if (it == queries_.end()) return;  // ended already
  queries_.erase(it);
  info_done_.Fire(outcome);
}

void UpdateOperation::UpdatePackProgress(uint32_t job_id, const commands::UpdatePackStatus& status) {
  if (!slot_.Holds(job_id)) return;  // a replaced download still reporting
  UpdatePackOutcome outcome;
  outcome.ok = true;
  outcome.package = status.package;
  outcome.path = status.path;
  outcome.held = status.held;
  outcome.total = status.total;
  pack_done_.Fire(outcome);
}

void UpdateOperation::UpdatePackEnded(uint32_t job_id, const commands::UpdatePackStatus& status) {
  UpdatePackOutcome outcome;
  outcome.ok = status.code == 0;
  outcome.code = status.code;
  outcome.package = status.package;
  outcome.path = status.path;
  outcome.held = status.held;
  outcome.total = status.total;
  if (outcome.ok) {
    engine::WriteLog(engine::kNetworkLog, "DoGetUpdatePack end ok", 0, 0);
  } else {
    engine::WriteLog(engine::kNetworkLog, "DoGetUpdatePack end err(errcode)",
                     static_cast<uint32_t>(status.code), 0);
  }
  EndPack(job_id, std::move(outcome));
}

void UpdateOperation::UpdatePackFailed(uint32_t job_id, uint32_t system_error, uint32_t step) {
  engine::WriteLog(engine::kNetworkLog, "DoGetUpdatePack Net err(errcode,step)", system_error, step);
  UpdatePackOutcome outcome;
  outcome.code = static_cast<int32_t>(system_error);
  outcome.step = step;
  EndPack(job_id, std::move(outcome));
}

void UpdateOperation::JobGone(uint32_t job_id, int job_type) {
  // A job that ended without its answer (no connection, the pool going
  // away) still ends once.
  if (job_type == engine::kJobQueryUpdate) {
    UpdateInfoOutcome outcome;
    outcome.step = engine::kStepNoConnection;
    auto it = queries_.find(job_id);
    if (it != queries_.end()) outcome.reason = it->second;
    EndQuery(job_id, std::move(outcome));
  } else {
    UpdatePackOutcome outcome;
    outcome.step = engine::kStepNoConnection;
    EndPack(job_id, std::move(outcome));
  }
}

void UpdateOperation::EndPack(uint32_t job_id, UpdatePackOutcome outcome) {
  if (!slot_.Finish(job_id)) return;  // ended already, or not this download's job
  outcome.finished = true;
  if (outcome.package.empty()) outcome.package = package_;
  pack_done_.Fire(outcome);
}

}  // namespace facade
}  // namespace quill
