#include "commands/sync_job.h"

#include "engine/trace.h"

namespace quill {
namespace commands {

SyncJob::SyncJob(const engine::ExchangeContext* context, SyncHost* host, SyncRequest request)
    : context_(context), host_(host), request_(std::move(request)) {}

void SyncJob::Run(engine::WorkerLink& link) { RunWith(&link); }

void SyncJob::RunWith(engine::JobReporter* reporter) {
  int32_t key = request_.head.sync_key;
  engine::ExchangeRequest exchange;
  exchange.mode = engine::ExchangeMode::kSync;
  for (requests_sent_ = 1;; ++requests_sent_) {
    // A cancelled sync (its page could not be stored, or the service is
    // going away) asks for nothing more.
    if (!reporter->ShouldContinue()) return;
    // A key that moved under the job (another writer, or a page that was
    // not applied) would apply changes twice or skip some.
    if (key != host_->StoredSyncKey()) {
      reporter->SendError(0, engine::kStepSyncKey);
      return;
    }
    page_key_ = key;
    more_ = false;
    if (engine::RunExchange(*context_, exchange, this, reporter) !=
            engine::ExchangeOutcome::kDelivered ||
        !more_) {
      return;
    }
    key = next_key_;
  }
}

bool SyncJob::EncodeRequest(protocol::WireMessage* message) {
  SyncRequest page = request_;
  page.head.sync_key = page_key_;
  return EncodeSyncRequest(page, message);
}

std::unique_ptr<engine::JobResult> SyncJob::DecodeResponse(const protocol::WireMessage& message) {
  auto result = std::make_unique<SyncPageResult>();
  if (DecodeSyncResponse(message, &result->page) != protocol::CodecOk) return nullptr;
  const SyncResponse& page = result->page;
  // Answered 0, the service has applied the client commands: further
  // pages, and the copy a retry makes, carry none.
  if (page.head.result == 0) request_.commands.clear();
  more_ = page.head.result == 0 && page.more != 0 && page.new_key != page_key_ &&
          requests_sent_ < kMaxSyncRequests;
  next_key_ = page.new_key;
  result->final_page = !more_;
  return result;
}

bool SyncJob::CopyRequestTo(engine::NetJob* other) const {
  auto* sync = dynamic_cast<SyncJob*>(other);
  if (sync == nullptr) return false;
  sync->request_ = request_;
  return true;
}

void SyncJob::RenewSession(const std::string& session_key, uint32_t uin) {
  request_.head.session_key = session_key;
  request_.head.uin = uin;
  request_.head.sync_key = host_->StoredSyncKey();
}

void SyncJob::Abandon() { host_->SyncAbandoned(job_id(), request_.reason); }

void SyncJob::OnDataCome(uint32_t job_id, int, engine::JobResult* response, uint32_t) {
  if (auto* page = dynamic_cast<SyncPageResult*>(response)) {
    host_->SyncPageArrived(job_id, page->page, page->final_page, request_.reason);
    return;
  }
  // The session expired (-3): the only response that is not a page.
  SyncResponse refused;
  refused.head.result = response != nullptr ? response->ResultCode() : protocol::kSessionKeyError;
  host_->SyncPageArrived(job_id, refused, /*final_page=*/true, request_.reason);
}

void SyncJob::OnError(uint32_t job_id, int, uint32_t system_error, uint32_t step, uint32_t) {
  host_->SyncFailed(job_id, system_error, step, request_.reason);
}

}  // namespace commands
}  // namespace quill
