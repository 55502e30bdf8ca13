#include "gateway/attach_command.h"

#include <httplib.h>

#include <algorithm>

#include "platform/utf.h"
#include "protocol/codec_status.h"

namespace quill {
namespace gateway {
namespace {

using protocol::CodecOk;
using protocol::TagCodec;

constexpr int kRemoteTimeoutSeconds = 5;
constexpr uint32_t kRemoteRetrySeconds = 1;

enum : int32_t { kDownload = 1, kText = 2, kPicture = 3 };
constexpr int32_t kSubComplete = -4;
constexpr int32_t kSubNothingMore = -7;
constexpr int32_t kSubVersionChanged = -8;

std::string Lower(std::string s) {
  for (char& c : s) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return s;
}

// The suffix of a cached image: from the media type, else the name's.
std::string ImageSuffix(const MailPart& part) {
  static const std::pair<const char*, const char*> kTypes[] = {
      {"image/png", ".png"}, {"image/jpeg", ".jpg"}, {"image/jpg", ".jpg"},
      {"image/gif", ".gif"}, {"image/bmp", ".bmp"}};
  for (const auto& [type, suffix] : kTypes) {
    if (part.media_type == type) return suffix;
  }
  const size_t dot = part.name.rfind('.');
  return dot == std::string::npos ? std::string() : Lower(part.name.substr(dot));
}

bool IsRemote(const std::string& url) {
  const std::string head = Lower(url.substr(0, 8));
  return head.compare(0, 7, "http://") == 0 || head.compare(0, 8, "https://") == 0;
}

// The content of the session account's mail, after a listing; null when
// the mail is unknown or unreadable.
std::shared_ptr<MailContent> ContentOf(MailboxSet* boxes, MailContentCache* cache,
                                       const GatewaySession& session, uint32_t server_id) {
  Mailbox* box = boxes->For(session.account);
  if (!box->Refresh()) return nullptr;
  const std::string file = box->MessageFile(server_id);
  return file.empty() ? nullptr : cache->For(file);
}

// The piece of `data` at offset: at most kAttachPieceBytes.
ByteView PieceAt(const Bytes& data, size_t offset) {
  const size_t start = std::min(offset, data.size());
  return ByteView(data.data() + start, std::min(kAttachPieceBytes, data.size() - start));
}

bool AnswerAttach(int32_t kind, TagCodec* sub, protocol::WireMessage* response) {
  response->SetType(protocol::MessageType::GetMailAttach);
  TagCodec& out = response->Body();
  return out.PutInt(1, 0) == CodecOk && out.PutInt(2, 0) == CodecOk &&
         out.PutInt(3, kind) == CodecOk && out.PutCodec(4, sub) == CodecOk;
}

bool AnswerDownload(const TagCodec& in, MailContent* content, const MailPart& part,
                    protocol::WireMessage* response) {
  int32_t offset = 0;
  if (in.GetInt(1, &offset) != CodecOk || offset < 0) {
    return AnswerResult(protocol::MessageType::GetMailAttach, kMailResultBadRequest, response);
  }
  const Bytes& data = part.data;
  const int32_t total = static_cast<int32_t>(std::min<size_t>(data.size(), INT32_MAX));
  TagCodec sub;
  const bool at_end = static_cast<size_t>(offset) >= data.size();
  const ByteView piece = PieceAt(data, static_cast<size_t>(offset));
  const bool ok =
      sub.PutInt(1, at_end ? kSubComplete : 0) == CodecOk && sub.PutInt(2, total) == CodecOk &&
      sub.PutInt(3, offset) == CodecOk &&
      sub.PutInt(4, at_end ? 0 : static_cast<int32_t>(piece.size)) == CodecOk &&
      sub.PutInt(6, content->VersionOf(ByteView(data))) == CodecOk &&
      (at_end || sub.PutBytes(5, piece) == CodecOk);
  return ok && AnswerAttach(kDownload, &sub, response);
}

bool AnswerText(const TagCodec& in, MailContent* content, const MailPart& part,
                protocol::WireMessage* response) {
  int32_t offset = 0, length = 0, held = 0;
  if (in.GetInt(1, &offset) != CodecOk || in.GetInt(2, &length) != CodecOk ||
      in.GetInt(3, &held) != CodecOk || offset < 0 || length < 0) {
    return AnswerResult(protocol::MessageType::GetMailAttach, kMailResultBadRequest, response);
  }
  const std::shared_ptr<const std::u16string> text = content->Text(&part);
  const int32_t version = content->VersionOf(ByteView(reinterpret_cast<const uint8_t*>(text->data()),
                                                       text->size() * sizeof(char16_t)));
  const int32_t total = static_cast<int32_t>(std::min<size_t>(text->size(), INT32_MAX));
  TagCodec sub;
  if (held != 0 && held != version) {
    // The copy the client holds is stale: it starts over.
    const bool ok = sub.PutInt(1, kSubNothingMore) == CodecOk && sub.PutInt(2, total) == CodecOk &&
                    sub.PutInt(6, version) == CodecOk;
    return ok && AnswerAttach(kText, &sub, response);
  }
  const size_t start = std::min<size_t>(static_cast<size_t>(offset), text->size());
  if (SplitsPair(*text, start)) {
    return AnswerResult(protocol::MessageType::GetMailAttach, kMailResultBadRequest, response);
  }
  const size_t end = SliceEnd(*text, start, static_cast<size_t>(length), kTextSliceBytes);
  const std::u16string slice = text->substr(start, end - start);
  const bool ok = sub.PutInt(1, 0) == CodecOk && sub.PutInt(2, total) == CodecOk &&
                  sub.PutInt(3, static_cast<int32_t>(start)) == CodecOk &&
                  sub.PutInt(4, static_cast<int32_t>(slice.size())) == CodecOk &&
                  sub.PutInt(6, version) == CodecOk &&
                  sub.PutBytes(5, ByteView(Utf16ToUtf8(slice))) == CodecOk;
  return ok && AnswerAttach(kText, &sub, response);
}

bool AnswerPicture(const TagCodec& in, MailContent* content, const MailPart& part,
                   protocol::WireMessage* response) {
  int32_t width = 0, height = 0, offset = 0, held = 0;
  if (in.GetInt(1, &width) != CodecOk || in.GetInt(2, &height) != CodecOk ||
      in.GetInt(3, &offset) != CodecOk || in.GetInt(5, &held) != CodecOk || offset < 0) {
    return AnswerResult(protocol::MessageType::GetMailAttach, kMailResultBadRequest, response);
  }
  const std::shared_ptr<const ScaledPicture> preview = content->Preview(&part, width, height);
  const Bytes& data = preview->data;
  const int32_t version = content->VersionOf(ByteView(data));
  const int32_t total = static_cast<int32_t>(std::min<size_t>(data.size(), INT32_MAX));
  int32_t sub_result = 0;
  if (offset > 0 && held != version) {
    sub_result = kSubVersionChanged;  // the client restarts from 0
  } else if (static_cast<size_t>(offset) >= data.size() && !data.empty()) {
    sub_result = kSubNothingMore;
  }
  TagCodec sub;
  bool ok = sub.PutInt(1, sub_result) == CodecOk && sub.PutInt(2, preview->width) == CodecOk &&
            sub.PutInt(3, preview->height) == CodecOk && sub.PutInt(4, total) == CodecOk &&
            sub.PutInt(8, version) == CodecOk;
  if (ok && sub_result == 0) {
    const ByteView piece = PieceAt(data, static_cast<size_t>(offset));
    ok = sub.PutInt(5, offset) == CodecOk &&
         sub.PutInt(6, static_cast<int32_t>(piece.size)) == CodecOk &&
         sub.PutBytes(7, piece) == CodecOk;
  }
  return ok && AnswerAttach(kPicture, &sub, response);
}

}  // namespace

std::shared_ptr<const ScaledPicture> MailContent::Preview(const MailPart* part, int width,
                                                          int height) {
  std::lock_guard<std::mutex> lock(mu_);
  auto& slot = previews_[std::make_tuple(part, width, height)];
  if (slot == nullptr) slot = std::make_shared<ScaledPicture>(ScaleToFit(part->data, width, height));
  return slot;
}

std::shared_ptr<const std::u16string> MailContent::Text(const MailPart* part) {
  std::lock_guard<std::mutex> lock(mu_);
  auto& slot = texts_[part];
  if (slot == nullptr) slot = std::make_shared<std::u16string>(Utf8ToUtf16(PartTextUtf8(*part)));
  return slot;
}

int32_t MailContent::VersionOf(ByteView bytes) {
  {
    std::lock_guard<std::mutex> lock(mu_);
    auto it = versions_.find(bytes.data);
    if (it != versions_.end()) return it->second;
  }
  const int32_t version = ContentVersion(bytes);
  std::lock_guard<std::mutex> lock(mu_);
  versions_[bytes.data] = version;
  return version;
}

std::shared_ptr<MailContent> MailContentCache::For(const std::string& file) {
  int64_t modified = 0;
  std::unique_ptr<File> f = fs_->Open(file, FileSystem::OpenMode::kRead);
  uint64_t size = 0;
  if (f == nullptr || !f->Size(&size) || !fs_->ModifiedTimeNs(file, &modified)) return nullptr;
  {
    std::lock_guard<std::mutex> lock(mu_);
    for (auto it = entries_.begin(); it != entries_.end(); ++it) {
      if (it->file == file && it->modified_ns == modified && it->size == size) {
        entries_.splice(entries_.begin(), entries_, it);
        return it->content;
      }
    }
  }
  std::string text(static_cast<size_t>(std::min<uint64_t>(size, kMaxMailFileBytes)), '\0');
  size_t got = 0;
  if (!f->ReadAt(0, text.data(), text.size(), &got)) return nullptr;
  text.resize(got);
  auto content = std::make_shared<MailContent>(ReadMailParts(text));
  std::lock_guard<std::mutex> lock(mu_);
  entries_.remove_if([&](const Entry& e) { return e.file == file; });
  entries_.push_front(Entry{file, modified, size, content});
  if (entries_.size() > kMails) entries_.pop_back();
  return content;
}

RemoteImages::~RemoteImages() {
  std::map<uint64_t, std::thread> threads;
  {
    std::lock_guard<std::mutex> lock(mu_);
    threads.swap(threads_);
  }
  for (auto& [id, t] : threads) t.join();
}

void RemoteImages::JoinFinishedLocked() {
  // A finished fetch only has to return once it released the lock.
  for (uint64_t id : finished_) {
    auto it = threads_.find(id);
    if (it == threads_.end()) continue;
    it->second.join();
    threads_.erase(it);
  }
  finished_.clear();
}

RemoteImages::State RemoteImages::Get(const std::string& url,
                                      std::shared_ptr<MailContent>* content) {
  std::lock_guard<std::mutex> lock(mu_);
  JoinFinishedLocked();
  auto it = entries_.find(url);
  if (it == entries_.end()) {
    if (entries_.size() >= kMaxEntries) {
      // Forget finished fetches first; a full table of running ones waits.
      for (auto e = entries_.begin(); e != entries_.end();) {
        e = e->second.state != State::kPending ? entries_.erase(e) : std::next(e);
      }
      if (entries_.size() >= kMaxEntries) return State::kPending;
    }
    it = entries_.emplace(url, Entry()).first;
  }
  Entry& entry = it->second;
  if (entry.state == State::kReady) *content = entry.content;
  if (entry.state == State::kPending && !entry.started && running_ < kMaxRunning) {
    entry.started = true;
    ++running_;
    const uint64_t id = next_thread_++;
    threads_.emplace(id, std::thread([this, id, url] { Fetch(id, url); }));
  }
  return entry.state;
}

void RemoteImages::Fetch(uint64_t id, std::string url) {
  // scheme://authority/path
  const size_t scheme_end = url.find("://");
  const size_t path_start = url.find('/', scheme_end + 3);
  const std::string origin = url.substr(0, path_start);
  const std::string path = path_start == std::string::npos ? "/" : url.substr(path_start);
  State state = State::kFailed;
  MailPart part;
  {
    httplib::Client client(origin);
    client.set_connection_timeout(kRemoteTimeoutSeconds, 0);
    client.set_read_timeout(kRemoteTimeoutSeconds, 0);
    size_t received = 0;
    httplib::Result result = client.Get(
        path, [&](const char* data, size_t n) {
          received += n;
          if (received > kMaxRemoteImageBytes) return false;
          part.data.insert(part.data.end(), data, data + n);
          return true;
        });
    if (result && result->status == 200 && received <= kMaxRemoteImageBytes) {
      state = State::kReady;
      part.media_type = Lower(result->get_header_value("Content-Type"));
      part.media_type = part.media_type.substr(0, part.media_type.find(';'));
      part.name = path.substr(path.rfind('/') + 1);
    }
  }
  std::vector<MailPart> parts;
  parts.push_back(std::move(part));
  std::lock_guard<std::mutex> lock(mu_);
  finished_.push_back(id);
  --running_;
  auto it = entries_.find(url);
  if (it == entries_.end()) return;
  it->second.state = state;
  if (state == State::kReady) it->second.content = std::make_shared<MailContent>(std::move(parts));
}

bool AttachCommand::Answer(const GatewaySession& session, const protocol::WireMessage& request,
                           protocol::WireMessage* response) {
  const TagCodec& in = request.Body();
  int32_t sid = 0, kind = 0;
  std::string name;
  TagCodec sub;
  if (in.GetInt(4, &sid) != CodecOk || in.GetString(5, &name) != CodecOk ||
      in.GetInt(6, &kind) != CodecOk || in.GetCodec(7, &sub) != CodecOk ||
      kind < kDownload || kind > kPicture) {
    return AnswerResult(type(), kMailResultBadRequest, response);
  }
  const std::shared_ptr<MailContent> content =
      ContentOf(boxes_, cache_, session, static_cast<uint32_t>(sid));
  const MailPart* part = content == nullptr ? nullptr : FindAttachment(content->parts(), name);
  if (part == nullptr) return AnswerResult(type(), kMailResultNotFound, response);
  switch (kind) {
    case kDownload: return AnswerDownload(sub, content.get(), *part, response);
    case kText: return AnswerText(sub, content.get(), *part, response);
    default: return AnswerPicture(sub, content.get(), *part, response);
  }
}

bool ImageCommand::Answer(const GatewaySession& session, const protocol::WireMessage& request,
                          protocol::WireMessage* response) {
  const TagCodec& in = request.Body();
  int32_t sid = 0, continuation = 0, offset = 0;
  uint32_t width = 0, height = 0;
  std::string url;
  if (in.GetInt(7, &sid) != CodecOk || in.GetString(8, &url) != CodecOk ||
      in.GetUInt(9, &width) != CodecOk || in.GetUInt(10, &height) != CodecOk ||
      in.GetInt(11, &offset) != CodecOk || in.GetInt(6, &continuation) != CodecOk || offset < 0) {
    return AnswerResult(type(), kMailResultBadRequest, response);
  }
  std::shared_ptr<MailContent> content;
  const MailPart* part = nullptr;
  if (IsRemote(url)) {
    if (!allow_remote_) return AnswerResult(type(), kImageResultRemoteRefused, response);
    switch (remote_.Get(url, &content)) {
      case RemoteImages::State::kPending: {
        response->SetType(type());
        return response->Body().PutInt(1, kImageResultNotReady) == CodecOk &&
               response->Body().PutUInt(11, kRemoteRetrySeconds) == CodecOk;
      }
      case RemoteImages::State::kFailed:
        return AnswerResult(type(), kMailResultNotFound, response);
      case RemoteImages::State::kReady: part = &content->parts().front(); break;
    }
  } else {
    content = ContentOf(boxes_, cache_, session, static_cast<uint32_t>(sid));
    part = content == nullptr ? nullptr : FindInlinePart(content->parts(), url);
  }
  if (part == nullptr) return AnswerResult(type(), kMailResultNotFound, response);
  const int box_w = static_cast<int>(std::min<uint32_t>(width, INT32_MAX));
  const int box_h = static_cast<int>(std::min<uint32_t>(height, INT32_MAX));
  const Bytes& data = content->Preview(part, box_w, box_h)->data;
  const int32_t version = content->VersionOf(ByteView(data));
  if (offset > 0 && continuation != version) {
    return AnswerResult(type(), kImageResultChanged, response);
  }
  if (static_cast<size_t>(offset) > data.size()) {
    return AnswerResult(type(), kMailResultBadRequest, response);
  }
  const ByteView piece = PieceAt(data, static_cast<size_t>(offset));
  response->SetType(type());
  TagCodec& out = response->Body();
  return out.PutInt(1, 0) == CodecOk && out.PutInt(2, version) == CodecOk &&
         out.PutInt(3, 0) == CodecOk &&
         out.PutBytes(4, ByteView(ImageSuffix(*part))) == CodecOk &&
         out.PutInt(5, offset) == CodecOk && out.PutInt(6, 0) == CodecOk &&
         out.PutInt(7, static_cast<int32_t>(std::min<size_t>(data.size(), INT32_MAX))) == CodecOk &&
         out.PutInt(8, 0) == CodecOk &&
         out.PutInt(9, static_cast<int32_t>(piece.size)) == CodecOk &&
         out.PutBytes(10, piece) == CodecOk && out.PutInt(12, 0) == CodecOk;
}

}  // namespace gateway
}  // namespace quill
