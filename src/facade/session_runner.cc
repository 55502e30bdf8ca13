#include "facade/session_runner.h"

#include <utility>

namespace quill {
namespace facade {

SessionRunner::SessionRunner(engine::WorkerPool* pool, engine::AccountState* account,
                             EventList<>* job_started, EventList<>* job_ended)
    : pool_(pool), account_(account), job_started_(job_started), job_ended_(job_ended) {}

int32_t SessionRunner::Queue(std::unique_ptr<engine::NetJob>* job) {
  const int32_t id = pool_->Submit(job);
  if (id > 0) live_.insert(static_cast<uint32_t>(id));
  return id;
}

bool SessionRunner::StartSessionJob(std::unique_ptr<engine::NetJob> job, JobSlot* slot) {
  if (!account_->session().session_key.empty()) {
    const int32_t id = Queue(&job);
    if (id <= 0) return false;
    if (slot != nullptr) slot->Run(static_cast<uint32_t>(id));
    job_started_->Fire();
    return true;
  }
  if (!login_ || !login_()) return false;
  if (slot != nullptr) slot->Wait();
  held_.push_back(Held{std::move(job), slot});
  return true;
}

bool SessionRunner::RetryAfterLogin(const engine::NetJob& failed,
                                    std::unique_ptr<engine::NetJob> fresh, JobSlot* slot) {
  if (!slot->WaitAgain()) return false;
  account_->SetSession(std::string());
  failed.CopyRequestTo(fresh.get());
  fresh->set_listener(failed.listener());
  held_.push_back(Held{std::move(fresh), slot});
  if (!login_ || !login_()) AbandonHeld();
  return true;
}

void SessionRunner::RunHeld() {
  std::vector<Held> ready;
  ready.swap(held_);
  const engine::SessionSnapshot session = account_->session();
  // The most recently held first.
  for (auto it = ready.rbegin(); it != ready.rend(); ++it) {
    it->job->RenewSession(session.session_key, session.uin);
    const int32_t id = Queue(&it->job);
    if (id <= 0) {
      it->job->Abandon();  // ends its operation, waiting slot included
      continue;
    }
    if (it->slot != nullptr) it->slot->Run(static_cast<uint32_t>(id));
    job_started_->Fire();
  }
}

void SessionRunner::AbandonHeld() {
  std::vector<Held> dropped;
  dropped.swap(held_);
  for (Held& held : dropped) held.job->Abandon();
}

void SessionRunner::DropHeld(const JobSlot* slot) {
  for (auto it = held_.begin(); it != held_.end(); ++it) {
    if (it->slot == slot) {
      held_.erase(it);
      return;
    }
  }
}

void SessionRunner::Cancel(uint32_t job_id) {
  // 0: the job was freed before any worker took it, so the pool reports no
  // end for it; it ends here.
  if (pool_->CancelJob(job_id) == 0 && live_.erase(job_id) != 0) job_ended_->Fire();
}

void SessionRunner::CancelAll() {
  const std::set<uint32_t> live = live_;
  for (uint32_t id : live) Cancel(id);
}

void SessionRunner::JobEnded(uint32_t job_id) {
  if (live_.erase(job_id) != 0) job_ended_->Fire();
}

}  // namespace facade
}  // namespace quill
