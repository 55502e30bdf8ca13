#include "gateway/sync_command.h"

#include <algorithm>
#include <chrono>
#include <set>

#include "protocol/codec_status.h"
#include "protocol/list_codec.h"

namespace quill {
namespace gateway {
namespace {

using protocol::CodecOk;
using protocol::ListReader;
using protocol::ListWriter;
using protocol::TagCodec;

// Journal entries read at a time while a page is built.
constexpr size_t kEntriesPerRead = 64;

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

// What the client asked not to be sent new mails of.
struct SyncFilter {
  std::set<uint32_t> excluded_folders;  // request tag 11
  int64_t oldest_arrival = 0;           // mails that arrived before it are history (tag 10)
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
    filter.oldest_arrival = now - span;
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
      // the service. History counts from arrival: a mail delivered today is
      // new whatever its Date header says.
      if (filter.excluded_folders.count(m.folder_id) != 0 ||
          head.arrival < filter.oldest_arrival) {
        return false;
      }
      type = kAddMail;
      const int64_t date = std::clamp<int64_t>(head.date, 0, UINT32_MAX);
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

  const SyncFilter filter = ReadFilter(request.Body());
  // A client at key 0 holds nothing of the mailbox: the adds, each
  // answered with its object's state now, are all it needs.
  const bool only_adds = key == 0;
  uint32_t after = box->ResumeAfter(key);
  uint32_t new_key = after;
  ListWriter list;
  bool more = false;
  for (bool read_all = false; !read_all && !more;) {
    uint32_t through = 0;
    const std::vector<JournalEntry> entries = box->EntriesAfter(after, kEntriesPerRead, &through);
    read_all = entries.size() < kEntriesPerRead;
    for (const JournalEntry& e : entries) {
      TagCodec item;
      if ((!only_adds || JournalEntry::IsAdd(e.kind)) &&
          BuildServerCommand(box, filter, e, &item)) {
        if (list.count() > 0 && list.list()->Size() + item.Size() > kSyncPageBytes) {
          more = true;
          break;
        }
        if (list.Add(&item) != CodecOk) return false;
      }
      new_key = e.seq;
    }
    if (!more) new_key = after = through;
  }
  response->SetType(type());
  TagCodec& out = response->Body();
  return out.PutInt(1, 0) == CodecOk && out.PutInt(2, static_cast<int32_t>(new_key)) == CodecOk &&
         out.PutInt(3, more ? 1 : 0) == CodecOk && out.PutInt(4, list.count()) == CodecOk &&
         (list.count() == 0 || out.PutCodec(6, list.list()) == CodecOk) &&
         out.PutInt(5, 0) == CodecOk;
}

}  // namespace gateway
}  // namespace quill
