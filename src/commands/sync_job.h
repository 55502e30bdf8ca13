// The mailbox sync job (job type 2): pages of "sync" exchanges on one
// worker, each page applied by the UI thread before the next is asked for.
//
// The worker decides whether a page is the last one and says so in the
// page it reports, so the UI side announces the end of a sync exactly once,
// whatever stopped the paging (no continue flag, an unchanged key, the
// 52-request cap, a refusal).
//
// Threading: made and completed on the UI thread; Run on a worker, which
// reads only its own request and the host's StoredSyncKey.
#ifndef QUILL_COMMANDS_SYNC_JOB_H_
#define QUILL_COMMANDS_SYNC_JOB_H_

#include <cstdint>
#include <memory>
#include <string>

#include "commands/sync_message.h"
#include "engine/exchange.h"
#include "engine/net_job.h"

namespace quill {
namespace commands {

inline constexpr char kSyncPath[] = "/cgi-bin/rb-bin/sync";
// Requests of one job at most: the first and 51 continuations. A job whose
// reporter says stop (it was cancelled) asks for no further page.
constexpr int kMaxSyncRequests = 52;

// One page as the UI thread receives it.
class SyncPageResult : public engine::JobResult {
 public:
  int32_t ResultCode() const override { return page.head.result; }
  SyncResponse page;        // as decoded
  bool final_page = false;  // no further page follows in this job
};

// What the sync job needs from the mail service.
class SyncHost {
 public:
  virtual ~SyncHost() = default;
  // Any thread: the sync key the store holds now.
  virtual int32_t StoredSyncKey() const = 0;
  // UI thread: a decoded page (result 0, or a refusal such as -3, which is
  // always final). The store is expected to hold page.new_key afterwards
  // when the result is 0 and more pages follow.
  virtual void SyncPageArrived(uint32_t job_id, const SyncResponse& page, bool final_page,
                               int32_t reason) = 0;
  // UI thread: the sync ended on a failing step (network 1-6, 100 the key
  // moved, 200 the daily limit).
  virtual void SyncFailed(uint32_t job_id, uint32_t system_error, uint32_t step,
                          int32_t reason) = 0;
  // UI thread: the job was dropped before it ran.
  virtual void SyncAbandoned(uint32_t job_id, int32_t reason) = 0;
};

class SyncJob : public engine::NetJob, private engine::ExchangeCommand {
 public:
  // context and host must outlive the job. The request's head carries the
  // key the store held when the job was made.
  SyncJob(const engine::ExchangeContext* context, SyncHost* host, SyncRequest request);

  void Run(engine::WorkerLink& link) override;
  int GetJobType() const override { return engine::kJobSync; }
  std::string GetRequestPath() const override { return kSyncPath; }
  bool CopyRequestTo(engine::NetJob* other) const override;
  // Also takes the key the store holds now: pages applied before the
  // session expired moved it on.
  void RenewSession(const std::string& session_key, uint32_t uin) override;
  void Abandon() override;
  void OnDataCome(uint32_t job_id, int type, engine::JobResult* response,
                  uint32_t user_data) override;
  void OnError(uint32_t job_id, int type, uint32_t system_error, uint32_t step,
               uint32_t user_data) override;

  // The paging without a worker pool (tools and tests).
  void RunWith(engine::JobReporter* reporter);

  const SyncRequest& request() const { return request_; }

 private:
  std::string RequestPath() const override { return kSyncPath; }
  bool EncodeRequest(protocol::WireMessage* request) override;
  std::unique_ptr<engine::JobResult> DecodeResponse(const protocol::WireMessage& response) override;

  const engine::ExchangeContext* const context_;  // shared by all jobs
  SyncHost* const host_;                          // the mail service
  // head.sync_key: the job's first key. The client commands are dropped
  // once a page was answered 0 (the service applied them).
  SyncRequest request_;
  // Worker-only paging state.
  int32_t page_key_ = 0;       // key of the request being sent
  int requests_sent_ = 0;      // requests of this job so far
  bool more_ = false;          // the page just decoded is followed by another
  int32_t next_key_ = 0;       // its new key
};

}  // namespace commands
}  // namespace quill

#endif  // QUILL_COMMANDS_SYNC_JOB_H_
