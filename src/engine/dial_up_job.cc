#include "engine/dial_up_job.h"

#include <memory>

#include "engine/job_result.h"

namespace quill {
namespace engine {
namespace {

// The dialled type as a result; its code is 0, as dialling has no service
// answer.
struct DialUpResult : JobResult {
  explicit DialUpResult(NetworkType t) : type(t) {}
  int32_t ResultCode() const override { return 0; }
  NetworkType type;
};

}  // namespace

void DialUpJob::Run(WorkerLink& link) {
  link.SendData(std::make_unique<DialUpResult>(connections_->DialUp(destination_)), kJobDialUp);
}

void DialUpJob::OnDataCome(uint32_t, int, JobResult* response, uint32_t) {
  auto* result = dynamic_cast<DialUpResult*>(response);
  done_(result != nullptr ? result->type : kNetNone);
}

}  // namespace engine
}  // namespace quill
