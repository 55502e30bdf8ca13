#include "gateway/delivery_book.h"

#include <sqlite3.h>

#include "gateway/sqlite_statement.h"

namespace quill {
namespace gateway {
namespace {

constexpr char kSchema[] =
    "CREATE TABLE IF NOT EXISTS deliveries(key TEXT PRIMARY KEY, account TEXT NOT NULL,"
    " created INTEGER NOT NULL, state INTEGER NOT NULL, mode INTEGER NOT NULL,"
    " source INTEGER NOT NULL, sender TEXT NOT NULL, body_length INTEGER NOT NULL,"
    " body_have INTEGER NOT NULL, header INTEGER NOT NULL, subject TEXT NOT NULL,"
    " recipients TEXT NOT NULL, server_id INTEGER NOT NULL, second INTEGER NOT NULL,"
    " content TEXT NOT NULL);"
    "CREATE INDEX IF NOT EXISTS deliveries_content ON deliveries(account, content);"
    "CREATE TABLE IF NOT EXISTS files(key TEXT NOT NULL, idx INTEGER NOT NULL, name TEXT NOT NULL,"
    " size INTEGER NOT NULL, digest TEXT NOT NULL, have INTEGER NOT NULL, PRIMARY KEY(key, idx));"
    "CREATE TABLE IF NOT EXISTS copies(key TEXT NOT NULL, recipient TEXT NOT NULL,"
    " PRIMARY KEY(key, recipient))";

// Recipients as text: one "L<TAB>name<TAB>address" line each; TAB and line
// breaks never occur in the fields (the command replaces them).
std::string EncodeRecipients(const std::vector<DeliveryAddress>& list) {
  std::string out;
  for (const DeliveryAddress& a : list) {
    out += a.list;
    out += '\t' + a.name + '\t' + a.address + '\n';
  }
  return out;
}

std::vector<DeliveryAddress> DecodeRecipients(const std::string& text) {
  std::vector<DeliveryAddress> out;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(start, end - start);
    start = end + 1;
    const size_t t1 = line.find('\t');
    const size_t t2 = t1 == std::string::npos ? t1 : line.find('\t', t1 + 1);
    if (t1 != 1 || t2 == std::string::npos) continue;
    out.push_back({line[0], line.substr(2, t2 - 2), line.substr(t2 + 1)});
  }
  return out;
}

}  // namespace

DeliveryBook::DeliveryBook(FileSystem* fs, std::string state_dir)
    : fs_(fs), state_dir_(std::move(state_dir)) {}

DeliveryBook::~DeliveryBook() { sqlite3_close(db_); }

bool DeliveryBook::Exec(const char* sql) {
  return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

bool DeliveryBook::Open() {
  if (db_ != nullptr) return true;
  if (!fs_->MakeDirs(state_dir_)) return false;
  if (sqlite3_open((state_dir_ + "/deliveries.db").c_str(), &db_) != SQLITE_OK) {
    sqlite3_close(db_);
    db_ = nullptr;
    return false;
  }
  sqlite3_busy_timeout(db_, 5000);
  if (!Exec("PRAGMA synchronous = FULL") || !Exec(kSchema)) {
    sqlite3_close(db_);
    db_ = nullptr;
    return false;
  }
  return true;
}

bool DeliveryBook::Save(const Delivery& d) {
  if (!Open() || !Exec("BEGIN IMMEDIATE")) return false;
  bool ok = true;
  {
    Statement row(db_,
                  "INSERT OR REPLACE INTO deliveries VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9,"
                  " ?10, ?11, ?12, ?13, ?14, ?15)");
    ok = row.Bind(1, d.key)
             .Bind(2, d.account)
             .Bind(3, d.created)
             .Bind(4, int64_t{d.delivered ? 1 : 0})
             .Bind(5, int64_t{d.mode})
             .Bind(6, int64_t{d.source})
             .Bind(7, d.sender_name)
             .Bind(8, static_cast<int64_t>(d.body_length))
             .Bind(9, static_cast<int64_t>(d.body_have))
             .Bind(10, int64_t{d.header ? 1 : 0})
             .Bind(11, d.subject)
             .Bind(12, EncodeRecipients(d.recipients))
             .Bind(13, int64_t{d.server_id})
             .Bind(14, int64_t{d.second})
             .Bind(15, d.content)
             .Run();
    Statement file(db_, "INSERT OR REPLACE INTO files VALUES(?1, ?2, ?3, ?4, ?5, ?6)");
    for (size_t i = 0; ok && i < d.files.size(); ++i) {
      const DeliveryFile& f = d.files[i];
      ok = file.Bind(1, d.key)
               .Bind(2, static_cast<int64_t>(i))
               .Bind(3, f.name)
               .Bind(4, static_cast<int64_t>(f.size))
               .Bind(5, f.digest)
               .Bind(6, static_cast<int64_t>(f.have))
               .Run();
    }
  }
  if (!ok) {
    Exec("ROLLBACK");
    return false;
  }
  return Exec("COMMIT");
}

bool DeliveryBook::Load(const std::string& key, Delivery* out) {
  if (!Open()) return false;
  Statement row(db_,
                "SELECT account, created, state, mode, source, sender, body_length, body_have,"
                " header, subject, recipients, server_id, second, content FROM deliveries"
                " WHERE key = ?1");
  row.Bind(1, key);
  if (!row.Next()) return false;
  Delivery d;
  d.key = key;
  d.account = row.Text(0);
  d.created = row.Int(1);
  d.delivered = row.Int(2) != 0;
  d.mode = static_cast<int32_t>(row.Int(3));
  d.source = static_cast<uint32_t>(row.Int(4));
  d.sender_name = row.Text(5);
  d.body_length = static_cast<uint64_t>(row.Int(6));
  d.body_have = static_cast<uint64_t>(row.Int(7));
  d.header = row.Int(8) != 0;
  d.subject = row.Text(9);
  d.recipients = DecodeRecipients(row.Text(10));
  d.server_id = static_cast<uint32_t>(row.Int(11));
  d.second = static_cast<uint32_t>(row.Int(12));
  d.content = row.Text(13);
  Statement files(db_, "SELECT name, size, digest, have FROM files WHERE key = ?1 ORDER BY idx");
  files.Bind(1, key);
  while (files.Next()) {
    d.files.push_back({files.Text(0), static_cast<uint64_t>(files.Int(1)), files.Text(2),
                       static_cast<uint64_t>(files.Int(3))});
  }
  if (!files.done()) return false;
  *out = std::move(d);
  return true;
}

bool DeliveryBook::FindSmall(const std::string& account, const std::string& content,
                             int64_t since, Delivery* out) {
  if (!Open() || content.empty()) return false;
  std::string key;
  {
    Statement q(db_,
                "SELECT key FROM deliveries WHERE account = ?1 AND content = ?2 AND created >= ?3"
                " ORDER BY created DESC LIMIT 1");
    q.Bind(1, account).Bind(2, content).Bind(3, since);
    if (!q.Next()) return false;
    key = q.Text(0);
  }
  return Load(key, out);
}

bool DeliveryBook::HasCopy(const std::string& key, const std::string& recipient) {
  if (!Open()) return false;
  Statement q(db_, "SELECT 1 FROM copies WHERE key = ?1 AND recipient = ?2");
  q.Bind(1, key).Bind(2, recipient);
  return q.Next();
}

bool DeliveryBook::RecordCopy(const std::string& key, const std::string& recipient) {
  if (!Open()) return false;
  Statement q(db_, "INSERT OR IGNORE INTO copies VALUES(?1, ?2)");
  return q.Bind(1, key).Bind(2, recipient).Run();
}

std::string DeliveryBook::SpoolPath(const std::string& key, int index) const {
  return state_dir_ + "/spool/" + key + (index < 0 ? "/body" : "/file" + std::to_string(index));
}

bool DeliveryBook::WritePiece(const std::string& key, int index, uint64_t offset, ByteView bytes) {
  std::unique_ptr<File> f = fs_->Open(SpoolPath(key, index), FileSystem::OpenMode::kCreate, 0600);
  return f != nullptr && f->WriteAt(offset, bytes.data, bytes.size);
}

bool DeliveryBook::SyncSpool(const std::string& key, size_t files) {
  bool any = false;
  for (int i = -1; i < static_cast<int>(files); ++i) {
    const std::string path = SpoolPath(key, i);
    if (!fs_->Exists(path)) continue;
    std::unique_ptr<File> f = fs_->Open(path, FileSystem::OpenMode::kReadWrite);
    if (f == nullptr || !f->Sync()) return false;
    any = true;
  }
  // The files' names last as long as the counts that say they are held.
  return !any || fs_->SyncDir(DirName(SpoolPath(key, -1)));
}

void DeliveryBook::DropSpool(const std::string& key, size_t files) {
  fs_->Delete(SpoolPath(key, -1));
  for (size_t i = 0; i < files; ++i) fs_->Delete(SpoolPath(key, static_cast<int>(i)));
}

}  // namespace gateway
}  // namespace quill
