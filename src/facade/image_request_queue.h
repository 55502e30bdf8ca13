// Inline-image requests of the reader: at most one image job runs at a
// time; requests made meanwhile wait in order, and a request the gateway
// asked to repeat later (-10 with a delay) waits in a second list until its
// due time, driven by one timer.
//
// The delay is the gateway's word, so it is clamped to kMaxDelaySeconds,
// and one request is repeated at most kMaxRetries times: a gateway that
// answers -10 for ever cannot keep the queue busy for ever.
//
// Threading: UI thread only; the timer runs on the loop.
#ifndef QUILL_FACADE_IMAGE_REQUEST_QUEUE_H_
#define QUILL_FACADE_IMAGE_REQUEST_QUEUE_H_

#include <cstdint>
#include <deque>
#include <functional>
#include <string>

#include "platform/message_loop.h"

namespace quill {
namespace facade {

struct ImageRequest {
  uint32_t mail_id = 0;     // the mail that shows the image
  std::u16string url;       // the image's address in the mail
  uint32_t param1 = 0;      // passed through to the image job
  uint32_t param2 = 0;      // passed through to the image job
  int64_t due_seconds = 0;  // when a delayed request may start; 0 waiting
  uint32_t retries = 0;     // -10 answers this request had so far
};

class ImageRequestQueue {
 public:
  static constexpr int32_t kMaxDelaySeconds = 600;
  static constexpr uint32_t kMaxRetries = 5;
  // Timer slack after a due time, as the gateway's delays are whole seconds.
  static constexpr int64_t kSlackSeconds = 2;

  // Starts the image job for a request; false when it could not be started.
  using Starter = std::function<bool(const ImageRequest&)>;

  // loop must outlive the queue; now_seconds defaults to NowSeconds.
  ImageRequestQueue(MessageLoop* loop, Starter start,
                    std::function<int64_t()> now_seconds = nullptr);
  ~ImageRequestQueue();
  ImageRequestQueue(const ImageRequestQueue&) = delete;
  ImageRequestQueue& operator=(const ImageRequestQueue&) = delete;

  // Starts the request, or queues it while an image job runs. False when
  // the start failed: then both lists are cleared.
  bool Request(ImageRequest request);
  // The running image job ended (data or error): the first waiting request
  // starts.
  void JobEnded();
  // The gateway answered -10 for `request` with `delay_seconds`: it is
  // repeated after the (clamped) delay. False when its retries are used up.
  bool RetryLater(ImageRequest request, int32_t delay_seconds);
  // Forgets every waiting and delayed request (the session ended).
  void Clear();

  bool running() const { return running_; }
  size_t waiting() const { return waiting_.size(); }
  size_t delayed() const { return delayed_.size(); }

 private:
  void OnTimer();
  void ArmTimer(int64_t seconds);

  MessageLoop* const loop_;
  const Starter start_;
  const std::function<int64_t()> now_seconds_;
  EndpointId endpoint_ = 0;          // receives the timer
  bool running_ = false;             // an image job runs
  std::deque<ImageRequest> waiting_;  // behind the running job, in order
  std::deque<ImageRequest> delayed_;  // after -10, in order of their answers
};

}  // namespace facade
}  // namespace quill

#endif  // QUILL_FACADE_IMAGE_REQUEST_QUEUE_H_
