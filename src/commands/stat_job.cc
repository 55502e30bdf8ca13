#include "commands/stat_job.h"

#include "engine/trace.h"
#include "protocol/codec_status.h"

namespace quill {
namespace commands {

bool StatJob::CopyRequestTo(engine::NetJob* other) const {
  auto* same = dynamic_cast<StatJob*>(other);
  if (same == nullptr) return false;
  same->request_ = request_;
  return true;
}

void StatJob::RenewSession(const std::string& session_key, uint32_t uin) {
  request_.head.session_key = session_key;
  request_.head.uin = uin;
}

std::unique_ptr<engine::JobResult> StatJob::DecodeResponse(const protocol::WireMessage& response) {
  auto result = std::make_unique<StatResult>();
  if (DecodeStatResponse(response, &result->response) != protocol::CodecOk) return nullptr;
  return result;
}

void StatJob::OnDataCome(uint32_t job_id, int, engine::JobResult* response, uint32_t) {
  // The exchange delivers a decoded StatResult or the session-key error.
  const int32_t result = response != nullptr ? response->ResultCode() : protocol::kSessionKeyError;
  if (result == 0) {
    engine::WriteLog(engine::kNetworkLog, "DoStatInfo end ok", 0, 0);
  } else if (result != protocol::kSessionKeyError) {
    engine::WriteLog(engine::kNetworkLog, "DoStatInfo end err(errcode)", static_cast<uint32_t>(result), 0);
  }
  host_->StatAnswered(job_id, request_.values, result);
}

void StatJob::OnError(uint32_t job_id, int, uint32_t system_error, uint32_t step, uint32_t) {
  engine::WriteLog(engine::kNetworkLog, "DoStatInfo Net err(errcode,step)", system_error, step);
  host_->StatFailed(job_id, system_error, step);
}

}  // namespace commands
}  // namespace quill
