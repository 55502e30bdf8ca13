#include "facade/sync_applier.h"

#include "engine/trace.h"
#include "facade/mail_fetch_store.h"
#include "platform/utf.h"
#include "store/filetime.h"
#include "store/mail_record.h"

namespace quill {
namespace facade {
namespace {

using commands::SyncCommand;

std::u16string Text(const SyncCommand& c, size_t i) {
  return i < c.texts.size() ? Utf8ToUtf16(c.texts[i]) : std::u16string();
}

// "\"name\"<address>", as every sender text is kept.
std::u16string SenderText(const std::u16string& name, const std::u16string& address) {
  return u"\"" + name + u"\"<" + address + u">";
}

// Each applies one command; false when a store operation failed. A
// command for something the store does not hold (or, for an add, holds
// already) changes nothing and succeeds. *logged_id: the id of the
// command's line in the mail log.

bool AddMail(store::AccountStore* store, const SyncCommand& c, SyncPageStats* stats,
             uint32_t* logged_id) {
  store::MailStore* mails = store->mails();
  const std::u16string sender = SenderText(Text(c, 1), Text(c, 2));
  store::MailRecord record;
  const uint32_t held = mails->FindByServerID(c.id);
  if (held != 0 && !mails->ReadMail(held, &record)) return false;
  if (held == 0) {
    record.set_server_id(c.id);
    record.set_local_kind(0);  // a mail of the service
  }
  record.set_flags(static_cast<uint32_t>(c.flags));
  record.set_folder(static_cast<uint32_t>(c.folder_id));
  record.set_date(store::FiletimeFromSeconds(c.date));
  record.subject = Text(c, 0);
  record.sender = sender;
  record.MarkTextsChanged();
  *logged_id = held != 0 ? held : mails->AddOrUpdateMail(&record);
  if (*logged_id == 0 || (held != 0 && !mails->WriteMail(held, &record))) return false;
  if (held == 0 && (c.flags & store::kUnreadFlag) != 0) ++stats->unread_added;
  return store->address_book()->AddUnknownAddresses({sender});
}

bool UpdateMail(store::AccountStore* store, const SyncCommand& c, uint32_t* logged_id) {
  store::MailStore* mails = store->mails();
  const uint32_t mail = mails->FindByServerID(c.id);
  *logged_id = mail;
  if (mail == 0) return true;
  if ((c.mask & 1) != 0 && !mails->SetMailFlags(mail, static_cast<uint32_t>(c.flags))) return false;
  return c.folder_id == -1 || mails->MoveMail(mail, static_cast<uint32_t>(c.folder_id));
}

bool DelMail(store::AccountStore* store, const SyncCommand& c, uint32_t* logged_id) {
  const uint32_t mail = store->mails()->FindByServerID(c.id);
  *logged_id = mail;
  return mail == 0 || store->mails()->DeleteMail(mail);
}

bool FolderCommand(store::FolderStore* folders, const SyncCommand& c) {
  const bool held = c.id == store::kAllFolders || folders->Find(c.id) != nullptr;
  switch (c.type) {
    case commands::kRbcmdAddMailFolder:
      return held || folders->AddFolder(c.id, Text(c, 0));
    case commands::kRbcmdUpdateMailFolder:
      return !held || folders->UpdateFolder(c.id, static_cast<uint32_t>(c.mask), Text(c, 0));
    default:  // kRbcmdDelMailFolder
      return !held || folders->DeleteFolder(c.id);
  }
}

bool ContactCommand(store::AddressBook* book, const SyncCommand& c) {
  const bool held = book->HasContact(c.id);
  switch (c.type) {
    case commands::kRbcmdAddContact: {
      // The book keeps only contacts of the service with an address.
      const std::u16string address = Text(c, 1);
      if (held || c.id == store::kLocalContactId || address.find(u'@') == std::u16string::npos) {
        return true;
      }
      return book->AddContact(Text(c, 0), address, static_cast<uint32_t>(c.number), c.id,
                              Text(c, 2), Text(c, 3));
    }
    case commands::kRbcmdUpdateContact: {
      if (!held) return true;
      // The texts present are those whose mask bits are set, in tag order.
      std::u16string name, address;
      size_t next = 0;
      if (c.mask & 1) name = Text(c, next++);
      if (c.mask & 2) address = Text(c, next++);
      return book->UpdateContact(name, address, static_cast<uint32_t>(c.number), c.id,
                                 static_cast<uint32_t>(c.mask));
    }
    default:  // kRbcmdDelContact
      return !held || book->DeleteContact(c.id);
  }
}

// The mail log's text of a command; null for the group commands.
const char* LogText(int32_t type) {
  switch (type) {
    case commands::kRbcmdAddMail: return "RBCMD_AddMail: ";
    case commands::kRbcmdUpdateMail: return "RBCMD_UpdateMail: ";
    case commands::kRbcmdDelMail: return "RBCMD_DelMail: ";
    case commands::kRbcmdAddMailFolder: return "RBCMD_AddMailFolder: ";
    case commands::kRbcmdUpdateMailFolder: return "RBCMD_UpdateMailFolder: ";
    case commands::kRbcmdDelMailFolder: return "RBCMD_DelMailFolder: ";
    case commands::kRbcmdAddContact: return "RBCMD_AddContact: ";
    case commands::kRbcmdUpdateContact: return "RBCMD_UpdateContact: ";
    case commands::kRbcmdDelContact: return "RBCMD_DelContact: ";
    default: return nullptr;
  }
}

bool ApplyCommand(store::AccountStore* store, const SyncCommand& c, SyncPageStats* stats) {
  uint32_t logged_id = c.id;
  bool ok = true;
  switch (c.type) {
    case commands::kRbcmdAddMail:
      ok = AddMail(store, c, stats, &logged_id);
      break;
    case commands::kRbcmdUpdateMail:
      ok = UpdateMail(store, c, &logged_id);
      break;
    case commands::kRbcmdDelMail:
      ok = DelMail(store, c, &logged_id);
      break;
    case commands::kRbcmdAddMailFolder:
    case commands::kRbcmdUpdateMailFolder:
    case commands::kRbcmdDelMailFolder:
      ok = FolderCommand(store->folders(), c);
      break;
    case commands::kRbcmdAddContact:
    case commands::kRbcmdUpdateContact:
    case commands::kRbcmdDelContact:
      ok = ContactCommand(store->address_book(), c);
      break;
    default:  // group commands: decoded, not kept
      break;
  }
  if (const char* text = LogText(c.type)) engine::WriteLog(engine::kMailLog, text, logged_id, 0);
  return ok;
}

}  // namespace

bool ApplySyncPage(store::AccountStore* store, const commands::SyncResponse& page, bool durable,
                   SyncPageStats* stats) {
  SyncPageStats counted;
  // Mails, folders and contacts in one batch; EndBatch is false when a
  // write of the batch failed (the key's durable set commits it).
  store->BeginBatch();
  bool ok = true;
  for (const SyncCommand& c : page.commands) {
    if (!(ok = ApplyCommand(store, c, &counted))) break;
  }
  ok = store->EndBatch(/*flush=*/false) && ok;
  // Embedded briefs are stored as fetched ones, in a batch of their own.
  if (ok && !page.briefs.empty()) {
    store::MailStore* mails = store->mails();
    store->BeginBatch();
    for (const commands::BriefResponse& brief : page.briefs) {
      const uint32_t mail_id = mails->FindByServerID(brief.server_id);
      if (mail_id != 0 && !(ok = StoreBrief(store, mail_id, brief))) break;
    }
    ok = store->EndBatch(/*flush=*/false) && ok;
  }
  ok = ok && store->SetSyncKey(page.new_key, durable);
  *stats = ok ? counted : SyncPageStats();
  return ok;
}

}  // namespace facade
}  // namespace quill
