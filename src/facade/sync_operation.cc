#include "facade/sync_operation.h"

#include <memory>
#include <utility>
#include <vector>

#include "engine/trace.h"
#include "facade/facade_core.h"
#include "facade/login_operation.h"
#include "facade/sync_applier.h"
#include "platform/clock.h"

namespace quill {
namespace facade {

SyncOperation::SyncOperation(FacadeCore* core, const LoginOperation* login)
    : Operation(core), login_(login) {}

bool SyncOperation::DoSync(int32_t reason) {
  store::AccountStore* store = core_->store();
  if (store == nullptr) return false;
  if (login_->running()) {
    engine::WriteLog(engine::kNetworkLog, "DoSync Is authing return false", 0, 0);
    return false;
  }
  if (slot_.busy()) {
    engine::WriteLog(engine::kNetworkLog, "DoSync Is syncing return false", 0, 0);
    return false;
  }
  commands::SyncRequest request;
  request.head = core_->SessionHead();
  stored_sync_key_ = request.head.sync_key;
  request.reason = reason;
  request.auto_delete_seconds =
      static_cast<uint32_t>(core_->settings().Get(store::global_keys::kAutoDeleteSpan)) * 86400u;
  request.excluded_folders = store->folders()->excluded();
  std::vector<store::Command> batch;
  batch_open_ = store->commands()->TakeBatch(&batch);
  if (batch_open_) {
    for (const store::Command& queued : batch) {
      commands::SyncCommand c;
      c.id = queued.server_id;
      if (queued.type == store::kCommandDelete) {
        c.type = commands::kRbcmdDelMail;
      } else {
        c.type = commands::kRbcmdUpdateMail;
        c.mask = 1;
        c.flags = static_cast<int32_t>(queued.value);
      }
      request.commands.push_back(c);
    }
  }
  reason_ = reason;
  commit_tick_ = GetTickCount();
  pages_ = 0;
  new_mails_ = 0;
  auto job = std::make_unique<commands::SyncJob>(
      core_->exchange(), static_cast<commands::SyncHost*>(this), std::move(request));
  job->set_listener(this);
  if (!core_->runner().StartSessionJob(std::move(job), &slot_)) {
    store->commands()->FinishBatch(false);
    return false;
  }
  engine::WriteLog(engine::kNetworkLog, "DoSync begin", static_cast<uint32_t>(reason), 0);
  return true;
}

SyncOutcome SyncOperation::Failure(int32_t code, int32_t step) const {
  SyncOutcome outcome;
  outcome.code = code;
  outcome.step = step;
  outcome.reason = reason_;
  return outcome;
}

void SyncOperation::SyncPageArrived(uint32_t job_id, const commands::SyncResponse& page,
                                    bool final_page, int32_t) {
  store::AccountStore* store = core_->store();
  if (!slot_.Holds(job_id) || store == nullptr) return;  // a stale job
  // An expired session is renewed in SessionExpired, right after this call.
  if (page.head.result == protocol::kSessionKeyError) return;
  if (page.head.result != 0) {
    End(job_id, Failure(page.head.result, kSyncStepRefused));
    return;
  }
  // The service applied the client commands when it answered 0: they are
  // never sent again, whatever happens to this page or a later one.
  if (batch_open_) {
    batch_open_ = false;
    store->commands()->FinishBatch(true);
  }
  SyncPageStats stats;
  // The store is made durable with the key at the last page and about once
  // a second before it: a crash costs at most that much work again.
  const uint32_t now = GetTickCount();
  const bool durable = final_page || now - commit_tick_ >= kCommitIntervalMs;
  if (durable) commit_tick_ = now;
  if (!ApplySyncPage(store, page, durable, &stats)) {
    // The key stays: the next sync asks for this page again. The job is
    // stopped before it asks for another.
    engine::WriteLog(engine::kMailLog, "sync page not stored (key)", static_cast<uint32_t>(page.new_key), 0);
    End(job_id, Failure(0, kSyncStepStore));
    core_->runner().Cancel(job_id);
    return;
  }
  stored_sync_key_ = page.new_key;
  ++pages_;
  const bool first_new = new_mails_ == 0 && stats.unread_added > 0;
  new_mails_ += stats.unread_added;
  if (first_new) new_mail_found_.Fire();
  if (!final_page) {
    page_asked_.Fire(pages_);  // the worker asks for the next page
    return;
  }
  SyncOutcome outcome = Failure(0, kSyncStepDone);
  outcome.ok = true;
  End(job_id, outcome);
}

void SyncOperation::SyncFailed(uint32_t job_id, uint32_t system_error, uint32_t step, int32_t) {
  End(job_id, Failure(static_cast<int32_t>(system_error), static_cast<int32_t>(step)));
}

void SyncOperation::SyncAbandoned(uint32_t job_id, int32_t) {
  End(job_id, Failure(0, kSyncStepAbandoned));
}

void SyncOperation::SessionExpired(engine::NetJob* job) {
  if (!slot_.Holds(job->job_id())) return;
  engine::WriteLog(engine::kNetworkLog, "DoSync svr ret sessionkey err, auth and then will retry", 0, 0);
  auto fresh = std::make_unique<commands::SyncJob>(
      core_->exchange(), static_cast<commands::SyncHost*>(this), commands::SyncRequest());
  if (!core_->runner().RetryAfterLogin(*job, std::move(fresh), &slot_)) {
    End(job->job_id(), Failure(protocol::kSessionKeyError, kSyncStepRefused));
  }
}

void SyncOperation::JobGone(uint32_t job_id, int) {
  // A sync that ended without its last page (no connection, the pool going
  // away) still ends once.
  End(job_id, Failure(0, static_cast<int32_t>(engine::kStepNoConnection)));
}

void SyncOperation::EndSessionWork() {
  const uint32_t id = slot_.job_id();
  if (!slot_.busy()) return;
  End(id, Failure(0, kSyncStepAbandoned));
  if (id != 0) core_->runner().Cancel(id);
}

void SyncOperation::End(uint32_t job_id, const SyncOutcome& outcome) {
  if (!slot_.Finish(job_id)) return;  // ended already, or not this sync's job
  if (store::AccountStore* store = core_->store()) {
    store->CommitSyncKey();
    // Not taken by the service: back in front of the queue for the next sync.
    if (batch_open_) store->commands()->FinishBatch(false);
  }
  batch_open_ = false;
  // Once a sync succeeded in this run, every sync end is recorded.
  if (outcome.ok && !first_sync_done_) {
    first_sync_done_ = true;
    if (first_success_) first_success_();
  }
  if (first_sync_done_) core_->usage().RecordSyncTimes(core_->run_start_seconds(), NowSeconds());
  const int new_mails = new_mails_;
  new_mails_ = 0;
  if (outcome.ok && new_mails > 0) new_mail_arrived_.Fire(new_mails);
  done_.Fire(outcome);
}

}  // namespace facade
}  // namespace quill
