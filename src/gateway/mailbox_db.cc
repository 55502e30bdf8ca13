#include "gateway/mailbox_db.h"

#include <sqlite3.h>
#include <stdio.h>
#include <unistd.h>

#include "gateway/mailbox.h"
#include "gateway/sqlite_statement.h"

namespace quill {
namespace gateway {
namespace {

// The layout this code writes, kept in PRAGMA user_version.
constexpr int kLayout = 2;
constexpr char kSetLayout[] = "PRAGMA user_version = 2";

uint32_t U32(int64_t v) { return static_cast<uint32_t>(v); }

struct MetaField {
  const char* key;
  uint32_t MailboxIds::*value;
};
constexpr MetaField kMeta[] = {{"next_server_id", &MailboxIds::server_id},
                               {"next_folder_id", &MailboxIds::folder_id},
                               {"next_contact_id", &MailboxIds::contact_id},
                               {"next_key", &MailboxIds::key}};

constexpr char kJournalTable[] =
    "CREATE TABLE journal(seq INTEGER PRIMARY KEY, kind INTEGER NOT NULL, id INTEGER NOT NULL,"
    " object INTEGER NOT NULL);"
    "CREATE INDEX journal_object ON journal(object, id)";

void ClearState(MailboxState* s, std::vector<JournalEntry>* journal) {
  s->next = MailboxIds();
  s->folders->clear();
  s->mails->clear();
  s->contacts->clear();
  journal->clear();
}

}  // namespace

MailboxDb::~MailboxDb() { Close(); }

void MailboxDb::Close() {
  sqlite3_close(db_);
  db_ = nullptr;
}

bool MailboxDb::Exec(const char* sql) {
  return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

bool MailboxDb::Damaged() const {
  const int rc = db_ == nullptr ? SQLITE_OK : (sqlite3_errcode(db_) & 0xFF);
  return bad_rows_ || rc == SQLITE_CORRUPT || rc == SQLITE_NOTADB;
}

bool MailboxDb::Check() {
  Statement q(db_, "PRAGMA quick_check");
  if (!q.Next()) return false;
  if (q.Text(0) != "ok") bad_rows_ = true;
  return !bad_rows_;
}

bool MailboxDb::CreateTables() {
  int layout = 0;
  bool have_journal = false;
  {
    Statement q(db_, "PRAGMA user_version");
    if (!q.Next()) return false;
    layout = static_cast<int>(q.Int(0));
  }
  {
    Statement q(db_, "SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name = 'journal'");
    if (!q.Next()) return false;
    have_journal = q.Int(0) != 0;
  }
  if (layout > kLayout) {
    bad_rows_ = true;  // written by a later version, or garbage
    return false;
  }
  old_layout_ = have_journal && layout < kLayout;
  if (!Exec("CREATE TABLE IF NOT EXISTS meta(key TEXT PRIMARY KEY, value INTEGER NOT NULL);"
            "CREATE TABLE IF NOT EXISTS folders(id INTEGER PRIMARY KEY, dir TEXT NOT NULL,"
            " name TEXT NOT NULL);"
            "CREATE TABLE IF NOT EXISTS mails(id INTEGER PRIMARY KEY, folder INTEGER NOT NULL,"
            " unread INTEGER NOT NULL, uniq TEXT NOT NULL UNIQUE, path TEXT NOT NULL);"
            "CREATE TABLE IF NOT EXISTS contacts(id INTEGER PRIMARY KEY, address TEXT NOT NULL,"
            " name TEXT NOT NULL);")) {
    return false;
  }
  if (have_journal) return true;
  return Exec(kJournalTable) && Exec(kSetLayout);
}

DbOpen MailboxDb::Open(const std::string& path, MailboxState* state,
                       std::vector<JournalEntry>* journal) {
  bool started_over = false;
  for (int attempt = 0; attempt < 2; ++attempt) {
    Close();
    ClearState(state, journal);
    old_layout_ = bad_rows_ = false;
    if (::access(path.c_str(), F_OK) != 0) {
      // A log left without its database would be replayed into the new one.
      for (const char* suffix : {"-wal", "-shm"}) ::remove((path + suffix).c_str());
      started_over = true;
    }
    const bool ok = sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                                    nullptr) == SQLITE_OK &&
                    Exec("PRAGMA journal_mode=WAL") && Exec("PRAGMA synchronous=FULL") &&
                    Check() && CreateTables() && Load(state, journal);
    if (ok) return started_over ? DbOpen::kStartedOver : DbOpen::kOpened;
    const bool damaged = Damaged();
    Close();
    ClearState(state, journal);
    if (!damaged) return DbOpen::kFailed;
    // Not a database we can use: keep it aside and start a new one.
    for (const char* suffix : {"-wal", "-shm"}) ::remove((path + suffix).c_str());
    if (::rename(path.c_str(), (path + ".bad").c_str()) != 0) return DbOpen::kFailed;
  }
  return DbOpen::kFailed;
}

bool MailboxDb::Load(MailboxState* s, std::vector<JournalEntry>* journal) {
  {
    Statement q(db_, "SELECT key, value FROM meta");
    while (q.Next()) {
      for (const MetaField& f : kMeta) {
        if (q.Text(0) == f.key) s->next.*f.value = U32(q.Int(1));
      }
    }
    if (!q.done()) return false;
  }
  {
    Statement q(db_, "SELECT id, dir, name FROM folders");
    while (q.Next()) (*s->folders)[U32(q.Int(0))] = MailboxFolder{U32(q.Int(0)), q.Text(2), q.Text(1)};
    if (!q.done()) return false;
  }
  {
    Statement q(db_, "SELECT id, folder, unread, uniq, path FROM mails");
    while (q.Next()) {
      (*s->mails)[U32(q.Int(0))] =
          MailboxMail{U32(q.Int(0)), U32(q.Int(1)), q.Int(2) != 0, q.Text(3), q.Text(4)};
    }
    if (!q.done()) return false;
  }
  {
    Statement q(db_, "SELECT id, address, name FROM contacts");
    while (q.Next()) {
      (*s->contacts)[U32(q.Int(0))] = MailboxContact{U32(q.Int(0)), q.Text(2), q.Text(1)};
    }
    if (!q.done()) return false;
  }
  Statement q(db_, "SELECT seq, kind, id FROM journal ORDER BY seq");
  while (q.Next()) {
    if (q.Int(0) < 1 || q.Int(0) > INT32_MAX || !JournalEntry::ValidKind(q.Int(1))) {
      bad_rows_ = true;
      return false;
    }
    JournalEntry e;
    e.seq = U32(q.Int(0));
    e.kind = static_cast<JournalEntry::Kind>(q.Int(1));
    e.id = U32(q.Int(2));
    journal->push_back(e);
  }
  return q.done();
}

class MailboxDb::Writer {
 public:
  Writer(sqlite3* db, const MailboxState& s) : s_(s), db_(db) {}

  bool Meta() {
    bool ok = true;
    for (const MetaField& f : kMeta) {
      ok = ok && meta_.Bind(1, std::string(f.key)).Bind(2, s_.next.*f.value).Run();
    }
    return ok;
  }

  // The object's row as the state has it: written, or deleted when gone.
  bool Object(JournalEntry::Object object, uint32_t id) {
    switch (object) {
      case JournalEntry::kFolder: {
        auto f = s_.folders->find(id);
        return f == s_.folders->end()
                   ? del_folder_.Bind(1, id).Run()
                   : put_folder_.Bind(1, id).Bind(2, f->second.dir).Bind(3, f->second.name).Run();
      }
      case JournalEntry::kMail: {
        auto m = s_.mails->find(id);
        return m == s_.mails->end() ? del_mail_.Bind(1, id).Run()
                                    : put_mail_.Bind(1, id)
                                          .Bind(2, m->second.folder_id)
                                          .Bind(3, m->second.unread ? 1 : 0)
                                          .Bind(4, m->second.unique)
                                          .Bind(5, m->second.path)
                                          .Run();
      }
      case JournalEntry::kContact: {
        auto c = s_.contacts->find(id);
        return c == s_.contacts->end()
                   ? del_contact_.Bind(1, id).Run()
                   : put_contact_.Bind(1, id).Bind(2, c->second.address).Bind(3, c->second.name).Run();
      }
    }
    return false;
  }

  bool DropEntriesOf(JournalEntry::Object object, uint32_t id) {
    return del_entries_.Bind(1, object).Bind(2, id).Run();
  }

  bool Entry(const JournalEntry& e) {
    return put_entry_.Bind(1, e.seq).Bind(2, e.kind).Bind(3, e.id)
        .Bind(4, JournalEntry::ObjectOf(e.kind))
        .Run();
  }

 private:
  const MailboxState& s_;
  sqlite3* const db_;
  Statement meta_{db_, "INSERT OR REPLACE INTO meta(key, value) VALUES(?, ?)"};
  Statement put_folder_{db_, "INSERT OR REPLACE INTO folders(id, dir, name) VALUES(?, ?, ?)"};
  Statement del_folder_{db_, "DELETE FROM folders WHERE id = ?"};
  Statement put_mail_{
      db_, "INSERT OR REPLACE INTO mails(id, folder, unread, uniq, path) VALUES(?, ?, ?, ?, ?)"};
  Statement del_mail_{db_, "DELETE FROM mails WHERE id = ?"};
  Statement put_contact_{db_, "INSERT OR REPLACE INTO contacts(id, address, name) VALUES(?, ?, ?)"};
  Statement del_contact_{db_, "DELETE FROM contacts WHERE id = ?"};
  Statement put_entry_{db_, "INSERT INTO journal(seq, kind, id, object) VALUES(?, ?, ?, ?)"};
  Statement del_entries_{db_, "DELETE FROM journal WHERE object = ? AND id = ?"};
};

bool MailboxDb::Save(const MailboxState& s, const std::vector<ChangedObject>& changed) {
  if (db_ == nullptr || old_layout_ || !Exec("BEGIN")) return false;
  bool ok;
  {
    Writer w(db_, s);
    ok = w.Meta();
    for (const ChangedObject& c : changed) {
      ok = ok && w.Object(c.object, c.id) && w.DropEntriesOf(c.object, c.id);
      for (const JournalEntry& e : c.entries) ok = ok && w.Entry(e);
    }
  }
  if (!ok || !Exec("COMMIT")) {
    Exec("ROLLBACK");
    return false;
  }
  return true;
}

bool MailboxDb::Rewrite(const MailboxState& s, const std::vector<JournalEntry>& journal) {
  if (db_ == nullptr || !Exec("BEGIN")) return false;
  bool ok = Exec("DELETE FROM meta; DELETE FROM folders; DELETE FROM mails;"
                 " DELETE FROM contacts; DROP TABLE IF EXISTS journal") &&
            Exec(kJournalTable) && Exec(kSetLayout);
  if (ok) {
    Writer w(db_, s);
    ok = w.Meta();
    for (const auto& [id, f] : *s.folders) ok = ok && w.Object(JournalEntry::kFolder, id);
    for (const auto& [id, m] : *s.mails) ok = ok && w.Object(JournalEntry::kMail, id);
    for (const auto& [id, c] : *s.contacts) ok = ok && w.Object(JournalEntry::kContact, id);
    for (const JournalEntry& e : journal) ok = ok && w.Entry(e);
  }
  if (!ok || !Exec("COMMIT")) {
    Exec("ROLLBACK");
    return false;
  }
  old_layout_ = false;
  return true;
}

}  // namespace gateway
}  // namespace quill
