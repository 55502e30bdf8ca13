#include "facade/mail_image_operation.h"

#include <utility>

#include "engine/trace.h"
#include "facade/facade_core.h"
#include "platform/utf.h"
#include "protocol/message_heads.h"

namespace quill {
namespace facade {

MailImageOperation::MailImageOperation(FacadeCore* core)
    : Operation(core),
      queue_(core->loop(), [this](const ImageRequest& r) { return StartRequest(r); }) {}

bool MailImageOperation::DoMailGetImg(uint32_t mail_id, std::u16string url, uint32_t width,
                                      uint32_t height) {
  store::AccountStore* store = core_->store();
  const uint32_t server_id = store == nullptr ? 0 : store->mails()->GetServerID(mail_id);
  if (server_id == 0 || server_id == store::kLocalServerId || url.empty() ||
      Utf16ToUtf8(url).size() > commands::kMaxImageUrlBytes) {
    return false;
  }
  ImageRequest request;
  request.mail_id = mail_id;
  request.url = std::move(url);
  request.param1 = width;
  request.param2 = height;
  if (!queue_.Request(std::move(request))) return false;
  engine::WriteLog(engine::kNetworkLog, "DoMailGetImg begin", mail_id, 0);
  return true;
}

bool MailImageOperation::StartRequest(const ImageRequest& request) {
  store::AccountStore* store = core_->store();
  const uint32_t server_id = store == nullptr ? 0 : store->mails()->GetServerID(request.mail_id);
  if (server_id == 0 || server_id == store::kLocalServerId || slot_.busy()) return false;
  commands::ImageJobInfo info;
  info.mail_id = request.mail_id;
  info.server_id = server_id;
  info.url = request.url;
  info.width = request.param1;
  info.height = request.param2;
  info.dir = store->mails()->files()->MailDir(request.mail_id);
  commands::MailImageRequest head;
  head.head = core_->SessionHead();
  auto job = std::make_unique<commands::ImageJob>(core_->exchange(), core_->options().fs,
                                                  static_cast<commands::ImageHost*>(this),
                                                  std::move(info), std::move(head));
  job->set_listener(this);
  if (!core_->runner().StartSessionJob(std::move(job), &slot_)) return false;
  running_ = request;
  return true;
}

void MailImageOperation::End(uint32_t job_id, MailImageOutcome outcome) {
  if (!slot_.Finish(job_id)) return;  // a stale or replaced job
  outcome.mail_id = running_.mail_id;
  outcome.url = running_.url;
  done_.Fire(outcome);
  queue_.JobEnded();
}

void MailImageOperation::ImageArrived(uint32_t job_id, const commands::ImageJobInfo&,
                                      const commands::ImageResult& result) {
  if (!slot_.Holds(job_id)) return;  // stale
  if (result.result == protocol::kSessionKeyError) return;  // renewed in SessionExpired
  MailImageOutcome outcome;
  outcome.ok = result.result == 0;
  outcome.code = result.result;
  outcome.path = result.path;
  if (result.result == commands::kImageNotReady) {
    outcome.retry_delay = result.retry_delay;
    outcome.retrying = queue_.RetryLater(running_, static_cast<int32_t>(
                                                       std::min<uint32_t>(result.retry_delay, INT32_MAX)));
  }
  End(job_id, std::move(outcome));
}

void MailImageOperation::ImageFailed(uint32_t job_id, const commands::ImageJobInfo&,
                                     uint32_t system_error, uint32_t step) {
  MailImageOutcome outcome;
  outcome.code = static_cast<int32_t>(system_error);
  outcome.step = step;
  End(job_id, std::move(outcome));
}

void MailImageOperation::ImageAbandoned(uint32_t job_id, const commands::ImageJobInfo&) {
  End(job_id, MailImageOutcome());
}

void MailImageOperation::SessionExpired(engine::NetJob* job) {
  if (!slot_.Holds(job->job_id())) return;
  engine::WriteLog(engine::kNetworkLog, "GetImg svr ret sessionkey err, auth and then will retry", 0, 0);
  auto fresh = std::make_unique<commands::ImageJob>(
      core_->exchange(), core_->options().fs, static_cast<commands::ImageHost*>(this),
      commands::ImageJobInfo(), commands::MailImageRequest());
  if (!core_->runner().RetryAfterLogin(*job, std::move(fresh), &slot_)) {
    MailImageOutcome outcome;
    outcome.code = protocol::kSessionKeyError;
    End(job->job_id(), std::move(outcome));
  }
}

void MailImageOperation::JobGone(uint32_t job_id, int) {
  // An image job that ended without an answer still ends once.
  if (job_id != 0 && slot_.Holds(job_id)) End(job_id, MailImageOutcome());
}

void MailImageOperation::EndSessionWork() {
  queue_.Clear();  // first, so the end below starts nothing
  if (!slot_.busy()) return;
  const uint32_t id = slot_.job_id();
  if (id == 0) core_->runner().DropHeld(&slot_);
  End(id, MailImageOutcome());
  if (id != 0) core_->runner().Cancel(id);
}

}  // namespace facade
}  // namespace quill
