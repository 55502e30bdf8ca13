// The statistics job (job type 12, "statinfo"): one exchange that uploads a
// snapshot of the usage statistics, completed by the mail service through
// StatHost. The snapshot is taken when the job is made and travels with
// every copy of the job, so a repeat after an expired session uploads the
// same values.
//
// Threading: made and completed on the UI thread; Run on a worker, which
// reads only the job's own request.
#ifndef QUILL_COMMANDS_STAT_JOB_H_
#define QUILL_COMMANDS_STAT_JOB_H_

#include <cstdint>
#include <memory>
#include <string>

#include "commands/stat_message.h"
#include "engine/exchange.h"
#include "engine/net_job.h"

namespace quill {
namespace commands {

inline constexpr char kStatPath[] = "/cgi-bin/rb-bin/statinfo";

// What the statistics job needs from the mail service; UI thread only.
class StatHost {
 public:
  virtual ~StatHost() = default;
  // The gateway answered `result` (-3 included) to the upload of `uploaded`.
  virtual void StatAnswered(uint32_t job_id, const StatValues& uploaded, int32_t result) = 0;
  // The exchange failed on a step (engine/trace.h).
  virtual void StatFailed(uint32_t job_id, uint32_t system_error, uint32_t step) = 0;
  // The job was dropped before it ran.
  virtual void StatAbandoned(uint32_t job_id) = 0;
};

class StatResult : public engine::JobResult {
 public:
  int32_t ResultCode() const override { return response.head.result; }
  StatResponse response;  // as decoded
};

class StatJob : public engine::NetJob, private engine::ExchangeCommand {
 public:
  // context and host must outlive the job.
  StatJob(const engine::ExchangeContext* context, StatHost* host, StatRequest request)
      : context_(context), host_(host), request_(std::move(request)) {}

  void Run(engine::WorkerLink& link) override { RunWith(&link); }
  engine::ExchangeOutcome RunWith(engine::JobReporter* reporter) {
    return engine::RunExchange(*context_, engine::ExchangeRequest(), this, reporter);
  }
  int GetJobType() const override { return engine::kJobStatInfo; }
  std::string GetRequestPath() const override { return kStatPath; }
  // The copy takes the snapshot as it is, not the counters of now.
  bool CopyRequestTo(engine::NetJob* other) const override;
  void RenewSession(const std::string& session_key, uint32_t uin) override;
  void Abandon() override { host_->StatAbandoned(job_id()); }
  void OnDataCome(uint32_t job_id, int type, engine::JobResult* response,
                  uint32_t user_data) override;
  void OnError(uint32_t job_id, int type, uint32_t system_error, uint32_t step,
               uint32_t user_data) override;

  const StatRequest& request() const { return request_; }

 private:
  std::string RequestPath() const override { return kStatPath; }
  bool EncodeRequest(protocol::WireMessage* request) override {
    return EncodeStatRequest(request_, request);
  }
  std::unique_ptr<engine::JobResult> DecodeResponse(const protocol::WireMessage& response) override;

  const engine::ExchangeContext* const context_;  // shared by all jobs
  StatHost* const host_;                          // the mail service
  StatRequest request_;                           // the head and the snapshot
};

}  // namespace commands
}  // namespace quill

#endif  // QUILL_COMMANDS_STAT_JOB_H_
