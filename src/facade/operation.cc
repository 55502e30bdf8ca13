#include "facade/operation.h"

#include "facade/facade_core.h"
#include "protocol/message_heads.h"

namespace quill {
namespace facade {

Operation::Operation(FacadeCore* core) : core_(core) { core_->Register(this); }

void Operation::OnJobEvent(engine::JobEventKind kind, int32_t code, int job_type,
                           engine::NetJob* job) {
  core_->usage().Count(job_type, kind, code);
  if (kind == engine::JobEventKind::kData && code == protocol::kSessionKeyError) {
    SessionExpired(job);
  }
}

void Operation::OnJobEnded(uint32_t job_id, int job_type, uint32_t) {
  JobGone(job_id, job_type);
  core_->usage().Flush();
  core_->runner().JobEnded(job_id);
}

}  // namespace facade
}  // namespace quill
