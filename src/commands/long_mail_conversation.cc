#include "commands/long_mail_conversation.h"

#include <algorithm>
#include <cerrno>

#include "platform/crypto.h"
#include "platform/hex.h"
#include "platform/last_error.h"

namespace quill {
namespace commands {
namespace {

// Digests read this much at a time: large enough that the digest, not the
// reads, sets the pace.
constexpr size_t kDigestBlock = 64 * 1024;
// The wire carries sizes and offsets as signed 32-bit integers.
constexpr uint64_t kMaxWireSize = 0x7FFFFFFF;

uint64_t Pieces(uint64_t bytes) { return (bytes + kMaxPieceBytes - 1) / kMaxPieceBytes; }

bool IsDigestText(const std::string& text) {
  if (text.size() != 32) return false;
  for (char c : text) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

std::string ProtocolName(const std::string& digest, const std::string& path) {
  return !path.empty() && path[0] == '\\' ? digest + path : digest + "\\" + path;
}

}  // namespace

const char16_t* LongMailErrorText(int32_t code) {
  switch (code) {
    case kCodeSizeChanged: return u"附件大小已改变";
    case kCodeContentChanged: return u"附件内容已改变";
    case kCodeCannotOpen: return u"要发送的附件文件无法打开";
    default: return u"内部错误";
  }
}

struct LongMailConversation::OpenFile {
  std::unique_ptr<File> file;  // open for reading while the delivery runs
  uint64_t size = 0;           // when it was digested
  int index = -1;              // among the mail's local files
  std::string path;            // UTF-8
};

LongMailConversation::LongMailConversation(LongMailDraft draft, FileSystem* fs, Reporter report)
    : draft_(std::move(draft)), fs_(fs), report_(std::move(report)) {
  uint64_t pieces = 2 + Pieces(draft_.body.size());  // description, header, body
  for (const LongMailAttachment& a : draft_.attachments) {
    if (a.kind != kLocalFileKind) continue;
    local_paths_.push_back(a.name);
    pieces += Pieces(std::min<uint64_t>(a.size, kMaxWireSize));
  }
  // A service may ask for smaller pieces, resume, and ask for the header
  // again; four times the least number of requests, and some, is plenty.
  max_requests_ = static_cast<int>(std::min<uint64_t>(16 + 4 * pieces, 1u << 30));
}

LongMailConversation::~LongMailConversation() = default;

LongMailConversation::Next LongMailConversation::Fail(uint32_t step, int32_t code) {
  step_ = step;
  code_ = code;
  ClearRequest();
  return Next::kFailed;
}

void LongMailConversation::ClearRequest() {
  request_.description.reset();
  request_.parts.clear();
}

bool LongMailConversation::Ready(int stage, int index, const std::string& file, uint64_t size,
                                 uint64_t offset) {
  if (requests_ == max_requests_) {
    Fail(kLongStepInstruction, 0);
    return false;
  }
  ++requests_;
  LongMailProgress p;
  p.mail_id = draft_.mail_id;
  p.stage = stage;
  p.percent = percent_;
  p.attachment_count = static_cast<int>(local_paths_.size());
  p.attachment_index = index;
  p.file_name = file;
  p.file_size = size;
  p.offset = offset;
  if (key_unsaved_ && stage > kStageConnecting && !draft_.key.empty()) p.key_to_save = draft_.key;
  bool saved = false;
  if (!report_(p, &saved)) {
    Fail(kLongStepNoRequest, 0);
    return false;
  }
  if (saved) key_unsaved_ = false;
  request_.head = draft_.head;
  request_.key = draft_.key;
  ClearRequest();
  return true;
}

LongMailConversation::Next LongMailConversation::Start() {
  LongMailProgress p;
  p.mail_id = draft_.mail_id;
  p.attachment_count = static_cast<int>(local_paths_.size());
  bool saved = false;
  if (!report_(p, &saved)) return Fail(kLongStepNoRequest, 0);
  return draft_.key.empty() ? PrepareFirst() : PrepareResume();
}

LongMailConversation::Next LongMailConversation::PrepareResume() {
  if (!Ready(kStageResuming, -1, std::string(), 0, 0)) return Next::kFailed;
  // The service may ask again for what it asked last; that is no loop.
  last_type_ = 0;
  return Next::kSend;
}

LongMailConversation::Next LongMailConversation::AnswerLost(uint32_t step, uint32_t system_error) {
  // Without a key nothing tells the service that a second request is the
  // same mail: sending it again could deliver the mail twice.
  if (draft_.key.empty()) return Fail(step, static_cast<int32_t>(system_error));
  return PrepareResume();
}

LongMailConversation::Next LongMailConversation::PrepareFirst() {
  if (draft_.body.size() > kMaxWireSize) return Fail(kLongStepNoRequest, 0);
  LongMailDescription d;
  d.compose_mode = draft_.compose_mode;
  d.source_server_id = draft_.source_server_id;
  d.sender_name = draft_.sender_name;
  d.sender_address = draft_.sender_address;
  d.body_length = static_cast<uint32_t>(draft_.body.size());
  key_unsaved_ = true;
  if (draft_.attachments.empty() && draft_.body_chars < kSmallMailChars) {
    if (!Ready(kStageSmallMail, -1, std::string(), 0, 0)) return Next::kFailed;
    request_.description = std::move(d);
    LongMailPart subject, recipients, body;
    subject.type = kPartSubject;
    subject.subject = draft_.subject;
    recipients.type = kPartRecipients;
    recipients.to = draft_.to;
    recipients.cc = draft_.cc;
    recipients.bcc = draft_.bcc;
    body.type = kPartBody;
    body.data.assign(draft_.body.begin(), draft_.body.end());
    request_.parts = {std::move(subject), std::move(recipients), std::move(body)};
    return Next::kSend;
  }
  for (size_t i = 0; i < local_paths_.size(); ++i) {
    const std::string& path = local_paths_[i];
    auto open = std::make_unique<OpenFile>();
    open->file = fs_->Open(path, FileSystem::OpenMode::kRead);
    if (open->file == nullptr) return Fail(kLongStepDescribeFile, static_cast<int32_t>(GetLastError()));
    LongMailProgress p;
    p.mail_id = draft_.mail_id;
    p.stage = kStageScanning;
    p.attachment_count = static_cast<int>(local_paths_.size());
    p.attachment_index = static_cast<int>(i);
    p.file_name = path;
    bool saved = false;
    if (!open->file->Size(&open->size) || !report_(p, &saved)) {
      return Fail(kLongStepDescribeFile, static_cast<int32_t>(GetLastError()));
    }
    if (open->size > kMaxWireSize) return Fail(kLongStepDescribeFile, EFBIG);
    std::string digest;
    uint32_t error = 0;
    if (!Digest(open->file.get(), open->size, &digest, &error)) {
      return Fail(kLongStepDescribeFile, static_cast<int32_t>(error));
    }
    open->index = static_cast<int>(i);
    open->path = path;
    LongMailFileEntry entry;
    entry.protocol_name = ProtocolName(digest, path);
    entry.size = static_cast<uint32_t>(open->size);
    entry.digest = digest;
    d.files.push_back(entry);
    files_[entry.protocol_name] = std::move(open);
  }
  if (!Ready(kStageDescribing, -1, std::string(), 0, 0)) return Next::kFailed;
  request_.description = std::move(d);
  return Next::kSend;
}

bool LongMailConversation::Digest(File* file, uint64_t size, std::string* hex, uint32_t* error) {
  crypto::Md5Stream md5;
  Bytes block(kDigestBlock);
  uint64_t offset = 0;
  while (offset < size) {
    size_t got = 0;
    const size_t want = static_cast<size_t>(std::min<uint64_t>(block.size(), size - offset));
    if (!file->ReadAt(offset, block.data(), want, &got)) {
      *error = GetLastError();
      return false;
    }
    if (got != want) {
      *error = EIO;  // the file is shorter than it was
      return false;
    }
    md5.Update(ByteView(block.data(), got));
    offset += got;
  }
  uint8_t digest[16];
  md5.Finish(digest);
  *hex = HexEncodeLower(ByteView(digest, sizeof digest));
  return true;
}

LongMailConversation::Next LongMailConversation::Handle(const LongMailResponse& r) {
  if (r.head.result != 0) return Fail(kLongStepResult, r.head.result);
  if (r.item1_error) return Fail(kLongStepServiceError, r.item1_error->code);
  if (r.item2_error) return Fail(kLongStepServiceEntry, r.item2_error->code);
  if (!r.status) return Fail(kLongStepNoStatus, 0);
  const LongMailStatus& s = *r.status;
  if (s.status == kStatusDelivered) {
    server_id_ = s.value1;
    second_value_ = s.value2;
    ClearRequest();
    return Next::kDelivered;
  }
  if (s.status != kStatusContinue) return Fail(kLongStepStatus, s.status);
  percent_ = std::clamp<int32_t>(s.percent, 0, 10000);
  if (draft_.key.empty()) {
    if (r.key.empty()) return Fail(kLongStepNoKey, 0);
    draft_.key = r.key;
    key_unsaved_ = true;
  }
  if (!r.instruction) return Fail(kLongStepInstruction, 0);
  return Follow(*r.instruction);
}

LongMailConversation::Next LongMailConversation::Follow(const LongMailInstruction& in) {
  switch (in.type) {
    case kAskHeader:
    case kAskHeaderToo: {
      // The header asked for right after it was sent is no progress.
      if (last_type_ == kAskHeader) return Fail(kLongStepInstruction, 0);
      if (!Ready(kStageHeader, -1, std::string(), 0, 0)) return Next::kFailed;
      LongMailPart subject, recipients;
      subject.type = kPartSubject;
      subject.subject = draft_.subject;
      recipients.type = kPartRecipients;
      recipients.to = draft_.to;
      recipients.cc = draft_.cc;
      recipients.bcc = draft_.bcc;
      request_.parts = {std::move(subject), std::move(recipients)};
      last_type_ = kAskHeader;
      return Next::kSend;
    }
    case kAskBody:
      return PrepareBody(in.offset, in.length);
    case kAskAttachment:
      return PrepareAttachment(in.name, in.offset, in.length);
    default:
      return Fail(kLongStepInstruction, 0);
  }
}

LongMailConversation::Next LongMailConversation::PrepareBody(int64_t offset, int64_t length) {
  if (offset < 0 || length <= 0) return Fail(kLongStepInstruction, 0);
  if (last_type_ == kAskBody && offset <= last_offset_) return Fail(kLongStepInstruction, 0);
  const uint64_t size = draft_.body.size();
  if (static_cast<uint64_t>(offset) >= size) return Fail(kLongStepBodyOffset, 0);
  const uint64_t n = std::min<uint64_t>({size - static_cast<uint64_t>(offset),
                                          static_cast<uint64_t>(length), kMaxPieceBytes});
  if (!Ready(kStageBody, -1, std::string(), size, static_cast<uint64_t>(offset))) {
    return Next::kFailed;
  }
  LongMailPart part;
  part.type = kPartBody;
  part.offset = static_cast<uint32_t>(offset);
  part.data.assign(draft_.body.begin() + offset, draft_.body.begin() + offset + static_cast<int64_t>(n));
  request_.parts.push_back(std::move(part));
  last_type_ = kAskBody;
  last_offset_ = offset;
  return Next::kSend;
}

LongMailConversation::OpenFile* LongMailConversation::FileFor(const std::string& name) {
  auto it = files_.find(name);
  if (it != files_.end()) return it->second.get();
  // A name this delivery did not describe (it resumed an earlier one): its
  // path must be one of this mail's own local files, or nothing is opened.
  const size_t slash = name.find('\\');
  const std::string digest = name.substr(0, slash);
  const std::string path = slash == std::string::npos ? std::string() : name.substr(slash + 1);
  const auto known = std::find(local_paths_.begin(), local_paths_.end(), path);
  if (slash == std::string::npos || !IsDigestText(digest) || known == local_paths_.end()) {
    Fail(kLongStepOpenNamedFile, kCodeCannotOpen);
    return nullptr;
  }
  auto open = std::make_unique<OpenFile>();
  open->file = fs_->Open(path, FileSystem::OpenMode::kRead);
  if (open->file == nullptr || !open->file->Size(&open->size)) {
    Fail(kLongStepOpenNamedFile, kCodeCannotOpen);
    return nullptr;
  }
  std::string actual;
  uint32_t error = 0;
  if (open->size > kMaxWireSize || !Digest(open->file.get(), open->size, &actual, &error) ||
      actual != digest) {
    Fail(kLongStepDigestDiffers, kCodeContentChanged);
    return nullptr;
  }
  open->index = static_cast<int>(known - local_paths_.begin());
  open->path = path;
  OpenFile* kept = open.get();
  files_[name] = std::move(open);
  return kept;
}

LongMailConversation::Next LongMailConversation::PrepareAttachment(const std::string& name,
                                                                   int64_t offset,
                                                                   int64_t length) {
  if (offset < 0 || length <= 0) return Fail(kLongStepInstruction, 0);
  if (last_type_ == kAskAttachment && offset <= last_offset_ && name == last_name_) {
    return Fail(kLongStepInstruction, 0);
  }
  OpenFile* open = FileFor(name);
  if (open == nullptr) return Next::kFailed;
  if (static_cast<uint64_t>(offset) >= open->size) return Fail(kLongStepFileOffset, 0);
  const size_t n = static_cast<size_t>(std::min<uint64_t>(
      {open->size - static_cast<uint64_t>(offset), static_cast<uint64_t>(length), kMaxPieceBytes}));
  if (!Ready(kStageAttachment, open->index, open->path, open->size, static_cast<uint64_t>(offset))) {
    return Next::kFailed;
  }
  LongMailPart part;
  part.type = kPartAttachment;
  part.name = name;
  part.offset = static_cast<uint32_t>(offset);
  part.data.resize(n);
  size_t got = 0;
  if (!open->file->ReadAt(static_cast<uint64_t>(offset), part.data.data(), n, &got)) {
    return Fail(kLongStepReadFile, static_cast<int32_t>(GetLastError()));
  }
  if (got != n) return Fail(kLongStepReadFile, EIO);  // the file shrank
  request_.parts.push_back(std::move(part));
  last_type_ = kAskAttachment;
  last_offset_ = offset;
  last_name_ = name;
  return Next::kSend;
}

}  // namespace commands
}  // namespace quill
