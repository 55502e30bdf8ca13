#include "facade/mail_fetch_operation.h"

#include <utility>

#include "engine/trace.h"
#include "facade/facade_core.h"
#include "facade/mail_fetch_store.h"
#include "facade/sync_operation.h"

namespace quill {
namespace facade {

MailFetchOperation::MailFetchOperation(FacadeCore* core, SyncOperation* sync)
    : Operation(core), sync_(sync) {}

MailFetchOperation::Kind* MailFetchOperation::KindOf(int job_type) {
  if (job_type == engine::kJobMailBrief) return &brief_;
  if (job_type == engine::kJobMailBody) return &body_;
  return nullptr;
}

uint32_t MailFetchOperation::ServerIdToFetch(uint32_t mail_id, const char* refusal) {
  store::AccountStore* store = core_->store();
  const uint32_t server_id = store == nullptr ? 0 : store->mails()->GetServerID(mail_id);
  if (server_id == 0 || server_id == store::kLocalServerId) {
    engine::WriteLog(engine::kNetworkLog, refusal, mail_id, 0);
    return 0;
  }
  return server_id;
}

bool MailFetchOperation::DoGetMailBrief(uint32_t mail_id) {
  const uint32_t server_id = ServerIdToFetch(mail_id, "DoGetMailBrief Get ServerID Failed (MAILID)");
  if (server_id == 0) return false;
  commands::BriefRequest request;
  request.head = core_->SessionHead();
  request.server_id = server_id;
  if (!Start(&brief_, mail_id,
             std::make_unique<commands::BriefJob>(core_->exchange(),
                                                  static_cast<commands::MailFetchHost*>(this),
                                                  mail_id, std::move(request)))) {
    return false;
  }
  engine::WriteLog(engine::kNetworkLog, "DoGetMailBrief begin", mail_id, 0);
  return true;
}

bool MailFetchOperation::DoGetMailBody(uint32_t mail_id, int32_t offset, int32_t version) {
  if (offset < 0) return false;
  const uint32_t server_id = ServerIdToFetch(mail_id, "DoGetMailBody Get ServerID Failed (MAILID)");
  if (server_id == 0) return false;
  commands::BodyRequest request;
  request.head = core_->SessionHead();
  request.server_id = server_id;
  request.offset = offset;
  request.version = version;
  if (!Start(&body_, mail_id,
             std::make_unique<commands::BodyJob>(core_->exchange(),
                                                 static_cast<commands::MailFetchHost*>(this),
                                                 mail_id, std::move(request)))) {
    return false;
  }
  engine::WriteLog(engine::kNetworkLog, "DoGetMailBody begin", mail_id, 0);
  return true;
}

bool MailFetchOperation::Start(Kind* kind, uint32_t mail_id, std::unique_ptr<engine::NetJob> job) {
  Replace(kind);
  kind->mail_id = mail_id;
  job->set_listener(this);
  return core_->runner().StartSessionJob(std::move(job), &kind->slot);
}

void MailFetchOperation::Replace(Kind* kind) {
  const uint32_t id = kind->slot.job_id();
  if (!kind->slot.busy()) return;
  End(kind, id, FetchOutcome{false, 0, 0});
  if (id != 0) {
    core_->runner().Cancel(id);
  } else {
    core_->runner().DropHeld(&kind->slot);
  }
}

void MailFetchOperation::EndSessionWork() {
  Replace(&brief_);
  Replace(&body_);
}

void MailFetchOperation::End(Kind* kind, uint32_t job_id, FetchOutcome outcome) {
  if (!kind->slot.Finish(job_id)) return;  // not the slot's job
  if (outcome.mail_id == 0) outcome.mail_id = kind->mail_id;
  kind->done.Fire(outcome);
}

void MailFetchOperation::BriefArrived(uint32_t job_id, uint32_t mail_id,
                                      const commands::BriefResponse& brief) {
  store::AccountStore* store = core_->store();
  if (!brief_.slot.Holds(job_id) || store == nullptr) return;  // stale
  if (brief.head.result == protocol::kSessionKeyError) return;  // renewed in SessionExpired
  FetchOutcome outcome{false, brief.head.result, mail_id};
  if (brief.head.result == 0) {
    // The answer names its mail; one deleted meanwhile takes nothing.
    const uint32_t named = store->mails()->FindByServerID(brief.server_id);
    if (named != 0) outcome.mail_id = named;
    outcome.ok = named != 0 && StoreBrief(store, named, brief);
    engine::WriteLog(engine::kNetworkLog, "DoGetMailBrief end ok (ServerID, MailID)", brief.server_id,
                     named);
    if (brief.sync_needed != 0) sync_->DoSync(commands::kSyncAskedByService);
  } else {
    engine::WriteLog(engine::kNetworkLog, "DoGetMailBrief end err(errcode)",
                     static_cast<uint32_t>(brief.head.result), 0);
  }
  End(&brief_, job_id, outcome);
}

void MailFetchOperation::BodyArrived(uint32_t job_id, uint32_t mail_id, int32_t asked_offset,
                                     const commands::BodyResponse& body) {
  store::AccountStore* store = core_->store();
  if (!body_.slot.Holds(job_id) || store == nullptr) return;  // stale
  if (body.head.result == protocol::kSessionKeyError) return;  // renewed in SessionExpired
  FetchOutcome outcome{false, body.head.result, mail_id};
  if (body.head.result == 0 || body.head.result == commands::kBodyVersionChanged) {
    // The answer names its mail; a slice is stored only into the mail it
    // was asked for, where the offset means something.
    const uint32_t named = store->mails()->FindByServerID(body.server_id);
    engine::WriteLog(engine::kNetworkLog, "DoGetMailBody end ok(svrid,Mailid)", body.server_id, named);
    outcome.ok = named == mail_id && StoreBodySlice(store, mail_id, asked_offset, body);
    if (body.sync_needed != 0) sync_->DoSync(commands::kSyncAskedByService);
  }
  End(&body_, job_id, outcome);
}

void MailFetchOperation::FetchFailed(uint32_t job_id, int job_type, uint32_t mail_id,
                                     uint32_t system_error, uint32_t) {
  if (Kind* kind = KindOf(job_type)) {
    End(kind, job_id, FetchOutcome{false, static_cast<int32_t>(system_error), mail_id});
  }
}

void MailFetchOperation::FetchAbandoned(uint32_t job_id, int job_type, uint32_t mail_id) {
  if (Kind* kind = KindOf(job_type)) End(kind, job_id, FetchOutcome{false, 0, mail_id});
}

void MailFetchOperation::SessionExpired(engine::NetJob* job) {
  Kind* kind = KindOf(job->GetJobType());
  if (kind == nullptr || !kind->slot.Holds(job->job_id())) return;
  std::unique_ptr<engine::NetJob> fresh;
  if (kind == &brief_) {
    engine::WriteLog(engine::kNetworkLog, "GetMailBrief svr ret sessionkey err, auth and then will retry", 0, 0);
    fresh = std::make_unique<commands::BriefJob>(
        core_->exchange(), static_cast<commands::MailFetchHost*>(this), 0, commands::BriefRequest());
  } else {
    engine::WriteLog(engine::kNetworkLog, "MailBody svr ret sessionkey err, auth and then will retry", 0, 0);
    fresh = std::make_unique<commands::BodyJob>(
        core_->exchange(), static_cast<commands::MailFetchHost*>(this), 0, commands::BodyRequest());
  }
  if (!core_->runner().RetryAfterLogin(*job, std::move(fresh), &kind->slot)) {
    End(kind, job->job_id(), FetchOutcome{false, protocol::kSessionKeyError, 0});
  }
}

void MailFetchOperation::JobGone(uint32_t job_id, int job_type) {
  // A fetch that ended without an answer (no connection, the pool going
  // away) still ends once.
  if (Kind* kind = KindOf(job_type)) End(kind, job_id, FetchOutcome{false, 0, 0});
}

}  // namespace facade
}  // namespace quill
