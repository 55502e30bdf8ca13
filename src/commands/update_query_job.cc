#include "commands/update_query_job.h"

#include "protocol/codec_status.h"

namespace quill {
namespace commands {

std::unique_ptr<engine::JobResult> UpdateQueryJob::DecodeResponse(
    const protocol::WireMessage& response) {
  auto result = std::make_unique<UpdateQueryResult>();
  if (DecodeUpdateQueryResponse(response, &result->response) != protocol::CodecOk) return nullptr;
  return result;
}

void UpdateQueryJob::OnDataCome(uint32_t job_id, int, engine::JobResult* response, uint32_t) {
  if (auto* decoded = dynamic_cast<UpdateQueryResult*>(response)) {
    host_->UpdateQueryAnswered(job_id, request_.reason, decoded->response);
    return;
  }
  UpdateQueryResponse expired;  // the session-key error is the only other response
  expired.head.result = response != nullptr ? response->ResultCode() : protocol::kSessionKeyError;
  host_->UpdateQueryAnswered(job_id, request_.reason, expired);
}

}  // namespace commands
}  // namespace quill
