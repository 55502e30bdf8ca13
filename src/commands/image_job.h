// The image job (job type 10, "getmailimg"): one image a mail's body refers
// to, fetched in pieces into the mail's directory and completed by the mail
// service through ImageHost.
//
// The cache name comes from store/image_cache.h. An image already cached
// under its exact name is answered from the file. Otherwise the image is
// fetched from offset 0 into "<base>.temp" (left over bytes are dropped:
// images are small and the gateway may scale them anew), which is renamed
// to the base and the gateway's suffix once it holds the whole total.
//
// Threading: made and completed on the UI thread; Run on a worker, which
// touches only the job's own request and files.
#ifndef QUILL_COMMANDS_IMAGE_JOB_H_
#define QUILL_COMMANDS_IMAGE_JOB_H_

#include <cstdint>
#include <memory>
#include <string>

#include "commands/image_message.h"
#include "engine/exchange.h"
#include "engine/net_job.h"
#include "platform/file_system.h"

namespace quill {
namespace commands {

// Failing steps of the image job (beside the exchange's step 4): those of
// the picture transfer.
enum ImageStep : uint32_t {
  kStepImageFile = 11,
  kStepImageOpen = 12,
  kStepImageRead = 14,
  kStepImageDecode = 15,
  kStepImageOffset = 16,
  kStepImageWrite = 17,
};

// The largest image taken.
constexpr uint64_t kMaxImageBytes = 8u << 20;

// What an image job was asked for.
struct ImageJobInfo {
  uint32_t mail_id = 0;
  uint32_t server_id = 0;
  std::u16string url;       // as the body gives it
  uint32_t width = 0;       // the display box
  uint32_t height = 0;
  std::string dir;          // the mail's directory, ending in '/'
};

class ImageResult : public engine::JobResult {
 public:
  int32_t ResultCode() const override { return result; }
  int32_t result = 0;        // 0 for one answered from the cache
  uint32_t retry_delay = 0;  // seconds, with kImageNotReady
  std::string path;          // the cached file
  uint64_t total = 0;        // its bytes
};

// What the image job needs from the mail service; UI thread only.
class ImageHost {
 public:
  virtual ~ImageHost() = default;
  virtual void ImageArrived(uint32_t job_id, const ImageJobInfo& info, const ImageResult& result) = 0;
  virtual void ImageFailed(uint32_t job_id, const ImageJobInfo& info, uint32_t system_error,
                           uint32_t step) = 0;
  virtual void ImageAbandoned(uint32_t job_id, const ImageJobInfo& info) = 0;
};

class ImageJob : public engine::NetJob, private engine::ChunkedDownloadCommand {
 public:
  // context, fs and host must outlive the job.
  ImageJob(const engine::ExchangeContext* context, FileSystem* fs, ImageHost* host,
           ImageJobInfo info, MailImageRequest request);

  void Run(engine::WorkerLink& link) override { RunWith(&link); }
  engine::ExchangeOutcome RunWith(engine::JobReporter* reporter);
  int GetJobType() const override { return engine::kJobMailImage; }
  std::string GetRequestPath() const override { return kImagePath; }
  bool CopyRequestTo(engine::NetJob* other) const override;
  void RenewSession(const std::string& session_key, uint32_t uin) override;
  void Abandon() override { host_->ImageAbandoned(job_id(), info_); }
  void OnDataCome(uint32_t job_id, int type, engine::JobResult* result, uint32_t user_data) override;
  void OnError(uint32_t job_id, int type, uint32_t system_error, uint32_t step,
               uint32_t user_data) override;

  const ImageJobInfo& info() const { return info_; }

 private:
  // ChunkedDownloadCommand.
  std::string RequestPath() const override { return kImagePath; }
  bool EncodeChunk(uint64_t offset, protocol::WireMessage* request) override;
  bool DecodeChunk(const protocol::WireMessage& response, engine::ChunkReply* reply) override;
  std::unique_ptr<engine::JobResult> Progress(uint64_t offset, uint64_t total) override;
  std::unique_ptr<engine::JobResult> Finished(uint64_t total) override;
  std::string FinalPath(const engine::DownloadTarget& target) const override;

  const engine::ExchangeContext* const context_;
  FileSystem* const fs_;
  ImageHost* const host_;
  ImageJobInfo info_;
  MailImageRequest request_;  // head, ServerID, address, box; offset and continuation per piece
  std::string base_;          // the cache name without its suffix
  std::string suffix_;        // the safe suffix the gateway gave
};

}  // namespace commands
}  // namespace quill

#endif  // QUILL_COMMANDS_IMAGE_JOB_H_
