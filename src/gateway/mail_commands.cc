#include "gateway/mail_commands.h"

#include <zlib.h>


#include "gateway/gateway_server.h"
#include "platform/utf.h"
#include "protocol/codec_status.h"
#include "protocol/list_codec.h"

namespace quill {
namespace gateway {
namespace {

using protocol::CodecOk;
using protocol::ListWriter;
using protocol::TagCodec;

// The brief text and the lists of a brief share what a response can hold.
constexpr size_t kBriefTextBytes = 6000;
constexpr int32_t kBriefListBytes = 10000;
// A 64-bit integer 0: the same bytes in either byte order.
constexpr uint8_t kZero64[8] = {};

int32_t BodyVersion(const std::string& body_utf8) {
  // The client keeps the version in 16 bits.
  const int32_t v = ContentVersion(ByteView(body_utf8)) & 0x7FFF;
  return v == 0 ? 1 : v;
}

bool PutAddress(TagCodec* c, const MailAddress& a) {
  return PutText(c, 1, a.address, kMaxNameBytes) && PutText(c, 2, a.name, kMaxNameBytes);
}

}  // namespace

size_t SliceEnd(const std::u16string& text, size_t start, size_t max_units, size_t max_bytes) {
  size_t i = start, bytes = 0;
  while (i < text.size()) {
    const char16_t u = text[i];
    const bool pair = IsHighSurrogate(u) && i + 1 < text.size() && IsLowSurrogate(text[i + 1]);
    const size_t units = pair ? 2 : 1;
    const size_t width = pair ? 4 : (u < 0x80 ? 1 : (u < 0x800 ? 2 : 3));
    if (i + units - start > max_units || bytes + width > max_bytes) break;
    i += units;
    bytes += width;
  }
  return i;
}

bool SplitsPair(const std::u16string& text, size_t start) {
  return start > 0 && start < text.size() && IsLowSurrogate(text[start]) &&
         IsHighSurrogate(text[start - 1]);
}

int32_t ContentVersion(ByteView content) {
  uLong crc = crc32(0, nullptr, 0);
  // zlib takes at most 4 GB a call.
  for (size_t done = 0; done < content.size;) {
    const uInt n = static_cast<uInt>(std::min<size_t>(content.size - done, 1u << 30));
    crc = crc32(crc, content.data + done, n);
    done += n;
  }
  const int32_t v = static_cast<int32_t>(crc & 0x7FFFFFFF);
  return v == 0 ? 1 : v;
}

bool PutText(TagCodec* c, uint32_t tag, const std::string& text, size_t max) {
  return c->PutBytes(tag, ByteView(CutUtf8(text, max))) == CodecOk;
}

bool AnswerResult(protocol::MessageType type, int32_t result, protocol::WireMessage* response) {
  response->SetType(type);
  return response->Body().PutInt(1, result) == CodecOk;
}

MailboxSet::MailboxSet(FileSystem* fs, std::string state_dir)
    : fs_(fs), state_dir_(std::move(state_dir)) {}

Mailbox* MailboxSet::For(const std::string& account) {
  std::lock_guard<std::mutex> lock(mu_);
  std::unique_ptr<Mailbox>& box = boxes_[account];
  if (box == nullptr) box = std::make_unique<Mailbox>(fs_, MaildirPath(state_dir_, account));
  return box.get();
}

bool BriefCommand::Answer(const GatewaySession& session, const protocol::WireMessage& request,
                          protocol::WireMessage* response) {
  Mailbox* box = boxes_->For(session.account);
  int32_t sid = 0;
  if (request.Body().GetInt(2, &sid) != CodecOk) {
    return AnswerResult(type(), kMailResultBadRequest, response);
  }
  ParsedMail mail;
  if (!box->Refresh()) return AnswerResult(type(), kMailResultMailboxUnreadable, response);
  if (!box->ReadMail(static_cast<uint32_t>(sid), &mail)) {
    return AnswerResult(type(), kMailResultNotFound, response);
  }
  const std::u16string body = Utf8ToUtf16(mail.body);
  const std::u16string brief = body.substr(0, SliceEnd(body, 0, kBriefUnits, kBriefTextBytes));

  auto write_list = [](const std::vector<MailAddress>& all, ListWriter* list) {
    for (const MailAddress& a : all) {
      TagCodec item;
      if (!PutAddress(&item, a)) return false;
      if (list->list()->Size() + item.Size() > kBriefListBytes / 3) break;  // the count tag still tells all
      if (list->Add(&item) != CodecOk) return false;
    }
    return true;
  };
  ListWriter to, cc, attachments;
  if (!write_list(mail.to, &to) || !write_list(mail.cc, &cc)) return false;
  for (const MailAttachment& a : mail.attachments) {
    TagCodec item;
    if (!PutText(&item, 1, a.name, kMaxNameBytes) ||
        item.PutInt(2, static_cast<int32_t>(std::min<uint32_t>(a.size, INT32_MAX))) != CodecOk ||
        item.PutInt(3, 0) != CodecOk) {
      return false;
    }
    if (attachments.list()->Size() + item.Size() > kBriefListBytes / 3) break;
    if (attachments.Add(&item) != CodecOk) return false;
  }
  TagCodec sender;
  if (!PutAddress(&sender, mail.from)) return false;

  response->SetType(type());
  TagCodec& out = response->Body();
  return out.PutInt(1, 0) == CodecOk && out.PutInt(2, 0) == CodecOk &&
         out.PutInt(3, sid) == CodecOk &&
         out.PutInt(4, static_cast<int32_t>(body.size())) == CodecOk &&
         out.PutCodec(5, &sender) == CodecOk &&
         out.PutInt(6, static_cast<int32_t>(mail.to.size())) == CodecOk &&
         out.PutInt(7, to.count()) == CodecOk && out.PutCodec(8, to.list()) == CodecOk &&
         out.PutInt(9, static_cast<int32_t>(mail.cc.size())) == CodecOk &&
         out.PutInt(10, cc.count()) == CodecOk && out.PutCodec(11, cc.list()) == CodecOk &&
         out.PutInt(12, 0) == CodecOk && PutText(&out, 13, mail.subject, kMaxSubjectBytes) &&
         out.PutBytes(14, ByteView(kZero64, sizeof kZero64)) == CodecOk &&
         out.PutInt(15, static_cast<int32_t>(mail.attachments.size())) == CodecOk &&
         out.PutInt(16, attachments.count()) == CodecOk &&
         out.PutCodec(17, attachments.list()) == CodecOk &&
         out.PutBytes(18, ByteView(Utf16ToUtf8(brief))) == CodecOk &&
         out.PutInt(19, BodyVersion(mail.body)) == CodecOk;
}

bool BodyCommand::Answer(const GatewaySession& session, const protocol::WireMessage& request,
                         protocol::WireMessage* response) {
  Mailbox* box = boxes_->For(session.account);
  const TagCodec& in = request.Body();
  int32_t sid = 0, offset = 0, held_version = 0;
  if (in.GetInt(2, &sid) != CodecOk || in.GetInt(3, &offset) != CodecOk || offset < 0) {
    return AnswerResult(type(), kMailResultBadRequest, response);
  }
  if (offset != 0 && in.GetInt(7, &held_version) != CodecOk) {
    return AnswerResult(type(), kMailResultBadRequest, response);
  }
  ParsedMail mail;
  if (!box->Refresh()) return AnswerResult(type(), kMailResultMailboxUnreadable, response);
  if (!box->ReadMail(static_cast<uint32_t>(sid), &mail)) {
    return AnswerResult(type(), kMailResultNotFound, response);
  }
  const std::u16string body = Utf8ToUtf16(mail.body);
  const int32_t version = BodyVersion(mail.body);
  int32_t result = 0;
  size_t start = static_cast<size_t>(offset);
  if (offset != 0 && held_version != version) {
    result = kMailResultVersionChanged;  // the client starts over from 0
    start = 0;
  }
  if (start > body.size()) start = body.size();
  if (SplitsPair(body, start)) {
    return AnswerResult(type(), kMailResultBadRequest, response);  // inside a pair
  }
  const size_t end = SliceEnd(body, start, body.size(), kBodySliceBytes);
  response->SetType(type());
  TagCodec& out = response->Body();
  return out.PutInt(1, result) == CodecOk && out.PutInt(2, 0) == CodecOk &&
         out.PutInt(3, sid) == CodecOk &&
         out.PutInt(4, static_cast<int32_t>(body.size())) == CodecOk &&
         out.PutBytes(5, ByteView(Utf16ToUtf8(body.substr(start, end - start)))) == CodecOk &&
         out.PutInt(6, static_cast<int32_t>(start)) == CodecOk &&
         out.PutInt(7, version) == CodecOk;
}

}  // namespace gateway
}  // namespace quill
