// One account's Maildir++ mailbox as the sync service sees it: folders and
// mails with stable ids, and a journal of changes numbered by sync key.
//
// The Maildir is the truth. Every Refresh lists it (cur/ and new/ of the
// inbox and of every ".Folder") and journals what changed since the last
// listing: a new file is an added mail, a vanished one a deleted mail, a
// moved file or a changed "S" flag an updated mail. A sync key is the
// number of the last journal entry the client received, so a client at key
// K is sent the entries after K, a page at a time.
//
// A listing is skipped while the modification times of the Maildir and of
// every folder's cur/ and new/ stay as they were at the last listing and
// are at least two seconds older than it (so that a change within the
// file system's timestamp granularity cannot hide).
//
// "mailbox.db" beside the Maildir keeps the ids and the journal across
// restarts (MailboxDb), so a client's key stays meaningful.
//
// Thread safety: every method takes the mailbox's own lock.
#ifndef QUILL_GATEWAY_MAILBOX_H_
#define QUILL_GATEWAY_MAILBOX_H_

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "gateway/mail_parser.h"
#include "gateway/mailbox_db.h"
#include "platform/file_system.h"

namespace quill {
namespace gateway {

// Folders with a fixed meaning to the client: the inbox (the Maildir's own
// cur/ and new/), ".Sent" (mail the client delivered) and ".Drafts" (mail
// written on the device).
constexpr uint32_t kInboxFolderId = 1;
constexpr uint32_t kSentFolderId = 3;
constexpr uint32_t kDraftsFolderId = 4;
// Ids of further ".Folder" subfolders start here.
constexpr uint32_t kFirstSubfolderId = 100;
// Where mails deleted on the client go.
constexpr char kTrashDir[] = ".Trash";

struct MailboxFolder {
  uint32_t id = 0;
  std::string name;  // "收件箱" for the inbox, else the folder's name without the dot
  std::string dir;   // "" for the inbox, else ".Name"
};

// One line of the account's "contacts.txt" (beside the Maildir): NAME,
// TAB, ADDRESS, UTF-8. Contacts are matched by address, without regard to
// ASCII case.
struct MailboxContact {
  uint32_t id = 0;       // contact id, from 1
  std::string name;
  std::string address;
};

struct MailboxMail {
  uint32_t server_id = 0;
  uint32_t folder_id = 0;
  bool unread = false;
  std::string unique;  // the file name up to ":2,"
  std::string path;    // relative to the Maildir: ".Name/cur/FILE" or "new/FILE"
};

// What a sync announces of a mail.
struct MailHead {
  std::string subject;
  MailAddress from;
  int64_t date = 0;  // seconds since 1970
};

struct JournalEntry {
  enum Kind : uint8_t {
    kAddFolder = 1,
    kDelFolder = 2,
    kAddMail = 3,
    kUpdateMail = 4,
    kDelMail = 5,
    kAddContact = 6,
    kUpdateContact = 7,  // the name changed
    kDelContact = 8,
  };
  uint32_t seq = 0;  // 1, 2, 3, ...: the sync key after this entry
  Kind kind = kAddMail;
  uint32_t id = 0;   // FolderID, ServerID or contact id
};

class Mailbox {
 public:
  // `maildir` is ".../accounts/NAME/Maildir"; the state file sits beside it.
  Mailbox(FileSystem* fs, std::string maildir);

  // Loads the state file (once) and journals what changed in the Maildir.
  // False when the Maildir cannot be listed.
  bool Refresh();

  // Journal entries after `key` in order, for a page. A key the mailbox
  // never issued (above the newest, or negative) and 0 give the whole
  // mailbox as it is now: its folders and mails as additions only.
  std::vector<JournalEntry> EntriesAfter(int64_t key) const;
  uint32_t newest_key() const;

  bool FindFolder(uint32_t id, MailboxFolder* out) const;
  bool FindContact(uint32_t id, MailboxContact* out) const;
  bool FindMail(uint32_t server_id, MailboxMail* out) const;
  // The parsed file of a mail; false when the mail or its file is gone.
  bool ReadMail(uint32_t server_id, ParsedMail* out) const;

  // The head of a mail, parsed once and then kept.
  bool ReadHead(uint32_t server_id, MailHead* out);

  // Client changes, idempotent since every sync page repeats them: a
  // deleted mail's file moves to ".Trash" (made when missing; a mail
  // already there stays), a read or unread mark renames it with the "S"
  // flag set or cleared. Unknown ids are ignored (true).
  bool DeleteMail(uint32_t server_id);
  bool SetUnread(uint32_t server_id, bool unread);

 private:
  struct Listing;
  bool LoadStateLocked();
  MailboxState StateLocked();
  bool ListLocked(Listing* out) const;
  // The modification times that decide whether a listing can be skipped.
  bool DirTimesLocked(std::vector<int64_t>* out) const;
  // Journals the differences between "contacts.txt" and the contacts held.
  void RefreshContactsLocked();
  std::string ContactsPath() const;
  void AppendLocked(JournalEntry::Kind kind, uint32_t id);
  std::string DbPath() const;

  FileSystem* const fs_;
  const std::string maildir_;
  mutable std::mutex mu_;
  // Everything below is guarded by mu_.
  bool loaded_ = false;
  MailboxDb db_;
  uint32_t next_server_id_ = 1;
  uint32_t next_folder_id_ = kFirstSubfolderId;
  std::map<uint32_t, MailboxFolder> folders_;    // by FolderID
  std::map<uint32_t, MailboxMail> mails_;        // by ServerID
  std::map<std::string, uint32_t> by_unique_;    // unique name -> ServerID
  std::vector<JournalEntry> journal_;            // seq = index + 1
  std::map<uint32_t, MailHead> heads_;           // parsed heads by ServerID
  std::map<uint32_t, MailboxContact> contacts_;  // by contact id
  uint32_t next_contact_id_ = 1;
  std::vector<int64_t> dir_times_;               // at the last listing; empty: none trusted
};

}  // namespace gateway
}  // namespace quill

#endif  // QUILL_GATEWAY_MAILBOX_H_
