// Reporters that stand in for a worker's link in tests: one records the
// one report of an exchange, one hands every report to the job's callbacks
// at once, as the UI thread does while the worker waits in its send.
#ifndef QUILL_TESTS_JOB_REPORTERS_H_
#define QUILL_TESTS_JOB_REPORTERS_H_

#include <cstdint>
#include <memory>

#include "engine/job_result.h"
#include "engine/net_job.h"

namespace quill {

class Recorder : public engine::JobReporter {
 public:
  bool ShouldContinue() const override { return true; }
  bool SendError(uint32_t error, uint32_t s) override {
    ++reports;
    system_error = error;
    step = s;
    return true;
  }
  bool SendData(std::unique_ptr<engine::JobResult> r, uintptr_t) override {
    ++reports;
    result = std::move(r);
    return true;
  }
  bool SendPercent(std::unique_ptr<engine::JobResult>) override { return true; }

  int reports = 0;                          // reports so far; an exchange gives one
  uint32_t system_error = 0;                // of the last WM_CMD_ERR
  uint32_t step = 0;                        // of the last WM_CMD_ERR
  std::unique_ptr<engine::JobResult> result;  // of the last WM_CMD_DATA_COME
};

class InlineUi : public engine::JobReporter {
 public:
  explicit InlineUi(engine::NetJob* job) : job_(job) {}
  bool ShouldContinue() const override { return true; }
  bool SendError(uint32_t error, uint32_t step) override {
    job_->OnError(1, job_->GetJobType(), error, step, 0);
    return true;
  }
  bool SendData(std::unique_ptr<engine::JobResult> r, uintptr_t) override {
    job_->OnDataCome(1, job_->GetJobType(), r.get(), 0);
    return true;
  }
  bool SendPercent(std::unique_ptr<engine::JobResult>) override { return true; }

 private:
  engine::NetJob* const job_;
};

}  // namespace quill

#endif  // QUILL_TESTS_JOB_REPORTERS_H_
