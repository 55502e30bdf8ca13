// The mail-image family: the images an HTML mail's body refers to, fetched
// one at a time into the mail's directory through the image request queue
// (requests made while one runs wait in order; one the gateway asks to
// repeat later waits for its delay).
//
// Every request ends with one MailImgDone, except one answered -10 that is
// repeated: its MailImgDone says so (`retrying`), and the repeat ends with
// another. A request that finds no session waits for a silent login; one
// answered -3 is repeated after a silent login, at most kMaxSessionRetries
// times. A session reset forgets the waiting requests and ends the running
// one.
//
// Threading: UI thread only.
#ifndef QUILL_FACADE_MAIL_IMAGE_OPERATION_H_
#define QUILL_FACADE_MAIL_IMAGE_OPERATION_H_

#include <cstdint>
#include <string>

#include "commands/image_job.h"
#include "facade/event_list.h"
#include "facade/image_request_queue.h"
#include "facade/job_slot.h"
#include "facade/operation.h"

namespace quill {
namespace facade {

struct MailImageOutcome {
  bool ok = false;
  int32_t code = 0;          // the result (-10 not ready, kImageRemoteRefused...) or platform error
  uint32_t step = 0;         // the failing step of a network failure; 0 otherwise
  uint32_t mail_id = 0;
  std::u16string url;        // the image's address in the mail
  std::string path;          // the cached file
  uint32_t retry_delay = 0;  // seconds, with -10
  bool retrying = false;     // -10: the request is repeated after the delay
};

class MailImageOperation : public Operation, private commands::ImageHost {
 public:
  static constexpr int kMaxSessionRetries = 2;

  // core must outlive the unit.
  explicit MailImageOperation(FacadeCore* core);

  // MailService::DoMailGetImg: false for a mail the store does not hold,
  // an empty or overlong address, or when the image job could not start.
  bool DoMailGetImg(uint32_t mail_id, std::u16string url, uint32_t width, uint32_t height);

  EventList<const MailImageOutcome&>& done() { return done_; }
  const ImageRequestQueue& queue() const { return queue_; }

  void EndSessionWork() override;

 private:
  void SessionExpired(engine::NetJob* job) override;
  void JobGone(uint32_t job_id, int job_type) override;

  // ImageHost.
  void ImageArrived(uint32_t job_id, const commands::ImageJobInfo& info,
                    const commands::ImageResult& result) override;
  void ImageFailed(uint32_t job_id, const commands::ImageJobInfo& info, uint32_t system_error,
                   uint32_t step) override;
  void ImageAbandoned(uint32_t job_id, const commands::ImageJobInfo& info) override;

  // The queue's starter.
  bool StartRequest(const ImageRequest& request);
  // Ends the running request held by job_id with its MailImgDone, then the
  // next waiting one starts.
  void End(uint32_t job_id, MailImageOutcome outcome);

  ImageRequestQueue queue_;
  JobSlot slot_{kMaxSessionRetries};  // the one image job
  ImageRequest running_;              // its request
  EventList<const MailImageOutcome&> done_;
};

}  // namespace facade
}  // namespace quill

#endif  // QUILL_FACADE_MAIL_IMAGE_OPERATION_H_
