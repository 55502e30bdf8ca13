// The mail fetch family: a mail's brief (head and the beginning of its
// body) and the rest of its body, each an exclusive operation of its own
// (a new request of a kind replaces the running one), stored through the
// fetch applier.
//
// A fetch that finds no session waits for a silent login; one answered -3
// is repeated after a silent login, at most kMaxSessionRetries times. An
// answer whose sync-needed flag is set starts a sync.
//
// Threading: UI thread only.
#ifndef QUILL_FACADE_MAIL_FETCH_OPERATION_H_
#define QUILL_FACADE_MAIL_FETCH_OPERATION_H_

#include <cstdint>
#include <memory>

#include "commands/mail_fetch_job.h"
#include "facade/event_list.h"
#include "facade/job_slot.h"
#include "facade/operation.h"

namespace quill {
namespace facade {

class SyncOperation;

// How a brief or body fetch ended: ok, the result (or platform error) and
// the mail.
struct FetchOutcome {
  bool ok = false;
  int32_t code = 0;
  uint32_t mail_id = 0;
};

class MailFetchOperation : public Operation, private commands::MailFetchHost {
 public:
  // Silent logins one fetch may cause by -3 answers.
  static constexpr int kMaxSessionRetries = 2;

  // core and sync must outlive the unit.
  MailFetchOperation(FacadeCore* core, SyncOperation* sync);

  // MailService::DoGetMailBrief / DoGetMailBody.
  bool DoGetMailBrief(uint32_t mail_id);
  bool DoGetMailBody(uint32_t mail_id, int32_t offset, int32_t version);

  EventList<const FetchOutcome&>& brief_done() { return brief_.done; }
  EventList<const FetchOutcome&>& body_done() { return body_.done; }

  void EndSessionWork() override;

 private:
  // One exclusive fetch operation.
  struct Kind {
    explicit Kind(int type) : job_type(type) {}
    const int job_type;                    // engine::kJobMailBrief or kJobMailBody
    JobSlot slot{kMaxSessionRetries};
    uint32_t mail_id = 0;                  // the mail the running fetch is for
    EventList<const FetchOutcome&> done;   // BriefDone or BodyDone
  };

  void SessionExpired(engine::NetJob* job) override;
  void JobGone(uint32_t job_id, int job_type) override;

  // MailFetchHost.
  void BriefArrived(uint32_t job_id, uint32_t mail_id, const commands::BriefResponse& brief) override;
  void BodyArrived(uint32_t job_id, uint32_t mail_id, int32_t asked_offset,
                   const commands::BodyResponse& body) override;
  void FetchFailed(uint32_t job_id, int job_type, uint32_t mail_id, uint32_t system_error,
                   uint32_t step) override;
  void FetchAbandoned(uint32_t job_id, int job_type, uint32_t mail_id) override;

  Kind* KindOf(int job_type);
  // The ServerID of a mail the service holds; 0 (refusal logged) for an
  // unknown or local mail, or no open store.
  uint32_t ServerIdToFetch(uint32_t mail_id, const char* refusal);
  // Starts the fetch of `kind` with job, replacing the running one.
  bool Start(Kind* kind, uint32_t mail_id, std::unique_ptr<engine::NetJob> job);
  // Ends the fetch held by job_id (see JobSlot::Finish) with its one event.
  void End(Kind* kind, uint32_t job_id, FetchOutcome outcome);
  // The running fetch of a kind ends now as abandoned; its job is cancelled,
  // or dropped while it waits for a login.
  void Replace(Kind* kind);

  SyncOperation* const sync_;
  Kind brief_{engine::kJobMailBrief};
  Kind body_{engine::kJobMailBody};
};

}  // namespace facade
}  // namespace quill

#endif  // QUILL_FACADE_MAIL_FETCH_OPERATION_H_
