#include "facade/sync_applier.h"

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

void AddMail(store::AccountStore* store, const SyncCommand& c, SyncPageStats* stats) {
  store::MailStore* mails = store->mails();
  const std::u16string sender = SenderText(Text(c, 1), Text(c, 2));
  store::MailRecord record;
  const uint32_t held = mails->FindByServerID(c.id);
  if (held != 0 && !mails->ReadMail(held, &record)) return;
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
  const bool ok = held != 0 ? mails->WriteMail(held, &record) : mails->AddOrUpdateMail(&record) != 0;
  if (!ok) return;
  ++stats->applied;
  if (held == 0 && (c.flags & store::kUnreadFlag) != 0) ++stats->unread_added;
  store->address_book()->AddUnknownAddresses({sender});
}

void ApplyCommand(store::AccountStore* store, const SyncCommand& c, SyncPageStats* stats) {
  store::MailStore* mails = store->mails();
  bool changed = false;
  switch (c.type) {
    case commands::kRbcmdAddMail:
      AddMail(store, c, stats);
      return;
    case commands::kRbcmdUpdateMail: {
      const uint32_t mail = mails->FindByServerID(c.id);
      if (mail == 0) return;
      if (c.mask & 1) changed = mails->SetMailFlags(mail, static_cast<uint32_t>(c.flags));
      if (c.folder_id != -1) changed = mails->MoveMail(mail, static_cast<uint32_t>(c.folder_id)) || changed;
      break;
    }
    case commands::kRbcmdDelMail: {
      const uint32_t mail = mails->FindByServerID(c.id);
      changed = mail != 0 && mails->DeleteMail(mail);
      break;
    }
    case commands::kRbcmdAddMailFolder:
      changed = store->folders()->AddFolder(c.id, Text(c, 0));
      break;
    case commands::kRbcmdUpdateMailFolder:
      changed = store->folders()->UpdateFolder(c.id, static_cast<uint32_t>(c.mask), Text(c, 0));
      break;
    case commands::kRbcmdDelMailFolder:
      changed = store->folders()->DeleteFolder(c.id);
      break;
    case commands::kRbcmdAddContact:
      changed = store->address_book()->AddContact(Text(c, 0), Text(c, 1),
                                                  static_cast<uint32_t>(c.number), c.id,
                                                  Text(c, 2), Text(c, 3));
      break;
    case commands::kRbcmdUpdateContact: {
      // The texts present are those whose mask bits are set, in tag order.
      std::u16string name, address;
      size_t next = 0;
      if (c.mask & 1) name = Text(c, next++);
      if (c.mask & 2) address = Text(c, next++);
      changed = store->address_book()->UpdateContact(name, address, static_cast<uint32_t>(c.number),
                                                     c.id, static_cast<uint32_t>(c.mask));
      break;
    }
    case commands::kRbcmdDelContact:
      changed = store->address_book()->DeleteContact(c.id);
      break;
    default:  // group commands: decoded, not kept
      return;
  }
  if (changed) ++stats->applied;
}

}  // namespace

bool ApplySyncPage(store::AccountStore* store, const commands::SyncResponse& page, bool durable,
                   SyncPageStats* stats) {
  *stats = SyncPageStats();
  store->mails()->BeginBatch();
  for (const SyncCommand& c : page.commands) ApplyCommand(store, c, stats);
  store->mails()->EndBatch(/*flush=*/false);  // the key's durable set flushes
  // Embedded briefs are stored as fetched ones, in a batch of their own.
  if (!page.briefs.empty()) {
    store->mails()->BeginBatch();
    for (const commands::BriefResponse& brief : page.briefs) {
      const uint32_t mail_id = store->mails()->FindByServerID(brief.server_id);
      if (mail_id != 0) StoreBrief(store, mail_id, brief);
    }
    store->mails()->EndBatch(/*flush=*/false);
  }
  return store->SetSyncKey(page.new_key, durable);
}

}  // namespace facade
}  // namespace quill
