// One account's Maildir++ mailbox as the sync service sees it: folders and
// mails with stable ids, and a journal of changes numbered by sync key.
//
// The Maildir is the truth. Every Refresh lists it (cur/ and new/ of the
// inbox and of every ".Folder") and journals what changed since the last
// listing: a new file is an added mail, a vanished one a deleted mail, a
// moved file or a changed "S" flag an updated mail. A sync key is the
// number of the last journal entry the client received, so a client at key
// K is sent the entries after K, a page at a time (MailboxJournal says how
// the journal stays short).
//
// A listing is skipped while the modification times of the Maildir and of
// every folder's cur/ and new/ stay as they were at the last listing and
// are at least two seconds older than it (so that a change within the
// file system's timestamp granularity cannot hide).
//
// "mailbox.db" beside the Maildir keeps the ids and the journal across
// restarts (MailboxDb); Refresh returns only once what it journaled is
// committed, so a client is never answered from a change a crash could
// undo. "mailbox.ids" keeps the high-water mark of every id (MailboxIds).
// When the database is lost, damaged or older than the mark, the mailbox
// starts over above the mark: its mails get new ServerIDs, and the journal
// begins with a delete of every id the database does not account for, so a
// client from before, whose key the mailbox no longer knows, is sent every
// delete and then the whole mailbox, and ends with exactly what is there.
//
// Dates: a mail's arrival is the delivery time in its Maildir file name
// ("SECONDS.unique"), else the file's modification time; its date is its
// Date header when that is sane, else its arrival. A time is sane from
// 1980 on and at most a day ahead of the clock.
//
// Thread safety: every method takes the mailbox's own lock.
#ifndef QUILL_GATEWAY_MAILBOX_H_
#define QUILL_GATEWAY_MAILBOX_H_

#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "gateway/mail_parser.h"
#include "gateway/mailbox_db.h"
#include "gateway/mailbox_ids.h"
#include "gateway/mailbox_journal.h"
#include "platform/file_system.h"

namespace quill {
namespace gateway {

// Folders with a fixed meaning to the client: the inbox (the Maildir's own
// cur/ and new/), ".Sent" (mail the client delivered) and ".Drafts" (mail
// written on the device).
constexpr uint32_t kInboxFolderId = 1;
constexpr uint32_t kSentFolderId = 3;
constexpr uint32_t kDraftsFolderId = 4;
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
  int64_t date = 0;     // seconds since 1970: the sane Date header, else the arrival
  int64_t arrival = 0;  // seconds since 1970: when the Maildir received the mail
};

// The earliest time taken as sane: 1980-01-01.
constexpr int64_t kEarliestSaneTime = 315532800;

class Mailbox {
 public:
  // `maildir` is ".../accounts/NAME/Maildir"; the state file sits beside it.
  Mailbox(FileSystem* fs, std::string maildir);

  // Loads the state (once), journals what changed in the Maildir and
  // commits it. False when the Maildir cannot be listed or the state cannot
  // be loaded or committed; a failed commit drops what this call journaled
  // from memory too, so the next Refresh finds it again.
  bool Refresh();

  // Where the journal continues for a client at `key`: the key itself when
  // the mailbox knows it (0 included), else 0, the very start.
  uint32_t ResumeAfter(int64_t key) const;
  // Up to `max` journal entries after `after`, in order; see
  // MailboxJournal::After for *through.
  std::vector<JournalEntry> EntriesAfter(uint32_t after, size_t max, uint32_t* through) const;
  uint32_t newest_key() const;

  bool FindFolder(uint32_t id, MailboxFolder* out) const;
  bool FindContact(uint32_t id, MailboxContact* out) const;
  bool FindMail(uint32_t server_id, MailboxMail* out) const;
  // The ServerID of the mail whose file name begins with `unique` (up to
  // ":2,"), as the last Refresh found it.
  bool FindUnique(const std::string& unique, uint32_t* server_id) const;
  // The parsed file of a mail; false when the mail or its file is gone.
  bool ReadMail(uint32_t server_id, ParsedMail* out) const;
  // The path of a mail's message file; "" when the mail is unknown.
  std::string MessageFile(uint32_t server_id) const;

  // The head of a mail, parsed once and then kept. When the file cannot be
  // read, false, with the dates still filled (from the file name, else the
  // clock) and nothing else.
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
  // Journals a delete of every number the loaded database does not account
  // for below the mark (and of the fixed folders it does not hold), and
  // moves the next numbers above the mark.
  void StartOverAboveLocked(const MailboxIds& stored, const MailboxIds& mark);
  // Writes the mark when the next numbers passed it, then commits the
  // objects changed since the last commit.
  bool SaveLocked();
  // Forgets everything loaded, so the next Refresh loads it again.
  void UnloadLocked();
  MailboxIds IdsLocked() const;
  MailboxState StateLocked();
  bool ListLocked(Listing* out) const;
  // The modification times that decide whether a listing can be skipped.
  bool DirTimesLocked(std::vector<int64_t>* out) const;
  // Journals the differences between "contacts.txt" and the contacts held.
  void RefreshContactsLocked();
  std::string ContactsPath() const;
  void AppendLocked(JournalEntry::Kind kind, uint32_t id);
  // When the mail arrived, from its file name or its file.
  int64_t ArrivalOf(const MailboxMail& mail) const;
  std::string DbPath() const;
  std::string IdsPath() const;

  FileSystem* const fs_;
  const std::string maildir_;
  mutable std::mutex mu_;
  // Everything below is guarded by mu_.
  bool loaded_ = false;
  MailboxDb db_;
  MailboxIds next_;             // the next numbers; key unused (the journal's next_seq)
  MailboxIds mark_;             // as "mailbox.ids" holds it, when mark_known_
  bool mark_known_ = false;     // false: the file is missing or damaged, write it
  std::map<uint32_t, MailboxFolder> folders_;    // by FolderID
  std::map<uint32_t, MailboxMail> mails_;        // by ServerID
  std::map<std::string, uint32_t> by_unique_;    // unique name -> ServerID
  MailboxJournal journal_;
  // Objects journaled since the last commit, as (object, id).
  std::set<std::pair<JournalEntry::Object, uint32_t>> unsaved_;
  std::map<uint32_t, MailHead> heads_;           // parsed heads by ServerID
  std::map<uint32_t, MailboxContact> contacts_;  // by contact id
  std::vector<int64_t> dir_times_;               // at the last listing; empty: none trusted
};

}  // namespace gateway
}  // namespace quill

#endif  // QUILL_GATEWAY_MAILBOX_H_
