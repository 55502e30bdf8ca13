#include "commands/attach_job.h"

#include <climits>
#include <utility>

#include "commands/transfer_files.h"
#include "platform/last_error.h"
#include "platform/utf.h"
#include "protocol/codec_status.h"

namespace quill {
namespace commands {
namespace {

// A decoded text answer, kept on the worker until it is looked at.
class TextAnswer : public engine::JobResult {
 public:
  int32_t ResultCode() const override { return response.head.result; }
  AttachResponse response;
};

Bytes Utf16Le(const std::u16string& text) {
  Bytes out;
  out.reserve(text.size() * 2);
  for (char16_t c : text) {
    out.push_back(static_cast<uint8_t>(c));
    out.push_back(static_cast<uint8_t>(c >> 8));
  }
  return out;
}

}  // namespace

AttachJob::AttachJob(const engine::ExchangeContext* context, FileSystem* fs, AttachHost* host,
                     AttachJobInfo info, AttachRequest request)
    : context_(context), fs_(fs), host_(host), info_(std::move(info)), request_(std::move(request)) {
  request_.server_id = info_.server_id;
  request_.name = std::string(CutUtf8(Utf16ToUtf8(info_.name), kMaxAttachNameBytes));
  request_.kind = info_.job_type == engine::kJobAttachText      ? AttachKind::kText
                  : info_.job_type == engine::kJobAttachPicture ? AttachKind::kPicture
                                                                 : AttachKind::kDownload;
  request_.width = info_.width;
  request_.height = info_.height;
}

engine::ExchangeOutcome AttachJob::RunWith(engine::JobReporter* reporter) {
  held_version_ = 0;
  sync_needed_ = 0;
  if (info_.job_type == engine::kJobAttachText) return RunText(reporter);
  if (info_.job_type == engine::kJobAttachPicture) {
    uint64_t size = 0;
    if (FileSize(fs_, info_.path, &size)) {  // a picture completed earlier
      auto done = std::make_unique<AttachResult>();
      done->path = info_.path;
      done->total = size;
      reporter->SendData(std::move(done));
      return engine::ExchangeOutcome::kDelivered;
    }
  }
  return RunDownload(reporter);
}

engine::ExchangeOutcome AttachJob::RunDownload(engine::JobReporter* reporter) {
  const bool picture = info_.job_type == engine::kJobAttachPicture;
  StepMapReporter steps(reporter, picture ? kStepPictureOpen : kStepDownloadOpen,
                        picture ? kStepPictureRead : kStepDownloadRead,
                        picture ? kStepPictureDecode : kStepDownloadDecode);
  engine::DownloadTarget target;
  target.fs = fs_;
  target.partial_path = TempPath(info_.path);
  target.final_path = info_.path;
  target.version_path = VersionPath(info_.path);
  target.max_total = INT32_MAX;
  target.resumable = true;
  target.max_restarts = kMaxPictureRestarts;
  target.file_step = picture ? kStepPictureWrite : kStepDownloadWrite;
  target.offset_step = picture ? kStepPictureOffset : kStepDownloadOffset;
  // What an earlier attempt left counts only with the version it belongs to.
  const TransferVersion held = ReadTransferVersion(fs_, target.version_path);
  uint64_t temp_size = 0;
  if (held.version != 0 && FileSize(fs_, target.partial_path, &temp_size)) {
    target.start_offset = temp_size;
    target.total_known = held.has_total;
    target.known_total = held.total;
    held_version_ = held.version;
  }
  if (fs_->Open(target.partial_path, FileSystem::OpenMode::kCreate, 0600) == nullptr) {
    reporter->SendError(GetLastError(), picture ? kStepPictureFile : kStepDownloadFile);
    return engine::ExchangeOutcome::kFailed;
  }
  return engine::RunChunkedDownload(*context_, this, target, &steps);
}

bool AttachJob::EncodeChunk(uint64_t offset, protocol::WireMessage* request) {
  if (offset > INT32_MAX) return false;
  request_.offset = static_cast<int32_t>(offset);
  request_.version = request_.kind == AttachKind::kPicture ? held_version_ : 0;
  return EncodeAttachRequest(request_, request);
}

std::unique_ptr<AttachResult> AttachJob::Refusal(const AttachResponse& response) const {
  auto refusal = std::make_unique<AttachResult>();
  refusal->result = response.head.result;
  refusal->sub_result = response.sub_result;
  refusal->path = info_.path;
  refusal->total = static_cast<uint64_t>(response.total);
  return refusal;
}

bool AttachJob::SaveVersion(int32_t version, uint64_t total) {
  return WriteTransferVersion(fs_, VersionPath(info_.path), version, total);
}

bool AttachJob::DecodeChunk(const protocol::WireMessage& message, engine::ChunkReply* reply) {
  AttachResponse r;
  if (DecodeAttachResponse(message, request_.kind, &r) != protocol::CodecOk) return false;
  std::unique_ptr<AttachResult> refusal = Refusal(r);
  AttachResult* refused = refusal.get();
  reply->result = r.head.result;
  reply->message = std::move(refusal);
  if (r.head.result != 0) return true;
  sync_needed_ = r.sync_needed;
  reply->has_total = r.has_total;
  reply->total = static_cast<uint64_t>(r.total);
  const bool picture = request_.kind == AttachKind::kPicture;
  if (r.sub_result == (picture ? kAttachNothingMore : kAttachComplete)) {
    reply->kind = engine::ChunkReply::Kind::kAtEnd;
    return true;
  }
  if (picture && r.sub_result == kAttachVersionChanged) {
    // Whatever is held belongs to the old version.
    reply->kind = engine::ChunkReply::Kind::kRestart;
    held_version_ = r.has_version ? r.version : 0;
    fs_->Delete(VersionPath(info_.path));
    if (held_version_ != 0) SaveVersion(held_version_, reply->total);
    return true;
  }
  if (r.sub_result < 0) {
    reply->result = r.sub_result;  // a refusal of this attachment
    return true;
  }
  reply->has_offset = true;
  reply->offset = static_cast<uint64_t>(r.offset);
  reply->piece = std::move(r.data);
  if (r.has_version && r.version != held_version_) {
    if (request_.offset != 0) {
      // Bytes of another version are held: they cannot be continued.
      reply->kind = engine::ChunkReply::Kind::kRestart;
      refused->sub_result = kAttachVersionChanged;
      held_version_ = 0;
      fs_->Delete(VersionPath(info_.path));
      return true;
    }
    // Recorded before the first piece is written, so bytes held always
    // have their version beside them.
    held_version_ = r.version;
    SaveVersion(held_version_, reply->total);
  }
  return true;
}

std::unique_ptr<engine::JobResult> AttachJob::Progress(uint64_t offset, uint64_t total) {
  auto progress = std::make_unique<AttachResult>();
  progress->progress = true;
  progress->path = info_.path;
  progress->offset = offset;
  progress->total = total;
  return progress;
}

std::unique_ptr<engine::JobResult> AttachJob::Finished(uint64_t total) {
  auto done = std::make_unique<AttachResult>();
  done->path = info_.path;
  done->offset = total;
  done->total = total;
  done->sync_needed = sync_needed_;
  return done;
}

// --- Text slices -----------------------------------------------------------

bool AttachJob::TextFromFile(AttachResult* out) {
  const TransferVersion held = ReadTransferVersion(fs_, VersionPath(info_.path));
  uint64_t bytes = 0;
  if (held.version == 0 || !held.has_total || info_.offset < 0 || info_.length < 0 ||
      !FileSize(fs_, info_.path, &bytes)) {
    return false;
  }
  const uint64_t units = bytes / 2;
  const uint64_t begin = static_cast<uint64_t>(info_.offset);
  uint64_t end = begin + static_cast<uint64_t>(info_.length);
  // Inside what P holds, or up to the end of a text P holds whole.
  if (end > units && !(units == held.total && begin <= units)) return false;
  if (end > units) end = units;
  std::unique_ptr<File> file = fs_->Open(info_.path, FileSystem::OpenMode::kRead);
  Bytes raw(static_cast<size_t>((end - begin) * 2));
  size_t got = 0;
  if (file == nullptr || !file->ReadAt(begin * 2, raw.data(), raw.size(), &got) || got != raw.size()) {
    return false;
  }
  out->text.resize(raw.size() / 2);
  for (size_t i = 0; i < out->text.size(); ++i) {
    out->text[i] = static_cast<char16_t>(raw[2 * i] | (raw[2 * i + 1] << 8));
  }
  out->offset = begin;
  out->length = end - begin;
  out->total = held.total;
  return true;
}

void AttachJob::StoreTextSlice(const AttachResponse& response, int32_t held_version) {
  if (!response.has_version) return;  // a slice of no known version is not kept
  if (response.version != held_version) {
    // A text of another version is held: it goes before the new one starts.
    if (held_version != 0) fs_->Delete(info_.path);
    if (!SaveVersion(response.version, static_cast<uint64_t>(response.total))) return;
  }
  // Failures to keep the slice only cost a later request.
  std::unique_ptr<File> file = fs_->Open(info_.path, FileSystem::OpenMode::kCreate);
  uint64_t size = 0;
  if (file == nullptr || !file->Size(&size)) return;
  const uint64_t at = static_cast<uint64_t>(response.offset) * 2;
  if (at > size) return;  // a gap would read back as text that was never sent
  const Bytes bytes = Utf16Le(Utf8ToUtf16(ByteView(response.data).ToString()));
  file->WriteAt(at, bytes.data(), bytes.size());
}

engine::ExchangeOutcome AttachJob::AskText(engine::JobReporter* reporter, int32_t offset,
                                           int32_t version,
                                           std::unique_ptr<engine::JobResult>* result) {
  request_.offset = offset;
  request_.length = info_.length;
  request_.version = version;
  StepMapReporter steps(reporter, kStepTextOpen, kStepTextRead, kStepTextDecode);
  CapturingReporter capture(&steps);
  const engine::ExchangeOutcome outcome =
      engine::RunExchange(*context_, engine::ExchangeRequest(), this, &capture);
  *result = capture.Take();
  return outcome;
}

engine::ExchangeOutcome AttachJob::RunText(engine::JobReporter* reporter) {
  auto slice = std::make_unique<AttachResult>();
  if (TextFromFile(slice.get())) {
    reporter->SendData(std::move(slice));
    return engine::ExchangeOutcome::kDelivered;
  }
  int32_t offset = info_.offset;
  int32_t held = ReadTransferVersion(fs_, VersionPath(info_.path)).version;
  for (;;) {
    std::unique_ptr<engine::JobResult> result;
    const engine::ExchangeOutcome outcome = AskText(reporter, offset, held, &result);
    if (outcome != engine::ExchangeOutcome::kDelivered || result == nullptr) return outcome;
    auto* answer = dynamic_cast<TextAnswer*>(result.get());
    if (answer == nullptr) {  // the session expired
      reporter->SendData(std::move(result));
      return outcome;
    }
    const AttachResponse& r = answer->response;
    if (r.head.result == 0 && r.sub_result == kAttachNothingMore) {
      // The copy held is stale: it goes, and a slice asked past its start
      // is asked again from 0, where the new text begins.
      fs_->Delete(info_.path);
      fs_->Delete(VersionPath(info_.path));
      if (offset != 0) {
        offset = 0;
        held = 0;
        continue;
      }
    }
    if (r.head.result != 0 || r.sub_result < 0) {
      reporter->SendData(Refusal(r));
      return outcome;
    }
    StoreTextSlice(r, held);
    slice->text = Utf8ToUtf16(ByteView(r.data).ToString());
    slice->offset = static_cast<uint64_t>(r.offset);
    slice->length = slice->text.size();
    slice->total = static_cast<uint64_t>(r.total);
    slice->sync_needed = r.sync_needed;
    reporter->SendData(std::move(slice));
    return outcome;
  }
}

bool AttachJob::EncodeRequest(protocol::WireMessage* request) {
  return EncodeAttachRequest(request_, request);
}

std::unique_ptr<engine::JobResult> AttachJob::DecodeResponse(const protocol::WireMessage& m) {
  auto answer = std::make_unique<TextAnswer>();
  if (DecodeAttachResponse(m, AttachKind::kText, &answer->response) != protocol::CodecOk) {
    return nullptr;
  }
  return answer;
}

// --- UI thread ---------------------------------------------------------------

bool AttachJob::CopyRequestTo(engine::NetJob* other) const {
  auto* same = dynamic_cast<AttachJob*>(other);
  if (same == nullptr) return false;
  same->info_ = info_;
  same->request_ = request_;
  return true;
}

void AttachJob::RenewSession(const std::string& session_key, uint32_t uin) {
  request_.head.session_key = session_key;
  request_.head.uin = uin;
}

void AttachJob::Abandon() { host_->AttachAbandoned(job_id(), user_data(), info_); }

void AttachJob::OnDataCome(uint32_t job_id, int, engine::JobResult* result, uint32_t user_data) {
  if (auto* answer = dynamic_cast<AttachResult*>(result)) {
    host_->AttachArrived(job_id, user_data, info_, *answer);
    return;
  }
  AttachResult expired;  // the session-key error is the only other report
  expired.result = result != nullptr ? result->ResultCode() : protocol::kSessionKeyError;
  expired.path = info_.path;
  host_->AttachArrived(job_id, user_data, info_, expired);
}

void AttachJob::OnPercent(uint32_t job_id, int, engine::JobResult* result, uint32_t user_data) {
  if (auto* progress = dynamic_cast<AttachResult*>(result)) {
    host_->AttachArrived(job_id, user_data, info_, *progress);
  }
}

void AttachJob::OnError(uint32_t job_id, int, uint32_t system_error, uint32_t step,
                        uint32_t user_data) {
  host_->AttachFailed(job_id, user_data, info_, system_error, step);
}

}  // namespace commands
}  // namespace quill
