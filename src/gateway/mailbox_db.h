// The lasting part of a Mailbox: "mailbox.db", an SQLite database beside
// the account's Maildir, with the ids of folders, mails and contacts and
// the journal of changes, so a client's sync key means the same after a
// restart. Each save is one transaction holding only what the new journal
// entries touched.
//
// Tables: meta(key, value) with the next ids; folders(id, dir, name);
// mails(id, folder, unread, uniq, path); contacts(id, address, name);
// journal(seq, kind, id).
//
// Thread safety: none; the Mailbox serialises its calls.
#ifndef QUILL_GATEWAY_MAILBOX_DB_H_
#define QUILL_GATEWAY_MAILBOX_DB_H_

#include <cstdint>
#include <map>
#include <string>
#include <vector>

struct sqlite3;

namespace quill {
namespace gateway {

struct MailboxFolder;
struct MailboxMail;
struct MailboxContact;
struct JournalEntry;

// Everything the database keeps, as the Mailbox holds it in memory.
struct MailboxState {
  uint32_t next_server_id = 1;
  uint32_t next_folder_id = 0;   // set by the Mailbox before Load
  uint32_t next_contact_id = 1;
  std::map<uint32_t, MailboxFolder>* folders = nullptr;
  std::map<uint32_t, MailboxMail>* mails = nullptr;
  std::map<uint32_t, MailboxContact>* contacts = nullptr;
  std::vector<JournalEntry>* journal = nullptr;
};

class MailboxDb {
 public:
  MailboxDb() = default;
  ~MailboxDb();
  MailboxDb(const MailboxDb&) = delete;
  MailboxDb& operator=(const MailboxDb&) = delete;

  // Opens (or creates) the database and reads it into `state`. A file that
  // is not a usable database is kept as ".bad" and a new one started: the
  // Maildir is the truth, only the ids start over. False when no database
  // can be had at all.
  bool Open(const std::string& path, MailboxState* state);

  // Writes the next ids and, for each journal entry from index `first_new`
  // on, the row of the object it names (written, or deleted when the object
  // is gone) and the entry itself, in one transaction.
  bool Save(const MailboxState& state, size_t first_new);

 private:
  bool Exec(const char* sql);
  bool CreateTables();
  bool Load(MailboxState* state);
  void Close();

  sqlite3* db_ = nullptr;
};

}  // namespace gateway
}  // namespace quill

#endif  // QUILL_GATEWAY_MAILBOX_DB_H_
