// The local dial-up job (type 1000): brings up the connection of one
// destination on a worker, since dialling blocks, and hands the resulting
// network type to a callback on the UI thread.
#ifndef QUILL_ENGINE_DIAL_UP_JOB_H_
#define QUILL_ENGINE_DIAL_UP_JOB_H_

#include <functional>

#include "engine/connection_manager.h"
#include "engine/net_job.h"

namespace quill {
namespace engine {

class DialUpJob : public NetJob {
 public:
  // connections must outlive the job; done runs on the UI thread with the
  // network type dialled (kNetNone when it failed).
  DialUpJob(ConnectionManager* connections, int destination,
            std::function<void(NetworkType)> done)
      : connections_(connections), destination_(destination), done_(std::move(done)) {}

  void Run(WorkerLink& link) override;
  int GetJobType() const override { return kJobDialUp; }
  void OnDataCome(uint32_t job_id, int type, JobResult* response, uint32_t user_data) override;

 private:
  ConnectionManager* const connections_;
  const int destination_;                        // connection manager destination index
  const std::function<void(NetworkType)> done_;  // UI thread
};

}  // namespace engine
}  // namespace quill

#endif  // QUILL_ENGINE_DIAL_UP_JOB_H_
