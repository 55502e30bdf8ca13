#include "commands/update_pack_job.h"

#include <array>
#include <chrono>
#include <cstring>
#include <thread>

#include "engine/trace.h"
#include "platform/crypto.h"
#include "platform/http_client.h"
#include "platform/last_error.h"
#include "protocol/codec_status.h"

namespace quill {
namespace commands {
namespace {

constexpr size_t kCheckBlockBytes = 16384;
constexpr uint32_t kCancelPollMs = 100;

// The package download's own step for an exchange step.
uint32_t PackStep(uint32_t step) {
  switch (step) {
    case engine::kStepOpenRequest: return kPackStepOpenRequest;
    case engine::kStepReadBody: return kPackStepRead;
    case engine::kStepDecodeBody: return kPackStepDecode;
    default: return step;
  }
}

// Forwards a download's reports to the worker's link with the package's
// own steps, and holds back the -7 answer, which the job follows itself.
class PackReporter : public engine::JobReporter {
 public:
  explicit PackReporter(engine::JobReporter* link) : link_(link) {}

  bool ShouldContinue() const override { return link_->ShouldContinue(); }
  bool SendError(uint32_t system_error, uint32_t step) override {
    return link_->SendError(system_error, PackStep(step));
  }
  bool SendData(std::unique_ptr<engine::JobResult> result, uintptr_t wparam) override {
    refusal_ = result != nullptr ? result->ResultCode() : 0;
    if (refusal_ == kUpdatePackReplaced) {
      if (auto* status = dynamic_cast<UpdatePackStatus*>(result.get())) replacement_ = *status;
      return true;
    }
    return link_->SendData(std::move(result), wparam);
  }
  bool SendPercent(std::unique_ptr<engine::JobResult> progress) override {
    return link_->SendPercent(std::move(progress));
  }

  // After a download: it ended on a -7 answer, and what that answer named.
  bool replaced() const { return refusal_ == kUpdatePackReplaced; }
  const UpdatePackStatus& replacement() const { return replacement_; }

 private:
  engine::JobReporter* const link_;
  int32_t refusal_ = 0;            // result of the last answer delivered (0: none, or ready)
  UpdatePackStatus replacement_;   // the -7 answer: the new package and its total
};

}  // namespace

std::string UpdatePackagePath(const std::string& dir, const std::string& package) {
  return dir + "/" + package + kPackageSuffix;
}

bool CheckUpdatePackage(FileSystem* fs, const std::string& path, const std::string& package,
                        uint64_t size) {
  std::array<uint8_t, 16> want;
  if (!PackageDigest(package, &want)) return false;
  std::unique_ptr<File> file = fs->Open(path, FileSystem::OpenMode::kRead);
  uint64_t held = 0;
  if (file == nullptr || !file->Size(&held) || held != size) return false;
  crypto::Md5Stream md5;
  Bytes block(kCheckBlockBytes);
  for (uint64_t at = 0; at < size;) {
    size_t got = 0;
    if (!file->ReadAt(at, block.data(), block.size(), &got) || got == 0) return false;
    md5.Update(ByteView(block.data(), got));
    at += got;
  }
  uint8_t digest[16];
  md5.Finish(digest);
  return std::memcmp(digest, want.data(), want.size()) == 0;
}

std::unique_ptr<UpdatePackStatus> UpdatePackJob::Status(int32_t code, uint64_t held,
                                                        uint64_t total) const {
  auto status = std::make_unique<UpdatePackStatus>();
  status->code = code;
  status->package = package_;
  status->path = path_;
  status->held = held;
  status->total = total;
  return status;
}

void UpdatePackJob::RunWith(engine::JobReporter* link) {
  std::lock_guard<std::mutex> lock(*files_.lock);
  std::string package = request_.package;
  uint64_t expected = files_.expected_size;
  for (int replacements = 0;; ++replacements) {
    if (!IsPackageName(package)) {
      link->SendError(kHttpErrorInvalidResponse, kPackStepDecode);
      return;
    }
    package_ = package;
    path_ = UpdatePackagePath(files_.dir, package_);
    uint64_t start = 0;
    if (Prepare(link, expected, &start) != Prepared::kFetch) return;

    engine::DownloadTarget target;
    target.fs = files_.fs;
    target.partial_path = path_;
    target.start_offset = start;
    target.max_total = UINT32_MAX;  // what the answer's size field can say
    target.file_step = kPackStepWrite;
    target.resumable = true;
    PackReporter reporter(link);
    engine::RunChunkedDownload(*context_, this, target, &reporter);
    // Replaced: the refusal deleted what was held of the old package.
    if (!reporter.replaced()) return;
    package = reporter.replacement().package;
    expected = 0;
    if (SamePackageName(package, package_) || replacements + 1 >= kMaxPackReplacements) {
      link->SendError(kHttpErrorInvalidResponse, kPackStepDecode);
      return;
    }
    engine::WriteLog(engine::kNetworkLog, "DoGetUpdatePack replaced (total)",
                     static_cast<uint32_t>(reporter.replacement().total), 0);
  }
}

UpdatePackJob::Prepared UpdatePackJob::Prepare(engine::JobReporter* link, uint64_t expected,
                                               uint64_t* start) {
  *start = 0;
  if (expected == 0) files_.fs->Delete(path_);
  std::unique_ptr<File> file = OpenWithTries(link);
  if (file == nullptr) {
    if (!link->ShouldContinue()) return Prepared::kStopped;
    link->SendError(GetLastError(), kPackStepFile);
    return Prepared::kReported;
  }
  uint64_t size = 0;
  if (!file->Size(&size)) {
    link->SendError(GetLastError(), kPackStepFile);
    return Prepared::kReported;
  }
  file.reset();
  if (expected == 0) return Prepared::kFetch;
  if (size < expected) {
    *start = size;
    return Prepared::kFetch;
  }
  if (size == expected && CheckUpdatePackage(files_.fs, path_, package_, expected)) {
    link->SendData(Status(0, expected, expected));
    return Prepared::kReported;
  }
  return Prepared::kFetch;  // from 0: the download cuts what is there
}

std::unique_ptr<File> UpdatePackJob::OpenWithTries(engine::JobReporter* link) {
  for (int tries = 1;; ++tries) {
    std::unique_ptr<File> file = files_.fs->Open(path_, FileSystem::OpenMode::kCreate, 0644);
    if (file != nullptr || tries == kPackFileTries) return file;
    for (uint32_t waited = 0; waited < kPackFileRetryMs; waited += kCancelPollMs) {
      if (!link->ShouldContinue()) return nullptr;
      std::this_thread::sleep_for(std::chrono::milliseconds(kCancelPollMs));
    }
  }
}

bool UpdatePackJob::EncodeChunk(uint64_t offset, protocol::WireMessage* request) {
  if (offset > UINT32_MAX) return false;
  UpdatePackRequest piece = request_;
  piece.package = package_;
  piece.offset = static_cast<uint32_t>(offset);
  return EncodeUpdatePackRequest(piece, request);
}

bool UpdatePackJob::DecodeChunk(const protocol::WireMessage& response, engine::ChunkReply* reply) {
  UpdatePackResponse answer;
  if (DecodeUpdatePackResponse(response, &answer) != protocol::CodecOk) return false;
  reply->result = answer.head.result;
  reply->total = answer.total;
  if (answer.head.result == 0) {
    // Pieces of another package than the one asked for cannot be appended.
    if (!SamePackageName(answer.package, package_)) return false;
    reply->piece = std::move(answer.piece);
    return true;
  }
  auto refusal = Status(answer.head.result, 0, answer.total);
  refusal->package = answer.package;  // the new package of a -7
  reply->message = std::move(refusal);
  return true;
}

std::unique_ptr<engine::JobResult> UpdatePackJob::Progress(uint64_t offset, uint64_t total) {
  return Status(0, offset, total);
}

std::unique_ptr<engine::JobResult> UpdatePackJob::Finished(uint64_t total) {
  if (CheckUpdatePackage(files_.fs, path_, package_, total)) return Status(0, total, total);
  files_.fs->Delete(path_);
  engine::WriteLog(engine::kNetworkLog, "DoGetUpdatePack check failed (total)",
                   static_cast<uint32_t>(total), 0);
  return Status(kUpdatePackCheckFailed, 0, total);
}

void UpdatePackJob::OnDataCome(uint32_t job_id, int, engine::JobResult* response, uint32_t) {
  if (auto* status = dynamic_cast<UpdatePackStatus*>(response)) {
    host_->UpdatePackEnded(job_id, *status);
    return;
  }
  UpdatePackStatus expired;  // the session-key error is the only other answer
  expired.code = response != nullptr ? response->ResultCode() : protocol::kSessionKeyError;
  host_->UpdatePackEnded(job_id, expired);
}

void UpdatePackJob::OnPercent(uint32_t job_id, int, engine::JobResult* progress, uint32_t) {
  if (auto* status = dynamic_cast<UpdatePackStatus*>(progress)) {
    host_->UpdatePackProgress(job_id, *status);
  }
}

}  // namespace commands
}  // namespace quill
