#include "commands/long_mail_job.h"

#include "engine/trace.h"
#include "protocol/codec_status.h"

namespace quill {
namespace commands {
namespace {

// A decoded answer as the worker receives it.
class LongMailAnswer : public engine::JobResult {
 public:
  int32_t ResultCode() const override { return response.head.result; }
  LongMailResponse response;
};

// The delivery's step for a failed exchange step.
uint32_t DeliveryStep(uint32_t exchange_step) {
  switch (exchange_step) {
    case engine::kStepInternetOpen:
    case engine::kStepConnect:
    case engine::kStepOpenRequest: return kLongStepOpenRequest;
    case engine::kStepSend: return kLongStepSend;
    case engine::kStepReadBody: return kLongStepRead;
    default: return kLongStepDecode;
  }
}

bool IsTransportStep(uint32_t step) {
  return step == kLongStepNoConnection || step == kLongStepOpenRequest || step == kLongStepSend ||
         step == kLongStepRead || step == kLongStepDecode;
}

}  // namespace

int32_t LongMailResult::ResultCode() const {
  if (outcome.ok) return 0;
  if (outcome.step == kLongStepResult && outcome.code == protocol::kSessionKeyError) {
    return protocol::kSessionKeyError;
  }
  return -static_cast<int32_t>(outcome.step);
}

LongMailJob::LongMailJob(const engine::ExchangeContext* context, FileSystem* fs,
                         LongMailHost* host, LongMailDraft draft)
    : context_(context), fs_(fs), host_(host), draft_(std::move(draft)) {}

void LongMailJob::RunWith(engine::JobReporter* reporter) {
  auto report = [this, reporter](const LongMailProgress& p, bool* key_saved) {
    auto message = std::make_unique<LongMailProgressReport>();
    message->progress = p;
    key_saved_ = false;
    if (!reporter->ShouldContinue() || !reporter->SendPercent(std::move(message))) return false;
    *key_saved = key_saved_.exchange(false);
    return true;
  };
  LongMailConversation conversation(draft_, fs_, report);
  running_ = &conversation;
  int retries = 0;
  LongMailConversation::Next next = conversation.Start();
  while (next == LongMailConversation::Next::kSend) {
    if (!reporter->ShouldContinue()) break;
    engine::ExchangeAttempt attempt =
        engine::ExchangeOnce(*context_, engine::ExchangeRequest(), this, reporter);
    // A cancelled job reports nothing (below): nobody waits for it.
    if (attempt.outcome == engine::ExchangeOutcome::kCancelled) break;
    if (attempt.outcome == engine::ExchangeOutcome::kNoConnection) {
      next = conversation.Fail(kLongStepNoConnection, 0);
      break;
    }
    if (attempt.outcome == engine::ExchangeOutcome::kFailed) {
      const uint32_t step = DeliveryStep(attempt.step);
      // An answer that does not decode came from a gateway that acted.
      if (step == kLongStepDecode || retries == kLongMailRetries) {
        next = conversation.Fail(step, static_cast<int32_t>(attempt.error));
        break;
      }
      ++retries;
      engine::WriteLog(engine::kNetworkLog, "LongMail retry (step,retry)", step,
                       static_cast<uint32_t>(retries));
      // A request the gateway never got whole goes again as it is.
      if (attempt.request_delivered) {
        next = conversation.AnswerLost(step, attempt.error);
      } else {
        conversation.Resending();
      }
      continue;
    }
    auto* answer = dynamic_cast<LongMailAnswer*>(attempt.result.get());
    if (answer == nullptr) {
      // The session expired: the service retries with a copy of the job.
      next = conversation.Fail(kLongStepResult, protocol::kSessionKeyError);
      break;
    }
    next = conversation.Handle(answer->response);
  }
  running_ = nullptr;
  if (!reporter->ShouldContinue()) return;
  Finish(reporter, conversation, next);
}

void LongMailJob::Finish(engine::JobReporter* reporter, const LongMailConversation& conversation,
                         LongMailConversation::Next next) {
  if (next == LongMailConversation::Next::kFailed && IsTransportStep(conversation.step())) {
    reporter->SendError(static_cast<uint32_t>(conversation.code()), conversation.step());
    return;
  }
  auto result = std::make_unique<LongMailResult>();
  LongMailOutcome& o = result->outcome;
  result->key = conversation.key();
  if (next == LongMailConversation::Next::kDelivered) {
    o.ok = true;
    o.mail_id = draft_.mail_id;
    o.server_id = conversation.server_id();
    o.second_value = conversation.second_value();
  } else {
    o.step = conversation.step();
    o.code = conversation.code();
    o.text = LongMailErrorText(o.code);
  }
  reporter->SendData(std::move(result));
}

bool LongMailJob::EncodeRequest(protocol::WireMessage* request) {
  return running_ != nullptr && EncodeLongMailRequest(running_->request(), request);
}

std::unique_ptr<engine::JobResult> LongMailJob::DecodeResponse(const protocol::WireMessage& m) {
  auto answer = std::make_unique<LongMailAnswer>();
  if (DecodeLongMailResponse(m, &answer->response) != protocol::CodecOk) return nullptr;
  return answer;
}

bool LongMailJob::CopyRequestTo(engine::NetJob* other) const {
  auto* copy = dynamic_cast<LongMailJob*>(other);
  if (copy == nullptr) return false;
  copy->draft_ = draft_;
  return true;
}

void LongMailJob::RenewSession(const std::string& session_key, uint32_t uin) {
  draft_.head.session_key = session_key;
  draft_.head.uin = uin;
}

void LongMailJob::Abandon() { host_->LongMailAbandoned(job_id(), draft_.mail_id); }

void LongMailJob::OnPercent(uint32_t job_id, int, engine::JobResult* progress, uint32_t) {
  auto* report = dynamic_cast<LongMailProgressReport*>(progress);
  if (report == nullptr) return;
  const LongMailProgress& p = report->progress;
  if (!p.key_to_save.empty()) {
    draft_.key = p.key_to_save;
    key_saved_ = host_->SaveLongMailKey(draft_.mail_id, p.key_to_save);
  }
  host_->LongMailProgressed(job_id, p);
}

void LongMailJob::OnDataCome(uint32_t job_id, int, engine::JobResult* response, uint32_t) {
  auto* result = dynamic_cast<LongMailResult*>(response);
  if (result == nullptr) return;
  if (!result->key.empty()) draft_.key = result->key;
  host_->LongMailEnded(job_id, draft_.mail_id, result->outcome);
}

void LongMailJob::OnError(uint32_t job_id, int, uint32_t system_error, uint32_t step, uint32_t) {
  LongMailOutcome o;
  o.step = step;
  o.code = static_cast<int32_t>(system_error);
  o.text = LongMailErrorText(o.code);
  host_->LongMailEnded(job_id, draft_.mail_id, o);
}

}  // namespace commands
}  // namespace quill
