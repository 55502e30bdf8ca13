#include "facade/job_slot.h"

namespace quill {
namespace facade {

bool JobSlot::Holds(uint32_t job_id) const {
  switch (state_) {
    case State::kRunning: return job_id == job_id_;
    case State::kWaiting: return job_id == 0;
    case State::kNone: return false;
  }
  return false;
}

bool JobSlot::Run(uint32_t job_id) {
  if (job_id == 0 || state_ == State::kRunning) return false;
  if (state_ == State::kNone) retries_ = 0;
  state_ = State::kRunning;
  job_id_ = job_id;
  return true;
}

bool JobSlot::Wait() {
  if (state_ != State::kNone) return false;
  retries_ = 0;
  state_ = State::kWaiting;
  job_id_ = 0;
  return true;
}

bool JobSlot::WaitAgain() {
  if (state_ != State::kRunning || retries_ >= max_retries_) return false;
  ++retries_;
  state_ = State::kWaiting;
  job_id_ = 0;
  return true;
}

bool JobSlot::Finish(uint32_t job_id) {
  if (!Holds(job_id)) return false;
  state_ = State::kNone;
  job_id_ = 0;
  return true;
}

}  // namespace facade
}  // namespace quill
