// The long-mail delivery job (job type 13, "sendlongmail"): the whole
// conversation of one delivery on one worker, each request built by the
// LongMailConversation, each answer read before the next request.
//
// Transport failures are retried at most twice per job: a request that
// never reached the gateway whole is sent again; one the gateway got whole
// but whose answer was lost is not (the gateway may have acted on it): the
// job asks where to resume instead, and without a key it fails.
//
// Reports: a progress report before every request (WM_CMD_DATA_PERCENT;
// the key the service gave is saved by the UI thread while the worker
// waits), then one end: WM_CMD_ERR for a failed exchange (steps 112, 131,
// 141, 154, 163), or WM_CMD_DATA_COME with the delivery's outcome (result
// 0 delivered, -3 for an expired session, else negative).
//
// Threading: made and completed on the UI thread; Run on a worker, which
// owns the conversation.
#ifndef QUILL_COMMANDS_LONG_MAIL_JOB_H_
#define QUILL_COMMANDS_LONG_MAIL_JOB_H_

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "commands/long_mail_conversation.h"
#include "commands/long_mail_message.h"
#include "engine/exchange.h"
#include "engine/net_job.h"

namespace quill {
namespace commands {

// How a delivery ended: the LongMailDone event's values.
struct LongMailOutcome {
  bool ok = false;
  uint32_t step = 0;        // failing step; 0 on success
  int32_t code = 0;         // service code or system error; 0 on success
  std::u16string text;      // LongMailErrorText(code) on failure; empty on success
  uint32_t mail_id = 0;     // the delivered mail; 0 on failure
  uint32_t server_id = 0xFFFFFFFF;  // its new ServerID; -1 on failure
  uint32_t second_value = 0;        // the service's second value, passed on
};

// The end as the UI thread receives it.
class LongMailResult : public engine::JobResult {
 public:
  // 0 delivered; -3 when the session expired; else the negated step.
  int32_t ResultCode() const override;
  LongMailOutcome outcome;
  std::string key;  // the delivery's key when it ended (for a copy of the job)
};

// A progress report as the UI thread receives it.
class LongMailProgressReport : public engine::JobResult {
 public:
  int32_t ResultCode() const override { return 0; }
  LongMailProgress progress;
};

// What the job needs from the mail service; UI thread only.
class LongMailHost {
 public:
  virtual ~LongMailHost() = default;
  // Writes key into the mail's "sendmailid.txt"; false when it could not.
  virtual bool SaveLongMailKey(uint32_t mail_id, const std::string& key) = 0;
  virtual void LongMailProgressed(uint32_t job_id, const LongMailProgress& progress) = 0;
  // The end of a delivery; mail_id names it also on failure.
  virtual void LongMailEnded(uint32_t job_id, uint32_t mail_id, const LongMailOutcome& outcome) = 0;
  // The job was dropped before it ran.
  virtual void LongMailAbandoned(uint32_t job_id, uint32_t mail_id) = 0;
};

// The most transport retries of one job.
constexpr int kLongMailRetries = 2;

class LongMailJob : public engine::NetJob, private engine::ExchangeCommand {
 public:
  // context, fs and host must outlive the job.
  LongMailJob(const engine::ExchangeContext* context, FileSystem* fs, LongMailHost* host,
              LongMailDraft draft);

  void Run(engine::WorkerLink& link) override { RunWith(&link); }
  // The conversation without a worker pool (tools and tests).
  void RunWith(engine::JobReporter* reporter);

  int GetJobType() const override { return engine::kJobLongMail; }
  std::string GetRequestPath() const override { return kLongMailPath; }
  // The copy resumes the delivery under the key the first job was given.
  bool CopyRequestTo(engine::NetJob* other) const override;
  void RenewSession(const std::string& session_key, uint32_t uin) override;
  void Abandon() override;
  void OnDataCome(uint32_t job_id, int type, engine::JobResult* response,
                  uint32_t user_data) override;
  void OnPercent(uint32_t job_id, int type, engine::JobResult* progress,
                 uint32_t user_data) override;
  void OnError(uint32_t job_id, int type, uint32_t system_error, uint32_t step,
               uint32_t user_data) override;

  const LongMailDraft& draft() const { return draft_; }

 private:
  std::string RequestPath() const override { return kLongMailPath; }
  bool EncodeRequest(protocol::WireMessage* request) override;
  std::unique_ptr<engine::JobResult> DecodeResponse(const protocol::WireMessage& response) override;

  // Sends the end of the delivery.
  void Finish(engine::JobReporter* reporter, const LongMailConversation& conversation,
              LongMailConversation::Next next);

  const engine::ExchangeContext* const context_;  // shared by all jobs
  FileSystem* const fs_;
  LongMailHost* const host_;                      // the mail service
  LongMailDraft draft_;                           // UI side: as made, the key kept current
  LongMailConversation* running_ = nullptr;       // worker side, while Run runs
  std::atomic<bool> key_saved_{false};            // set by OnPercent, read by the worker
};

}  // namespace commands
}  // namespace quill

#endif  // QUILL_COMMANDS_LONG_MAIL_JOB_H_
