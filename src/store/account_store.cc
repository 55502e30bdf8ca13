#include "store/account_store.h"

#include <algorithm>
#include <cctype>

#include "platform/clock.h"
#include "platform/codepage.h"
#include "platform/crypto.h"
#include "platform/hex.h"
#include "platform/utf.h"
#include "store/global_settings.h"
#include "store/filetime.h"
#include "store/le_bytes.h"

namespace quill {
namespace store {
namespace {

bool IsHex32(const std::u16string& text) {
  if (text.size() != 32) return false;
  for (char16_t c : text) {
    if (c > 0x7F || !std::isxdigit(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

std::u16string LowerHex(const uint8_t* bytes, size_t n) {
  return Utf8ToUtf16(HexEncodeLower(ByteView(bytes, n)));
}

}  // namespace

AccountStore::AccountStore(FileSystem* fs)
    : fs_(fs), mails_(fs), folders_(fs), address_book_(fs), settings_(fs) {}

bool AccountStore::Open(uint32_t uin, const std::string& data_dir) {
  if (opened_) return false;
  uin_ = uin;
  account_dir_ = data_dir + std::to_string(uin) + "/";
  const bool new_dir = !fs_->Exists(account_dir_);
  bool ok = address_book_.Open(account_dir_ + "address.txt");
  // A new account directory is durable in the data directory, or a power
  // cut could take every file in it.
  if (new_dir) ok = fs_->SyncDir(DirName(account_dir_.substr(0, account_dir_.size() - 1))) && ok;
  ok = folders_.Open(account_dir_ + "folders.idx") && ok;
  fresh_ = !fs_->Exists(account_dir_ + "mails.idx");
  const bool mails_ok = mails_.Open(account_dir_);
  ok = mails_ok && ok;
  settings_.SetPath(account_dir_ + "account.cfg");
  commands_ = std::make_unique<CommandQueue>(fs_, account_dir_);
  opened_ = true;
  seen_failures_ = failures();
  if (Damaged(nullptr) && GetSyncKey() != 0) ok = SaveSyncKey(0) && ok;
  return ok;
}

std::array<uint64_t, 3> AccountStore::failures() const {
  return {mails_.failures(), folders_.failures(), address_book_.failures()};
}

bool AccountStore::Damaged(const std::array<uint64_t, 3>* since) const {
  const RecordFileReport* reports[] = {&mails_.report(), &folders_.report(), &address_book_.report()};
  const std::array<uint64_t, 3> now = failures();
  for (size_t i = 0; i < now.size(); ++i) {
    if (since && (*since)[i] == now[i]) continue;  // not reopened since
    const RecordFileReport* r = reports[i];
    if (r->created || r->reset || r->repaired) return true;
  }
  return false;
}

bool AccountStore::CheckRollBacks() {
  const std::array<uint64_t, 3> before = seen_failures_;
  if (failures() == before) return true;
  seen_failures_ = failures();
  {
    std::lock_guard<std::mutex> lock(settings_mu_);
    held_sync_key_.reset();
  }
  if (Damaged(&before)) SaveSyncKey(0);
  return false;
}

void AccountStore::BeginBatch() {
  if (batch_depth_++ == 0) batch_failures_ = failures();
  mails_.BeginBatch();
  folders_.BeginGroup();
  address_book_.BeginGroup();
}

bool AccountStore::EndBatch(bool flush) {
  if (batch_depth_ == 0) return true;
  --batch_depth_;
  address_book_.EndGroup();
  folders_.EndGroup();
  bool ok = mails_.EndBatch(flush);
  if (flush && batch_depth_ == 0) {
    ok = folders_.Flush() && ok;
    ok = address_book_.Flush() && ok;
  }
  return ok && failures() == batch_failures_;
}

bool AccountStore::CommitSyncKey() {
  if (!opened_) return false;
  if (!CheckRollBacks()) return false;
  std::optional<int32_t> held;
  {
    std::lock_guard<std::mutex> lock(settings_mu_);
    held = held_sync_key_;
  }
  return !held || SaveSyncKey(*held);
}

int32_t AccountStore::GetSyncKey() {
  std::lock_guard<std::mutex> lock(settings_mu_);
  if (!opened_) return 0;
  return held_sync_key_ ? *held_sync_key_ : settings_.GetInt(account_keys::kSyncKey.name, 0);
}

bool AccountStore::SetSyncKey(int32_t key, bool durable) {
  if (!opened_ || !CheckRollBacks()) return false;
  if (durable) return SaveSyncKey(key);
  std::lock_guard<std::mutex> lock(settings_mu_);
  held_sync_key_ = key;
  return true;
}

bool AccountStore::SaveSyncKey(int32_t key) {
  bool committed = mails_.Flush();
  committed = folders_.Flush() && committed;
  committed = address_book_.Flush() && committed;
  if (!committed) {
    CheckRollBacks();
    return false;
  }
  std::lock_guard<std::mutex> lock(settings_mu_);
  held_sync_key_.reset();
  return settings_.SetInt(account_keys::kSyncKey.name, key);
}

uint32_t AccountStore::GetLastFolder() {
  std::lock_guard<std::mutex> lock(settings_mu_);
  return opened_ ? settings_.GetUInt(account_keys::kLastFolder.name, 0) : 0;
}

bool AccountStore::SetLastFolder(uint32_t folder) {
  std::lock_guard<std::mutex> lock(settings_mu_);
  return opened_ && settings_.SetUInt(account_keys::kLastFolder.name, folder);
}

std::u16string AccountStore::GetEmailAddr() {
  std::lock_guard<std::mutex> lock(settings_mu_);
  return opened_ ? settings_.GetText(account_keys::kEmailAddr.name, u"") : std::u16string();
}

std::u16string AccountStore::GetNickName() {
  std::lock_guard<std::mutex> lock(settings_mu_);
  return opened_ ? settings_.GetText(account_keys::kNickName.name, u"") : std::u16string();
}

bool AccountStore::SetAccountIdentity(const std::u16string& email, const std::u16string& nick) {
  std::lock_guard<std::mutex> lock(settings_mu_);
  return opened_ && settings_.SetText(account_keys::kEmailAddr.name, email, false) &&
         settings_.SetText(account_keys::kNickName.name, nick);
}

AccountStore::Id16 AccountStore::GetAccountDataId(const Id16& device_id) {
  std::lock_guard<std::mutex> lock(settings_mu_);
  if (data_id_ != Id16{}) return data_id_;
  const std::u16string text =
      settings_.GetText(account_keys::kAccountDataId.name, account_keys::kAccountDataIdAbsent);
  Bytes parsed;
  if (IsHex32(text) && HexDecode(Utf16ToUtf8(text), &parsed) && parsed.size() == 16) {
    std::copy(parsed.begin(), parsed.end(), data_id_.begin());
    return data_id_;
  }
  if (fresh_) {
    Bytes seed(device_id.begin(), device_id.end());
    const std::string dir = Utf16ToCp936(Utf8ToUtf16(account_dir_));
    seed.insert(seed.end(), dir.begin(), dir.end());
    uint8_t word[4];
    PutLe32(word, static_cast<uint32_t>(NowSeconds()));
    seed.insert(seed.end(), word, word + 4);
    PutLe32(word, GetTickCount());
    seed.insert(seed.end(), word, word + 4);
    crypto::Md5(ByteView(seed), data_id_.data());
  } else {
    data_id_ = device_id;
  }
  settings_.SetText(account_keys::kAccountDataId.name, LowerHex(data_id_.data(), data_id_.size()));
  return data_id_;
}

bool AccountStore::SetFlagsAndQueue(uint32_t mail_id, uint32_t flags) {
  if (!mails_.SetMailFlags(mail_id, flags)) return false;
  const uint32_t server_id = mails_.GetServerID(mail_id);
  uint16_t kind = 0;
  mails_.ReadLocalKind(mail_id, &kind);
  if (server_id == 0 || server_id == kLocalServerId || kind != 0) return true;
  return commands_->QueueSetFlags(server_id, flags);
}

bool AccountStore::MarkRead(uint32_t mail_id) {
  uint32_t flags = 0;
  if (!mails_.ReadFlags(mail_id, &flags)) return false;
  if (!(flags & kUnreadFlag)) return true;
  return SetFlagsAndQueue(mail_id, flags & ~kUnreadFlag);
}

bool AccountStore::MarkUnread(uint32_t mail_id) {
  uint32_t flags = 0, folder = 0;
  if (!mails_.ReadFlags(mail_id, &flags) || !mails_.ReadFolder(mail_id, &folder)) return false;
  if ((flags & kUnreadFlag) || folder == kLocalFolder) return false;
  return SetFlagsAndQueue(mail_id, flags | kUnreadFlag);
}

bool AccountStore::DeleteMailsAndQueue(const std::vector<uint32_t>& mail_ids) {
  std::vector<uint32_t> server_ids;
  bool ok = mails_.DeleteMails(mail_ids, &server_ids);
  for (uint32_t s : server_ids) ok = commands_->QueueDelete(s) && ok;
  return ok;
}

bool AccountStore::SaveLocalMail(const LocalMail& mail, uint32_t* mail_id) {
  MailFiles files;
  files.to = mail.to;
  files.cc = mail.cc;
  files.bcc = mail.bcc;
  files.sender = u"\"" + GetNickName() + u"\"<" + GetEmailAddr() + u">";
  files.subject = mail.subject;
  files.body = mail.for_sending ? u"<html><head></head><body>" + mail.body + u"</body></html>" : mail.body;
  files.attachments = mail.attachments;

  // The save time doubles as the stamp that ties the staged files to this
  // record, so it grows with every save of the mail.
  const uint64_t now = FiletimeNow();
  uint64_t stamp = now;
  if (*mail_id != 0) {
    MailRecord old;
    if (!mails_.ReadMail(*mail_id, &old)) return false;
    stamp = std::max(now, old.save_time() + 1);
  }
  MailRecord record;
  record.set_reply_to(mail.reply_to);
  record.set_folder(kLocalFolder);
  record.set_date(now);
  record.set_save_time(stamp);
  record.set_to_count(static_cast<uint16_t>(std::min<size_t>(mail.to.size(), 0xFFFF)));
  record.set_cc_count(static_cast<uint16_t>(std::min<size_t>(mail.cc.size(), 0xFFFF)));
  record.set_attach_count(static_cast<uint16_t>(std::min<size_t>(mail.attachments.size(), 0xFFFF)));
  record.set_local_kind(mail.compose_mode);
  record.set_body_state(kBodyComplete);
  const uint32_t chars = static_cast<uint32_t>(std::min<size_t>(files.body.size(), UINT32_MAX));
  record.set_server_body_length(chars);
  record.set_local_body_length(chars);
  record.sender = files.sender;
  record.subject = files.subject;
  record.attachments = files.attachments;
  record.MarkTextsChanged();

  // Files staged, record committed (the moment the new mail replaces the
  // old), files put in place.
  const uint32_t id = *mail_id != 0 ? *mail_id : mails_.NextMailId();
  MailFileStore* mail_files = mails_.files();
  if (id == 0 || !mail_files->StageMailFiles(id, files, stamp)) return false;
  bool committed;
  if (*mail_id != 0) {
    committed = mails_.WriteMail(id, &record);
  } else {
    const uint32_t added = mails_.AddOrUpdateMail(&record);
    if (added != 0 && added != id) mails_.DeleteMail(added);  // not the id its files were staged for
    committed = added == id;
    if (committed) *mail_id = id;
  }
  if (!committed) {
    mail_files->DiscardStagedFiles(id);
    return false;
  }
  const bool installed = mail_files->InstallStagedFiles(id);
  std::vector<std::u16string> recipients = mail.to;
  recipients.insert(recipients.end(), mail.cc.begin(), mail.cc.end());
  recipients.insert(recipients.end(), mail.bcc.begin(), mail.bcc.end());
  address_book_.AddUnknownAddresses(recipients);
  return installed;
}

bool AccountStore::MarkDelivered(uint32_t mail_id, uint32_t server_id) {
  MailRecord record;
  if (server_id == 0 || server_id == kLocalServerId || !mails_.ReadMail(mail_id, &record) ||
      record.server_id() != kLocalServerId) {
    return false;
  }
  const uint32_t held = mails_.FindByServerID(server_id);
  if (held != 0 && held != mail_id) return mails_.DeleteMail(mail_id);
  record.set_server_id(server_id);
  record.set_folder(kSentFolder);
  record.set_local_kind(0);
  record.set_save_time(0);
  // The record is durable before the key goes: a crash between the two
  // leaves a server mail with a stale key, never a local mail without one.
  if (!mails_.WriteMail(mail_id, &record) || !mails_.Flush()) return false;
  mails_.files()->DeleteSendKey(mail_id);
  return true;
}

}  // namespace store
}  // namespace quill
