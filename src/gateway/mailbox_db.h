// The lasting part of a Mailbox: "mailbox.db", an SQLite database beside
// the account's Maildir, with the ids of folders, mails and contacts and
// the compacted journal (MailboxJournal), so a client's sync key means the
// same after a restart.
//
// Tables: meta(key, value) with the next ids (MailboxIds); folders(id, dir,
// name); mails(id, folder, unread, uniq, path); contacts(id, address, name);
// journal(seq, kind, id, object), the compacted journal (user_version 2;
// the first layout, user_version 0, kept every entry and is rewritten on
// open).
//
// Every commit is synchronous=FULL: when Save returns true the change
// survives a power cut, so a client may be answered.
//
// Thread safety: none; the Mailbox serialises its calls.
#ifndef QUILL_GATEWAY_MAILBOX_DB_H_
#define QUILL_GATEWAY_MAILBOX_DB_H_

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "gateway/mailbox_ids.h"
#include "gateway/mailbox_journal.h"

struct sqlite3;

namespace quill {
namespace gateway {

struct MailboxFolder;
struct MailboxMail;
struct MailboxContact;

// Everything the database keeps, as the Mailbox holds it in memory.
struct MailboxState {
  MailboxIds next;  // Open: as stored (numbers the database never saw stay at their defaults)
  std::map<uint32_t, MailboxFolder>* folders = nullptr;
  std::map<uint32_t, MailboxMail>* mails = nullptr;
  std::map<uint32_t, MailboxContact>* contacts = nullptr;
};

// An object that changed since the last commit, with its journal entries
// as they are now.
struct ChangedObject {
  JournalEntry::Object object = JournalEntry::kMail;
  uint32_t id = 0;
  std::vector<JournalEntry> entries;  // none, one or two
};

enum class DbOpen {
  kOpened,       // the database was read into the state
  kStartedOver,  // there was none, or it was damaged (kept as ".bad"): a new, empty one
  kFailed,       // no database can be had now (the file is busy, or I/O failed)
};

class MailboxDb {
 public:
  MailboxDb() = default;
  ~MailboxDb();
  MailboxDb(const MailboxDb&) = delete;
  MailboxDb& operator=(const MailboxDb&) = delete;

  // Opens (or creates) the database and reads it into `state` and
  // `journal` (entries in sequence order). A file that is not a database,
  // fails SQLite's quick check or holds rows that cannot be right is kept
  // aside as ".bad" and a new one started. A busy or unreadable file is
  // left alone: kFailed, and the caller tries again later.
  DbOpen Open(const std::string& path, MailboxState* state, std::vector<JournalEntry>* journal);

  // True after Open read the first layout: the caller writes everything
  // back with Rewrite.
  bool old_layout() const { return old_layout_; }

  // Writes the next ids and, for each changed object, its row (written, or
  // deleted when the object is gone) and its journal entries in place of
  // the ones stored; one transaction.
  bool Save(const MailboxState& state, const std::vector<ChangedObject>& changed);

  // Writes the whole state and journal in the current layout, replacing
  // everything stored; one transaction.
  bool Rewrite(const MailboxState& state, const std::vector<JournalEntry>& journal);

 private:
  bool Exec(const char* sql);
  // The last error says the file is damaged, not merely unavailable.
  bool Damaged() const;
  bool CreateTables();
  bool Check();
  bool Load(MailboxState* state, std::vector<JournalEntry>* journal);
  // Statements of one transaction, prepared together.
  class Writer;
  void Close();

  sqlite3* db_ = nullptr;
  bool old_layout_ = false;
  bool bad_rows_ = false;  // Load found rows that cannot be right
};

}  // namespace gateway
}  // namespace quill

#endif  // QUILL_GATEWAY_MAILBOX_DB_H_
