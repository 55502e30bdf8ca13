// Base of every network job. A job is made on the UI thread, owned by the
// worker pool once AddJob accepted it, run by one worker thread, and deleted
// by that worker after its end was reported (or by the pool when it is
// cancelled or torn down while still queued).
//
// Threading: Run and GetRequestPath run on the worker; OnThreadMessage and
// the callbacks on the UI thread, never at the same time as Run's own
// reports (the worker blocks in each send). The active flag is the only
// field both sides touch; it is atomic.
#ifndef QUILL_ENGINE_NET_JOB_H_
#define QUILL_ENGINE_NET_JOB_H_

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "engine/job_listener.h"
#include "engine/job_result.h"
#include "platform/message_loop.h"

namespace quill {
namespace engine {

// Messages a worker sends to its endpoint.
constexpr uint32_t WM_THREAD_END = kWmUser + 1025;
constexpr uint32_t WM_JOB_START = kWmUser + 1026;        // wparam: the job
constexpr uint32_t WM_JOB_END = kWmUser + 1027;          // wparam: the job
constexpr uint32_t WM_CMD_ERR = kWmUser + 1029;          // wparam: system error, lparam: step
constexpr uint32_t WM_CMD_DATA_COME = kWmUser + 1030;    // lparam: JobResult* or null, owned by the receiver
constexpr uint32_t WM_CMD_DATA_PERCENT = kWmUser + 1031; // lparam: JobResult*, owned by the receiver

// Job types (GetJobType).
enum JobType : int {
  kJobLogin = 1,
  kJobSync = 2,
  kJobMailBrief = 3,
  kJobDeliverMail = 4,
  kJobMailBody = 5,
  kJobAttachDownload = 6,
  kJobAttachPicture = 7,
  kJobAttachText = 8,
  kJobUpdatePack = 9,
  kJobMailImage = 10,
  kJobQueryUpdate = 11,
  kJobStatInfo = 12,
  kJobLongMail = 13,
  kJobDialUp = 1000,
};

class NetJob;

// How a running job reports to the UI thread. Every report blocks until
// the UI thread handled it and returns false when it could not be delivered
// (the pool is going away).
class JobReporter {
 public:
  virtual ~JobReporter() = default;
  // True while the job may go on (not cancelled, someone to report to).
  // Long transfers check it before every piece, and every HTTP transfer
  // about once a second while it runs (on the job's thread).
  virtual bool ShouldContinue() const = 0;
  virtual bool SendError(uint32_t system_error, uint32_t step) = 0;
  // response may be null. When the send fails the response is freed here,
  // so every response is freed exactly once.
  virtual bool SendData(std::unique_ptr<JobResult> response, uintptr_t wparam = 0) = 0;
  virtual bool SendPercent(std::unique_ptr<JobResult> progress) = 0;
};

// The worker side of a running job: reports go by blocking send to the
// worker's endpoint.
class WorkerLink : public JobReporter {
 public:
  WorkerLink(EndpointRef endpoint, NetJob* job) : endpoint_(std::move(endpoint)), job_(job) {}

  // True while the worker's endpoint is open and the job was not cancelled.
  bool ShouldContinue() const override;
  bool SendError(uint32_t system_error, uint32_t step) override;
  bool SendData(std::unique_ptr<JobResult> response, uintptr_t wparam = 0) override;
  bool SendPercent(std::unique_ptr<JobResult> progress) override;

 private:
  bool SendOwned(uint32_t msg, uintptr_t wparam, std::unique_ptr<JobResult> result);

  EndpointRef endpoint_;  // the worker's endpoint
  NetJob* const job_;     // the job being run
};

class NetJob {
 public:
  NetJob() = default;
  virtual ~NetJob() = default;
  NetJob(const NetJob&) = delete;
  NetJob& operator=(const NetJob&) = delete;

  // UI thread. Turns WM_CMD_ERR, WM_CMD_DATA_COME and WM_CMD_DATA_PERCENT
  // into OnError / OnDataCome / OnPercent and the listener's OnJobEvent,
  // then frees the message's JobResult. Other messages are ignored.
  void OnThreadMessage(uint32_t msg, uintptr_t wparam, intptr_t lparam);

  // Worker thread: performs the exchange, reporting through link.
  virtual void Run(WorkerLink& link) = 0;
  virtual int GetJobType() const = 0;
  // UI thread: reports failure without running (the job waited for a login
  // that failed). Does nothing by default.
  virtual void Abandon() {}
  // UI thread: copies the request into a fresh job of the same kind. False
  // when other is of another kind.
  virtual bool CopyRequestTo(NetJob* other) const {
    (void)other;
    return false;
  }
  // UI thread: a copy made for the retry after a fresh login takes the new
  // session before it is started. Does nothing by default.
  virtual void RenewSession(const std::string& session_key, uint32_t uin) {
    (void)session_key;
    (void)uin;
  }
  // The URL path of the command, e.g. "/cgi-bin/rb-bin/getmailbrief";
  // empty for jobs without one (login, dial-up).
  virtual std::string GetRequestPath() const { return std::string(); }

  // The callbacks, on the UI thread. The response is borrowed for the call.
  virtual void OnDataCome(uint32_t job_id, int type, JobResult* response, uint32_t user_data);
  virtual void OnPercent(uint32_t job_id, int type, JobResult* progress, uint32_t user_data);
  virtual void OnError(uint32_t job_id, int type, uint32_t system_error, uint32_t step,
                       uint32_t user_data);

  // 1 while running, 0 once a cancel was asked (or before it runs).
  bool active() const { return active_.load(std::memory_order_acquire) != 0; }
  uint32_t job_id() const { return job_id_; }
  JobListener* listener() const { return listener_; }
  void set_listener(JobListener* listener) { listener_ = listener; }
  uint32_t user_data() const { return user_data_; }
  void set_user_data(uint32_t user_data) { user_data_ = user_data; }

 private:
  friend class WorkerPool;

  std::atomic<uint32_t> active_{0};  // written by the pool and by cancels
  uint32_t job_id_ = 0;              // assigned when queued; 0 before
  JobListener* listener_ = nullptr;  // UI thread only; may be null
  uint32_t user_data_ = 0;           // passed back in every notification
};

}  // namespace engine
}  // namespace quill

#endif  // QUILL_ENGINE_NET_JOB_H_
