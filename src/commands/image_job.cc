#include "commands/image_job.h"

#include <utility>

#include "commands/transfer_files.h"
#include "platform/last_error.h"
#include "platform/utf.h"
#include "protocol/codec_status.h"
#include "store/image_cache.h"

namespace quill {
namespace commands {

ImageJob::ImageJob(const engine::ExchangeContext* context, FileSystem* fs, ImageHost* host,
                   ImageJobInfo info, MailImageRequest request)
    : context_(context), fs_(fs), host_(host), info_(std::move(info)), request_(std::move(request)) {
  request_.server_id = info_.server_id;
  request_.url = Utf16ToUtf8(info_.url);
  request_.width = info_.width;
  request_.height = info_.height;
  base_ = store::ImageCacheBase(info_.url, info_.width, info_.height);
}

engine::ExchangeOutcome ImageJob::RunWith(engine::JobReporter* reporter) {
  request_.continuation = 0;
  suffix_.clear();
  const std::string cached = store::FindCachedImage(fs_, info_.dir, base_);
  uint64_t size = 0;
  if (!cached.empty() && FileSize(fs_, cached, &size)) {
    auto done = std::make_unique<ImageResult>();
    done->path = cached;
    done->total = size;
    reporter->SendData(std::move(done));
    return engine::ExchangeOutcome::kDelivered;
  }
  engine::DownloadTarget target;
  target.fs = fs_;
  target.partial_path = TempPath(info_.dir + base_);
  target.final_path = info_.dir + base_;
  target.max_total = kMaxImageBytes;
  target.file_step = kStepImageWrite;
  target.offset_step = kStepImageOffset;
  fs_->Delete(target.partial_path);  // an image always starts from 0
  if (fs_->Open(target.partial_path, FileSystem::OpenMode::kCreate, 0600) == nullptr) {
    reporter->SendError(GetLastError(), kStepImageFile);
    return engine::ExchangeOutcome::kFailed;
  }
  StepMapReporter steps(reporter, kStepImageOpen, kStepImageRead, kStepImageDecode);
  return engine::RunChunkedDownload(*context_, this, target, &steps);
}

bool ImageJob::EncodeChunk(uint64_t offset, protocol::WireMessage* request) {
  if (offset > INT32_MAX) return false;
  request_.offset = static_cast<int32_t>(offset);
  return EncodeImageRequest(request_, request);
}

bool ImageJob::DecodeChunk(const protocol::WireMessage& message, engine::ChunkReply* reply) {
  MailImageResponse r;
  if (DecodeImageResponse(message, &r) != protocol::CodecOk) return false;
  reply->result = r.head.result;
  if (r.head.result != 0) {
    auto refusal = std::make_unique<ImageResult>();
    refusal->result = r.head.result;
    refusal->retry_delay = r.head.result == kImageNotReady ? r.retry_delay : 0;
    reply->message = std::move(refusal);
    return true;
  }
  request_.continuation = r.continuation;
  if (!r.suffix.empty()) suffix_ = store::ImageCacheSuffix(r.suffix);
  reply->total = static_cast<uint64_t>(r.total);
  reply->has_offset = r.has_offset;
  reply->offset = static_cast<uint64_t>(r.offset);
  reply->piece = std::move(r.piece);
  return true;
}

std::unique_ptr<engine::JobResult> ImageJob::Progress(uint64_t, uint64_t) {
  // Image pieces are not reported one by one: the reader waits for the whole.
  return nullptr;
}

std::unique_ptr<engine::JobResult> ImageJob::Finished(uint64_t total) {
  auto done = std::make_unique<ImageResult>();
  done->path = info_.dir + base_ + suffix_;
  done->total = total;
  return done;
}

std::string ImageJob::FinalPath(const engine::DownloadTarget& target) const {
  return target.final_path + suffix_;
}

bool ImageJob::CopyRequestTo(engine::NetJob* other) const {
  auto* same = dynamic_cast<ImageJob*>(other);
  if (same == nullptr) return false;
  same->info_ = info_;
  same->request_ = request_;
  same->base_ = base_;
  return true;
}

void ImageJob::RenewSession(const std::string& session_key, uint32_t uin) {
  request_.head.session_key = session_key;
  request_.head.uin = uin;
}

void ImageJob::OnDataCome(uint32_t job_id, int, engine::JobResult* result, uint32_t) {
  if (auto* answer = dynamic_cast<ImageResult*>(result)) {
    host_->ImageArrived(job_id, info_, *answer);
    return;
  }
  ImageResult expired;  // the session-key error is the only other report
  expired.result = result != nullptr ? result->ResultCode() : protocol::kSessionKeyError;
  host_->ImageArrived(job_id, info_, expired);
}

void ImageJob::OnError(uint32_t job_id, int, uint32_t system_error, uint32_t step, uint32_t) {
  host_->ImageFailed(job_id, info_, system_error, step);
}

}  // namespace commands
}  // namespace quill
