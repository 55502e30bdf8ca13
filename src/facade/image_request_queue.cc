#include "facade/image_request_queue.h"

#include <algorithm>
#include <utility>

#include "platform/clock.h"

namespace quill {
namespace facade {
namespace {

constexpr uint32_t kTimerId = 1;

}  // namespace

ImageRequestQueue::ImageRequestQueue(MessageLoop* loop, Starter start,
                                     std::function<int64_t()> now_seconds)
    : loop_(loop),
      start_(std::move(start)),
      now_seconds_(now_seconds ? std::move(now_seconds) : std::function<int64_t()>(NowSeconds)) {
  endpoint_ = loop_->CreateEndpoint([this](uint32_t msg, uintptr_t wparam, intptr_t) -> intptr_t {
    if (msg == kWmTimer && wparam == kTimerId) OnTimer();
    return 0;
  });
}

ImageRequestQueue::~ImageRequestQueue() { loop_->DestroyEndpoint(endpoint_); }

bool ImageRequestQueue::Request(ImageRequest request) {
  if (running_) {
    request.due_seconds = 0;
    waiting_.push_back(std::move(request));
    return true;
  }
  if (!start_(request)) {
    Clear();
    return false;
  }
  running_ = true;
  return true;
}

void ImageRequestQueue::JobEnded() {
  running_ = false;
  while (!waiting_.empty() && !running_) {
    ImageRequest next = std::move(waiting_.front());
    waiting_.pop_front();
    // A start that fails clears the lists, which ends this loop.
    Request(std::move(next));
  }
}

bool ImageRequestQueue::RetryLater(ImageRequest request, int32_t delay_seconds) {
  if (request.retries >= kMaxRetries) return false;
  ++request.retries;
  const int64_t delay = std::clamp<int32_t>(delay_seconds, 0, kMaxDelaySeconds);
  request.due_seconds = now_seconds_() + delay;
  const bool first = delayed_.empty();
  delayed_.push_back(std::move(request));
  if (first) ArmTimer(delay + kSlackSeconds);
  return true;
}

void ImageRequestQueue::Clear() {
  waiting_.clear();
  delayed_.clear();
  loop_->KillTimer(endpoint_, kTimerId);
}

void ImageRequestQueue::ArmTimer(int64_t seconds) {
  loop_->SetTimer(endpoint_, kTimerId, static_cast<uint32_t>(seconds * 1000));
}

void ImageRequestQueue::OnTimer() {
  loop_->KillTimer(endpoint_, kTimerId);
  if (delayed_.empty()) return;
  const int64_t now = now_seconds_();
  if (delayed_.front().due_seconds > now) {
    ArmTimer(delayed_.front().due_seconds - now + kSlackSeconds);
    return;
  }
  ImageRequest due = std::move(delayed_.front());
  delayed_.pop_front();
  due.due_seconds = 0;
  // Re-arm first: a failed start below clears the lists and the timer.
  if (!delayed_.empty()) {
    ArmTimer(std::max<int64_t>(0, delayed_.front().due_seconds - now) + kSlackSeconds);
  }
  Request(std::move(due));
}

}  // namespace facade
}  // namespace quill
