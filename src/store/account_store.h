// The local data of the signed-in account, under data_dir + uin + "/":
// "mails.idx" (MailStore), "folders.idx" (FolderStore), "address.txt"
// (AddressBook), "account.cfg" and the command queue.
//
// The sync key stands for what the three record files hold. Whenever one
// of them had to be created, started over or repaired when it opened, the
// key goes back to 0, so the next sync restores everything the service
// holds. A write that fails rolls a file back to its last commit; changes
// made since then under a key not yet saved are gone with it, so that key
// is dropped and the next set of a key fails once (the sync that relied on
// those changes ends; the next one starts from the saved key).
//
// Thread safety: the UI thread owns the store. The accessors of
// "account.cfg" below (sync key, last folder, identity, data id) hold one
// lock, so a worker may read the sync key; settings() itself is UI-only.
#ifndef QUILL_STORE_ACCOUNT_STORE_H_
#define QUILL_STORE_ACCOUNT_STORE_H_

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "store/address_book.h"
#include "store/attachment_entry.h"
#include "store/command_queue.h"
#include "store/config_file.h"
#include "store/folder_store.h"
#include "store/mail_store.h"

namespace quill {
namespace store {

// A mail written on the device, as the compose screen hands it over.
struct LocalMail {
  std::vector<std::u16string> to, cc, bcc;  // display addresses
  std::u16string subject;                   // the subject
  std::u16string body;                      // the text as written (HTML)
  std::vector<AttachmentEntry> attachments; // the attachment list
  uint32_t reply_to = 0xFFFFFFFF;           // ServerID replied to or forwarded
  uint16_t compose_mode = 1;                // the compose screen's mode, 1..3
  bool for_sending = false;                 // wrap the body as a whole HTML page
};

class AccountStore {
 public:
  using Id16 = std::array<uint8_t, 16>;

  // fs must outlive this object.
  explicit AccountStore(FileSystem* fs);

  // Opens the account's files (once). data_dir ends in '/'. False when a
  // store file could not be opened; the stores then retry on their next use.
  bool Open(uint32_t uin, const std::string& data_dir);
  bool opened() const { return opened_; }
  uint32_t uin() const { return uin_; }
  const std::string& account_dir() const { return account_dir_; }
  // "mails.idx" did not exist when the store was opened.
  bool fresh() const { return fresh_; }

  MailStore* mails() { return &mails_; }
  FolderStore* folders() { return &folders_; }
  AddressBook* address_book() { return &address_book_; }
  ConfigFile* settings() { return &settings_; }
  // Null before Open.
  CommandQueue* commands() { return commands_.get(); }

  // A batch over mails, folders and contacts (what one sync page changes):
  // nothing is committed before EndBatch(true) or a durable SetSyncKey.
  // EndBatch is false when a change of the batch was lost to a failed
  // write (or, with flush, the commit failed).
  void BeginBatch();
  bool EndBatch(bool flush);

  // "SYNC_KEY_V1"; 0 while not opened.
  int32_t GetSyncKey();
  // The sync key moves with every applied page. A durable set first commits
  // the mails, folders and contacts and then saves the key, so a saved key
  // never runs ahead of what it stands for; a key set otherwise is only
  // held (and lost in a crash: the pages after the saved key are then
  // applied again, which changes nothing). False, and nothing set, when a
  // file rolled back since the key in use was read or set (see above).
  bool SetSyncKey(int32_t key, bool durable = true);
  // Saves a held key durably; true at once when none is held.
  bool CommitSyncKey();
  // "LAST_FOLDER_KEY"; 0 while not opened.
  uint32_t GetLastFolder();
  bool SetLastFolder(uint32_t folder);
  // "EmailAddr" and "NickName" from the login answer.
  std::u16string GetEmailAddr();
  std::u16string GetNickName();
  bool SetAccountIdentity(const std::u16string& email, const std::u16string& nick);

  // The 16-byte AccountDataId. A stored "ACCOUNT_DATA_ID" that is not 32
  // hexadecimal digits reads as absent. An absent id becomes, for a fresh
  // store, MD5(device id, account directory in code page 936, time, tick
  // count), else the device id; it is saved at once.
  Id16 GetAccountDataId(const Id16& device_id);

  // The user's read and unread marks: the flag is written first, then a
  // set-flags command is queued for mails of the service. Marking read a
  // read mail succeeds without a command; unread is refused for a mail
  // already unread or in folder 4.
  bool MarkRead(uint32_t mail_id);
  bool MarkUnread(uint32_t mail_id);
  // Deletes the mails, then queues one delete command per mail of the
  // service that was deleted. True when every mail was deleted.
  bool DeleteMailsAndQueue(const std::vector<uint32_t>& mail_ids);

  // Stores a mail written on the device in folder 4 (a new one when
  // *mail_id is 0, else rewritten), then hands its recipients to the
  // address book. Durable when it returns true: the files are staged and
  // synced, the record committed, then the files put in place; a crash at
  // any point leaves the old mail or the new one (see mail_file_store.h).
  // *mail_id is set once the new record is committed; true only when the
  // record and every file were written.
  bool SaveLocalMail(const LocalMail& mail, uint32_t* mail_id);

  // A local mail was delivered: its record becomes the service's mail
  // `server_id` in folder 3 (local kind 0) in one record write, then its
  // "sendmailid.txt" is deleted so a later edit never resumes the old
  // delivery. When the store already holds that ServerID (a sync brought
  // the sent copy first) the local mail is deleted instead. False when the
  // mail is not a local one or the record could not be written.
  bool MarkDelivered(uint32_t mail_id, uint32_t server_id);

 private:
  bool SetFlagsAndQueue(uint32_t mail_id, uint32_t flags);
  // Roll-backs of mails, folders and contacts so far.
  std::array<uint64_t, 3> failures() const;
  // False when a file rolled back since the last look: the held key is
  // dropped, and the key goes to 0 when the reload found damage.
  bool CheckRollBacks();
  // A file was created, started over or repaired when it last opened
  // (with since: only files reopened after a roll-back since then).
  bool Damaged(const std::array<uint64_t, 3>* since) const;
  // Commits the three files, then saves key.
  bool SaveSyncKey(int32_t key);

  FileSystem* const fs_;
  uint32_t uin_ = 0;
  std::string account_dir_;  // ends in '/'
  MailStore mails_;
  FolderStore folders_;
  AddressBook address_book_;
  ConfigFile settings_;  // "account.cfg"
  std::unique_ptr<CommandQueue> commands_;
  Id16 data_id_{};       // all zero until first asked for
  bool fresh_ = false;
  bool opened_ = false;
  std::mutex settings_mu_;  // guards settings_ in the accessors above
  // A sync key set without saving it; kept out of settings_ so that no
  // other setting's save writes it ahead of the mails.
  std::optional<int32_t> held_sync_key_;
  std::array<uint64_t, 3> seen_failures_{};   // failures() at the last look
  std::array<uint64_t, 3> batch_failures_{};  // failures() when the batch began
  int batch_depth_ = 0;          // of BeginBatch
};

}  // namespace store
}  // namespace quill

#endif  // QUILL_STORE_ACCOUNT_STORE_H_
