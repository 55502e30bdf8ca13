#include "gateway/mail_commands.h"

#include <zlib.h>

#include <chrono>
#include <set>

#include "gateway/gateway_server.h"
#include "platform/utf.h"
#include "protocol/codec_status.h"
#include "protocol/list_codec.h"

namespace quill {
namespace gateway {
namespace {

using protocol::CodecOk;
using protocol::ListReader;
using protocol::ListWriter;
using protocol::TagCodec;

constexpr uint32_t kMaxSubjectBytes = 512;
constexpr uint32_t kMaxNameBytes = 128;
// The brief text and the lists of a brief share what a response can hold.
constexpr size_t kBriefTextBytes = 6000;
constexpr int32_t kBriefListBytes = 10000;
// A 64-bit integer 0: the same bytes in either byte order.
constexpr uint8_t kZero64[8] = {};

enum ServerCommand : int32_t {
  kAddMailFolder = 1,
  kDelMailFolder = 3,
  kAddMail = 11,
  kUpdateMail = 12,
  kDelMail = 13,
  kAddContact = 21,
  kUpdateContact = 22,
  kDelContact = 23,
};

bool IsHighSurrogate(char16_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool IsLowSurrogate(char16_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

// The end of a slice of `text` from `start`: at most `max_units` units and
// `max_bytes` UTF-8 bytes, never splitting a surrogate pair.
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

int32_t BodyVersion(const std::string& body_utf8) {
  const uLong crc = crc32(0, reinterpret_cast<const Bytef*>(body_utf8.data()),
                          static_cast<uInt>(body_utf8.size()));
  // The client keeps the version in 16 bits.
  const int32_t v = static_cast<int32_t>(crc & 0x7FFF);
  return v == 0 ? 1 : v;
}

bool PutText(TagCodec* c, uint32_t tag, const std::string& text, size_t max) {
  return c->PutBytes(tag, ByteView(CutUtf8(text, max))) == CodecOk;
}

bool PutAddress(TagCodec* c, const MailAddress& a) {
  return PutText(c, 1, a.address, kMaxNameBytes) && PutText(c, 2, a.name, kMaxNameBytes);
}

// A response holding only its result.
bool AnswerResult(protocol::MessageType type, int32_t result, protocol::WireMessage* response) {
  response->SetType(type);
  return response->Body().PutInt(1, result) == CodecOk;
}

// What the client asked not to be sent new mails of.
struct SyncFilter {
  std::set<uint32_t> excluded_folders;  // request tag 11
  int64_t oldest_date = 0;              // mails dated before it are history (tag 10)
};

// The client's filter from a sync request; the folders it may not exclude
// (inbox, sent, drafts) are never filtered.
SyncFilter ReadFilter(const TagCodec& request) {
  SyncFilter filter;
  TagCodec excluded;
  if (request.GetCodec(11, &excluded) == CodecOk) {
    int32_t folder = 0;
    for (uint32_t tag = 1; excluded.GetInt(tag, &folder) == CodecOk; ++tag) {
      const uint32_t id = static_cast<uint32_t>(folder);
      if (id != kInboxFolderId && id != kSentFolderId && id != kDraftsFolderId) {
        filter.excluded_folders.insert(id);
      }
    }
  }
  uint32_t span = 0;
  if (request.GetUInt(10, &span) == CodecOk && span > 0) {
    const int64_t now = std::chrono::duration_cast<std::chrono::seconds>(
                            std::chrono::system_clock::now().time_since_epoch())
                            .count();
    filter.oldest_date = now - span;
  }
  return filter;
}

// One server command for a journal entry; false when the entry's object is
// gone or filtered out (nothing to say) or cannot be encoded.
bool BuildServerCommand(Mailbox* box, const SyncFilter& filter, const JournalEntry& e,
                        TagCodec* item) {
  TagCodec body;
  int32_t type = 0;
  bool ok = true;
  switch (e.kind) {
    case JournalEntry::kAddFolder: {
      MailboxFolder f;
      if (!box->FindFolder(e.id, &f)) return false;
      type = kAddMailFolder;
      ok = body.PutInt(1, static_cast<int32_t>(f.id)) == CodecOk && PutText(&body, 2, f.name, kMaxNameBytes);
      break;
    }
    case JournalEntry::kDelFolder:
      type = kDelMailFolder;
      ok = body.PutInt(1, static_cast<int32_t>(e.id)) == CodecOk;
      break;
    case JournalEntry::kAddMail: {
      MailboxMail m;
      MailHead head;
      if (!box->FindMail(e.id, &m)) return false;
      box->ReadHead(e.id, &head);  // an unreadable file still appears, without its head
      // New mail of excluded folders, and history beyond the span, stay on
      // the service. (A mail without a date is never history.)
      if (filter.excluded_folders.count(m.folder_id) != 0 ||
          (head.date > 0 && head.date < filter.oldest_date)) {
        return false;
      }
      type = kAddMail;
      const int64_t date = head.date < 0 ? 0 : std::min<int64_t>(head.date, UINT32_MAX);
      ok = body.PutInt(1, static_cast<int32_t>(m.server_id)) == CodecOk &&
           body.PutInt(2, m.unread ? 1 : 0) == CodecOk &&
           PutText(&body, 3, head.subject, kMaxSubjectBytes) &&
           PutText(&body, 4, head.from.name, kMaxNameBytes) &&
           PutText(&body, 5, head.from.address, kMaxNameBytes) &&
           body.PutInt(6, static_cast<int32_t>(m.folder_id)) == CodecOk &&
           body.PutUInt(7, static_cast<uint32_t>(date)) == CodecOk;
      break;
    }
    case JournalEntry::kUpdateMail: {
      MailboxMail m;
      if (!box->FindMail(e.id, &m)) return false;
      type = kUpdateMail;
      ok = body.PutInt(1, 1 | 16) == CodecOk &&
           body.PutInt(2, static_cast<int32_t>(m.server_id)) == CodecOk &&
           body.PutInt(3, m.unread ? 1 : 0) == CodecOk &&
           body.PutInt(7, static_cast<int32_t>(m.folder_id)) == CodecOk;
      break;
    }
    case JournalEntry::kDelMail:
      type = kDelMail;
      ok = body.PutInt(1, static_cast<int32_t>(e.id)) == CodecOk;
      break;
    case JournalEntry::kAddContact: {
      MailboxContact c;
      if (!box->FindContact(e.id, &c)) return false;
      type = kAddContact;
      ok = body.PutUInt(1, c.id) == CodecOk && PutText(&body, 2, c.name, kMaxNameBytes) &&
           PutText(&body, 3, c.address, kMaxNameBytes) && body.PutInt(4, 0) == CodecOk &&
           body.PutBytes(5, ByteView()) == CodecOk && body.PutBytes(6, ByteView()) == CodecOk;
      break;
    }
    case JournalEntry::kUpdateContact: {
      MailboxContact c;
      if (!box->FindContact(e.id, &c)) return false;
      type = kUpdateContact;
      ok = body.PutInt(1, 1) == CodecOk && body.PutUInt(2, c.id) == CodecOk &&
           PutText(&body, 3, c.name, kMaxNameBytes);
      break;
    }
    case JournalEntry::kDelContact:
      type = kDelContact;
      ok = body.PutUInt(1, e.id) == CodecOk;
      break;
  }
  return ok && item->PutInt(1, type) == CodecOk && item->PutCodec(2, &body) == CodecOk;
}

// Applies the client's commands of a sync request. False on a malformed
// list or a command of a kind the client never sends.
bool ApplyClientCommands(Mailbox* box, const TagCodec& request) {
  ListReader commands;
  if (commands.Open(request, 6, 7) != CodecOk) return false;
  for (int32_t i = 1; i <= commands.count(); ++i) {
    TagCodec item, body;
    int32_t type = 0, a = 0, b = 0, flags = 0;
    if (commands.Item(i, &item) != CodecOk || item.GetInt(1, &type) != CodecOk ||
        item.GetCodec(2, &body) != CodecOk) {
      return false;
    }
    if (type == kDelMail) {
      if (body.GetInt(1, &a) != CodecOk) return false;
      box->DeleteMail(static_cast<uint32_t>(a));
    } else if (type == kUpdateMail) {
      if (body.GetInt(1, &a) != CodecOk || body.GetInt(2, &b) != CodecOk) return false;
      if ((a & 1) != 0) {
        if (body.GetInt(3, &flags) != CodecOk) return false;
        box->SetUnread(static_cast<uint32_t>(b), (flags & 1) != 0);
      }
    } else {
      return false;
    }
  }
  return true;
}

}  // namespace

MailboxSet::MailboxSet(FileSystem* fs, std::string state_dir)
    : fs_(fs), state_dir_(std::move(state_dir)) {}

Mailbox* MailboxSet::For(const std::string& account) {
  std::lock_guard<std::mutex> lock(mu_);
  std::unique_ptr<Mailbox>& box = boxes_[account];
  if (box == nullptr) box = std::make_unique<Mailbox>(fs_, MaildirPath(state_dir_, account));
  return box.get();
}

bool SyncCommand::Answer(const GatewaySession& session, const protocol::WireMessage& request,
                         protocol::WireMessage* response) {
  Mailbox* box = boxes_->For(session.account);
  int32_t key = 0;
  if (request.Body().GetInt(3, &key) != CodecOk) {
    return AnswerResult(type(), kMailResultBadRequest, response);
  }
  // Local changes first, so this very answer reports their outcome.
  box->Refresh();
  if (!ApplyClientCommands(box, request.Body())) {
    return AnswerResult(type(), kMailResultBadRequest, response);
  }
  if (!box->Refresh()) return AnswerResult(type(), kMailResultMailboxUnreadable, response);

  const std::vector<JournalEntry> entries = box->EntriesAfter(key);
  const SyncFilter filter = ReadFilter(request.Body());
  ListWriter list;
  uint32_t new_key = box->newest_key();
  bool more = false;
  for (const JournalEntry& e : entries) {
    TagCodec item;
    if (!BuildServerCommand(box, filter, e, &item)) continue;
    if (list.count() > 0 && list.list()->Size() + item.Size() > kSyncPageBytes) {
      more = true;
      break;
    }
    if (list.Add(&item) != CodecOk) return false;
    new_key = e.seq;
  }
  if (!more) new_key = box->newest_key();
  response->SetType(type());
  TagCodec& out = response->Body();
  return out.PutInt(1, 0) == CodecOk && out.PutInt(2, static_cast<int32_t>(new_key)) == CodecOk &&
         out.PutInt(3, more ? 1 : 0) == CodecOk && out.PutInt(4, list.count()) == CodecOk &&
         (list.count() == 0 || out.PutCodec(6, list.list()) == CodecOk) &&
         out.PutInt(5, 0) == CodecOk;
}

bool BriefCommand::Answer(const GatewaySession& session, const protocol::WireMessage& request,
                          protocol::WireMessage* response) {
  Mailbox* box = boxes_->For(session.account);
  int32_t sid = 0;
  if (request.Body().GetInt(2, &sid) != CodecOk) {
    return AnswerResult(type(), kMailResultBadRequest, response);
  }
  ParsedMail mail;
  if (!box->Refresh() || !box->ReadMail(static_cast<uint32_t>(sid), &mail)) {
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
  if (!box->Refresh() || !box->ReadMail(static_cast<uint32_t>(sid), &mail)) {
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
  if (start > 0 && start < body.size() && IsLowSurrogate(body[start]) &&
      IsHighSurrogate(body[start - 1])) {
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
