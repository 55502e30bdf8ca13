#include "gateway/mailbox_db.h"

#include <sqlite3.h>
#include <stdio.h>

#include "gateway/mailbox.h"

namespace quill {
namespace gateway {
namespace {

// A prepared statement that finalises itself.
class Statement {
 public:
  Statement(sqlite3* db, const char* sql) {
    if (sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr) != SQLITE_OK) stmt_ = nullptr;
  }
  ~Statement() { sqlite3_finalize(stmt_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  bool ok() const { return stmt_ != nullptr; }
  Statement& Bind(int i, int64_t v) {
    if (stmt_) sqlite3_bind_int64(stmt_, i, v);
    return *this;
  }
  Statement& Bind(int i, const std::string& v) {
    if (stmt_) sqlite3_bind_text(stmt_, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
    return *this;
  }
  // Runs a statement that returns no rows, ready to be bound again.
  bool Run() {
    if (stmt_ == nullptr) return false;
    const int rc = sqlite3_step(stmt_);
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
    return rc == SQLITE_DONE;
  }
  // Steps through rows; false at the end or on an error (see done()).
  bool Next() {
    if (stmt_ == nullptr) return false;
    last_ = sqlite3_step(stmt_);
    return last_ == SQLITE_ROW;
  }
  bool done() const { return last_ == SQLITE_DONE; }
  int64_t Int(int col) const { return sqlite3_column_int64(stmt_, col); }
  std::string Text(int col) const {
    const unsigned char* t = sqlite3_column_text(stmt_, col);
    return t == nullptr ? std::string()
                        : std::string(reinterpret_cast<const char*>(t),
                                      static_cast<size_t>(sqlite3_column_bytes(stmt_, col)));
  }

 private:
  sqlite3_stmt* stmt_ = nullptr;
  int last_ = SQLITE_OK;
};

uint32_t U32(int64_t v) { return static_cast<uint32_t>(v); }

}  // namespace

MailboxDb::~MailboxDb() { Close(); }

void MailboxDb::Close() {
  sqlite3_close(db_);
  db_ = nullptr;
}

bool MailboxDb::Exec(const char* sql) {
  return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

bool MailboxDb::CreateTables() {
  return Exec("PRAGMA journal_mode=WAL") && Exec("PRAGMA synchronous=NORMAL") &&
         Exec("CREATE TABLE IF NOT EXISTS meta(key TEXT PRIMARY KEY, value INTEGER NOT NULL);"
              "CREATE TABLE IF NOT EXISTS folders(id INTEGER PRIMARY KEY, dir TEXT NOT NULL,"
              " name TEXT NOT NULL);"
              "CREATE TABLE IF NOT EXISTS mails(id INTEGER PRIMARY KEY, folder INTEGER NOT NULL,"
              " unread INTEGER NOT NULL, uniq TEXT NOT NULL UNIQUE, path TEXT NOT NULL);"
              "CREATE TABLE IF NOT EXISTS contacts(id INTEGER PRIMARY KEY, address TEXT NOT NULL,"
              " name TEXT NOT NULL);"
              "CREATE TABLE IF NOT EXISTS journal(seq INTEGER PRIMARY KEY, kind INTEGER NOT NULL,"
              " id INTEGER NOT NULL);");
}

bool MailboxDb::Open(const std::string& path, MailboxState* state) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    Close();
    if (sqlite3_open(path.c_str(), &db_) == SQLITE_OK && CreateTables() && Load(state)) return true;
    Close();
    // Not a database we can use: keep it aside and start a new one.
    state->folders->clear();
    state->mails->clear();
    state->contacts->clear();
    state->journal->clear();
    for (const char* suffix : {"-wal", "-shm"}) ::remove((path + suffix).c_str());
    if (::rename(path.c_str(), (path + ".bad").c_str()) != 0) return false;
  }
  return false;
}

bool MailboxDb::Load(MailboxState* s) {
  {
    Statement q(db_, "SELECT key, value FROM meta");
    while (q.Next()) {
      const std::string key = q.Text(0);
      if (key == "next_server_id") s->next_server_id = U32(q.Int(1));
      if (key == "next_folder_id") s->next_folder_id = U32(q.Int(1));
      if (key == "next_contact_id") s->next_contact_id = U32(q.Int(1));
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
    // Keys are positions in the journal: a gap means it cannot be trusted.
    if (q.Int(0) != static_cast<int64_t>(s->journal->size() + 1) || q.Int(1) < 1 ||
        q.Int(1) > JournalEntry::kDelContact) {
      return false;
    }
    JournalEntry e;
    e.seq = U32(q.Int(0));
    e.kind = static_cast<JournalEntry::Kind>(q.Int(1));
    e.id = U32(q.Int(2));
    s->journal->push_back(e);
  }
  return q.done();
}

bool MailboxDb::Save(const MailboxState& s, size_t first_new) {
  if (db_ == nullptr || !Exec("BEGIN")) return false;
  bool ok = true;
  {
    Statement meta(db_, "INSERT OR REPLACE INTO meta(key, value) VALUES(?, ?)");
    Statement put_folder(db_, "INSERT OR REPLACE INTO folders(id, dir, name) VALUES(?, ?, ?)");
    Statement del_folder(db_, "DELETE FROM folders WHERE id = ?");
    Statement put_mail(db_,
                       "INSERT OR REPLACE INTO mails(id, folder, unread, uniq, path) VALUES(?, ?, ?, ?, ?)");
    Statement del_mail(db_, "DELETE FROM mails WHERE id = ?");
    Statement put_contact(db_, "INSERT OR REPLACE INTO contacts(id, address, name) VALUES(?, ?, ?)");
    Statement del_contact(db_, "DELETE FROM contacts WHERE id = ?");
    Statement put_entry(db_, "INSERT INTO journal(seq, kind, id) VALUES(?, ?, ?)");
    ok = meta.Bind(1, std::string("next_server_id")).Bind(2, s.next_server_id).Run() &&
         meta.Bind(1, std::string("next_folder_id")).Bind(2, s.next_folder_id).Run() &&
         meta.Bind(1, std::string("next_contact_id")).Bind(2, s.next_contact_id).Run();
    for (size_t i = first_new; ok && i < s.journal->size(); ++i) {
      const JournalEntry& e = (*s.journal)[i];
      switch (e.kind) {
        case JournalEntry::kAddFolder:
        case JournalEntry::kDelFolder: {
          auto f = s.folders->find(e.id);
          ok = f == s.folders->end()
                   ? del_folder.Bind(1, e.id).Run()
                   : put_folder.Bind(1, e.id).Bind(2, f->second.dir).Bind(3, f->second.name).Run();
          break;
        }
        case JournalEntry::kAddMail:
        case JournalEntry::kUpdateMail:
        case JournalEntry::kDelMail: {
          auto m = s.mails->find(e.id);
          ok = m == s.mails->end() ? del_mail.Bind(1, e.id).Run()
                                   : put_mail.Bind(1, e.id)
                                         .Bind(2, m->second.folder_id)
                                         .Bind(3, m->second.unread ? 1 : 0)
                                         .Bind(4, m->second.unique)
                                         .Bind(5, m->second.path)
                                         .Run();
          break;
        }
        case JournalEntry::kAddContact:
        case JournalEntry::kUpdateContact:
        case JournalEntry::kDelContact: {
          auto c = s.contacts->find(e.id);
          ok = c == s.contacts->end()
                   ? del_contact.Bind(1, e.id).Run()
                   : put_contact.Bind(1, e.id).Bind(2, c->second.address).Bind(3, c->second.name).Run();
          break;
        }
      }
      ok = ok && put_entry.Bind(1, e.seq).Bind(2, e.kind).Bind(3, e.id).Run();
    }
  }
  if (!ok) {
    Exec("ROLLBACK");
    return false;
  }
  return Exec("COMMIT");
}

}  // namespace gateway
}  // namespace quill
