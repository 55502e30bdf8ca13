// The update query job (job type 11, "queryupdate"): one exchange that asks
// whether a newer client is offered, completed by the mail service through
// UpdateQueryHost. It does not wait for a session and is never repeated.
//
// Threading: made and completed on the UI thread; Run on a worker, which
// reads only the job's own request.
#ifndef QUILL_COMMANDS_UPDATE_QUERY_JOB_H_
#define QUILL_COMMANDS_UPDATE_QUERY_JOB_H_

#include <cstdint>
#include <memory>
#include <string>

#include "commands/update_message.h"
#include "engine/exchange.h"
#include "engine/net_job.h"

namespace quill {
namespace commands {

inline constexpr char kUpdateQueryPath[] = "/cgi-bin/rb-bin/queryupdate";

// What the query job needs from the mail service; UI thread only.
class UpdateQueryHost {
 public:
  virtual ~UpdateQueryHost() = default;
  // The gateway's answer, whatever its result (-3 included).
  virtual void UpdateQueryAnswered(uint32_t job_id, int32_t reason,
                                   const UpdateQueryResponse& answer) = 0;
  // The exchange failed on a step (engine/trace.h).
  virtual void UpdateQueryFailed(uint32_t job_id, int32_t reason, uint32_t system_error,
                                 uint32_t step) = 0;
};

class UpdateQueryResult : public engine::JobResult {
 public:
  int32_t ResultCode() const override { return response.head.result; }
  UpdateQueryResponse response;  // as decoded
};

class UpdateQueryJob : public engine::NetJob, private engine::ExchangeCommand {
 public:
  // context and host must outlive the job.
  UpdateQueryJob(const engine::ExchangeContext* context, UpdateQueryHost* host,
                 UpdateQueryRequest request)
      : context_(context), host_(host), request_(std::move(request)) {}

  void Run(engine::WorkerLink& link) override { RunWith(&link); }
  engine::ExchangeOutcome RunWith(engine::JobReporter* reporter) {
    return engine::RunExchange(*context_, engine::ExchangeRequest(), this, reporter);
  }
  int GetJobType() const override { return engine::kJobQueryUpdate; }
  std::string GetRequestPath() const override { return kUpdateQueryPath; }
  void OnDataCome(uint32_t job_id, int type, engine::JobResult* response,
                  uint32_t user_data) override;
  void OnError(uint32_t job_id, int, uint32_t system_error, uint32_t step, uint32_t) override {
    host_->UpdateQueryFailed(job_id, request_.reason, system_error, step);
  }

 private:
  std::string RequestPath() const override { return kUpdateQueryPath; }
  bool EncodeRequest(protocol::WireMessage* m) override {
    return EncodeUpdateQueryRequest(request_, m);
  }
  std::unique_ptr<engine::JobResult> DecodeResponse(const protocol::WireMessage& response) override;

  const engine::ExchangeContext* const context_;  // shared by all jobs
  UpdateQueryHost* const host_;                   // the mail service
  const UpdateQueryRequest request_;              // as made
};

}  // namespace commands
}  // namespace quill

#endif  // QUILL_COMMANDS_UPDATE_QUERY_JOB_H_
