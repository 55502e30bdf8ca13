// The sync family: DoSync and the completion of the sync job, page by page
// (the pages go into the store through the sync applier), with the
// new-mail events and the usage times of every sync end.
//
// One sync at a time; none while a login runs. A sync that finds no
// session waits for a silent login; one answered -3 is repeated after a
// silent login, at most kMaxSessionRetries times.
//
// Threading: UI thread only, except StoredSyncKey (any thread).
#ifndef QUILL_FACADE_SYNC_OPERATION_H_
#define QUILL_FACADE_SYNC_OPERATION_H_

#include <atomic>
#include <cstdint>
#include <functional>

#include "commands/sync_job.h"
#include "facade/event_list.h"
#include "facade/job_slot.h"
#include "facade/operation.h"

namespace quill {
namespace facade {

class LoginOperation;

// SyncOutcome::step, besides the exchange's failing steps (engine/trace.h).
enum SyncEndStep : int32_t {
  kSyncStepDone = 0,        // ok
  kSyncStepAbandoned = -1,  // ended before it ran, or by a session reset
  kSyncStepRefused = -2,    // the service answered a result other than 0
  kSyncStepStore = -3,      // a page could not be stored; its key was not kept
};

// How a sync ended: ok, the result or platform error, the failing step
// (SyncEndStep, else the exchange's step), and the reason it was started
// with.
struct SyncOutcome {
  bool ok = false;
  int32_t code = 0;
  int32_t step = kSyncStepDone;
  int32_t reason = 0;
};

class SyncOperation : public Operation, private commands::SyncHost {
 public:
  // Silent logins one sync may cause by -3 answers.
  static constexpr int kMaxSessionRetries = 2;
  // Longest stretch of a sync whose pages are applied without making the
  // store durable.
  static constexpr uint32_t kCommitIntervalMs = 1000;

  // core and login must outlive the unit.
  SyncOperation(FacadeCore* core, const LoginOperation* login);

  // MailService::DoSync.
  bool DoSync(int32_t reason);
  bool running() const { return slot_.busy(); }
  // Called once per run, at the end of the first sync that succeeded,
  // before its times are recorded.
  void set_first_success(std::function<void()> f) { first_success_ = std::move(f); }

  EventList<const SyncOutcome&>& done() { return done_; }
  // Once per sync that added unread mails, with their number.
  EventList<int>& new_mail_arrived() { return new_mail_arrived_; }
  // At the first unread mail a sync adds.
  EventList<>& new_mail_found() { return new_mail_found_; }
  // Each further page a running sync asks for, with the pages so far. (The
  // job started once: JobStarted and JobEnded fire once per sync.)
  EventList<int>& page_asked() { return page_asked_; }

  void EndSessionWork() override;

 private:
  void SessionExpired(engine::NetJob* job) override;
  void JobGone(uint32_t job_id, int job_type) override;

  // SyncHost.
  int32_t StoredSyncKey() const override { return stored_sync_key_.load(); }
  void SyncPageArrived(uint32_t job_id, const commands::SyncResponse& page, bool final_page,
                       int32_t reason) override;
  void SyncFailed(uint32_t job_id, uint32_t system_error, uint32_t step, int32_t reason) override;
  void SyncAbandoned(uint32_t job_id, int32_t reason) override;

  // Ends the sync held by job_id (see JobSlot::Finish): the batch of client
  // commands back to the queue unless the service took it, the new-mail
  // event, SyncDone.
  void End(uint32_t job_id, const SyncOutcome& outcome);
  SyncOutcome Failure(int32_t code, int32_t step) const;

  const LoginOperation* const login_;
  JobSlot slot_{kMaxSessionRetries};
  int32_t reason_ = 0;                       // of the running sync
  int pages_ = 0;                            // pages the running sync received
  int new_mails_ = 0;                        // unread mails it added
  bool batch_open_ = false;                  // its client commands are not yet taken
  uint32_t commit_tick_ = 0;                 // when it last made the store durable
  bool first_sync_done_ = false;             // a sync succeeded in this run
  std::atomic<int32_t> stored_sync_key_{0};  // the store's sync key, for the sync worker
  std::function<void()> first_success_;      // the statistics upload
  EventList<const SyncOutcome&> done_;
  EventList<int> new_mail_arrived_;
  EventList<> new_mail_found_;
  EventList<int> page_asked_;
};

}  // namespace facade
}  // namespace quill

#endif  // QUILL_FACADE_SYNC_OPERATION_H_
