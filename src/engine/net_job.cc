#include "engine/net_job.h"

#include "engine/trace.h"

namespace quill {
namespace engine {

bool WorkerLink::ShouldContinue() const { return job_->active() && endpoint_.IsAlive(); }

bool WorkerLink::SendError(uint32_t system_error, uint32_t step) {
  return endpoint_.Send(WM_CMD_ERR, system_error, static_cast<intptr_t>(step));
}

bool WorkerLink::SendOwned(uint32_t msg, uintptr_t wparam, std::unique_ptr<JobResult> result) {
  JobResult* raw = result.release();
  if (endpoint_.Send(msg, wparam, reinterpret_cast<intptr_t>(raw))) return true;  // receiver owns it
  delete raw;
  return false;
}

bool WorkerLink::SendData(std::unique_ptr<JobResult> response, uintptr_t wparam) {
  return SendOwned(WM_CMD_DATA_COME, wparam, std::move(response));
}

bool WorkerLink::SendPercent(std::unique_ptr<JobResult> progress) {
  return SendOwned(WM_CMD_DATA_PERCENT, 0, std::move(progress));
}

void NetJob::OnDataCome(uint32_t, int, JobResult*, uint32_t) {}
void NetJob::OnPercent(uint32_t, int, JobResult*, uint32_t) {}
void NetJob::OnError(uint32_t, int, uint32_t, uint32_t, uint32_t) {}

void NetJob::OnThreadMessage(uint32_t msg, uintptr_t wparam, intptr_t lparam) {
  const int type = GetJobType();
  switch (msg) {
    case WM_CMD_ERR: {
      WriteLog(kNetworkLog, "WM_CMD_ERR", static_cast<uint32_t>(type), 0);
      uint32_t step = static_cast<uint32_t>(lparam);
      OnError(job_id_, type, static_cast<uint32_t>(wparam), step, user_data_);
      if (listener_) listener_->OnJobEvent(JobEventKind::kError, static_cast<int32_t>(step), type, this);
      return;
    }
    case WM_CMD_DATA_COME:
    case WM_CMD_DATA_PERCENT: {
      std::unique_ptr<JobResult> result(reinterpret_cast<JobResult*>(lparam));
      bool data = msg == WM_CMD_DATA_COME;
      WriteLog(kNetworkLog, data ? "WM_CMD_DATA_COME (type,userdata)" : "WM_CMD_DATA_PERCENT (type,userdata)",
               static_cast<uint32_t>(type), user_data_);
      if (data) {
        OnDataCome(job_id_, type, result.get(), user_data_);
      } else {
        OnPercent(job_id_, type, result.get(), user_data_);
      }
      int32_t code = result ? result->ResultCode() : 0;
      if (listener_) {
        listener_->OnJobEvent(data ? JobEventKind::kData : JobEventKind::kProgress, code, type, this);
      }
      return;
    }
    default:
      return;
  }
}

}  // namespace engine
}  // namespace quill
