// What a job reports to the one who started it (the mail service facade).
// Every call is made on the UI thread.
#ifndef QUILL_ENGINE_JOB_LISTENER_H_
#define QUILL_ENGINE_JOB_LISTENER_H_

#include <cstdint>

namespace quill {
namespace engine {

class NetJob;

enum class JobEventKind { kData = 0, kError = 1, kProgress = 2 };

class JobListener {
 public:
  virtual ~JobListener() = default;

  // After the job's own OnDataCome / OnError / OnPercent. code is the
  // response's result code (kData, kProgress; 0 without one) or the failing
  // step (kError).
  virtual void OnJobEvent(JobEventKind kind, int32_t code, int job_type, NetJob* job) = 0;

  // Exactly once for every job whose start a worker reported, after its
  // last OnJobEvent: when it ran to its end, was cancelled, or the pool was
  // torn down under it. Queued jobs that never started get no call.
  virtual void OnJobEnded(uint32_t job_id, int job_type, uint32_t user_data) = 0;
};

}  // namespace engine
}  // namespace quill

#endif  // QUILL_ENGINE_JOB_LISTENER_H_
