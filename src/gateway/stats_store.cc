#include "gateway/stats_store.h"

#include <sqlite3.h>
#include <unistd.h>

#include "gateway/sqlite_statement.h"

namespace quill {
namespace gateway {

const char* const kStatNames[kStatValueCount] = {
    "AuthOK",          "AuthNetErr",       "AuthSvrErr",       "SyncOK",
    "SyncNetErr",      "SyncSvrErr",       "MailBodyOK",       "MailBodyNetErr",
    "MailBodySvrErr",  "MailAttachOK",     "MailAttachNetErr", "MailAttachSvrErr",
    "MailImgOK",       "MailImgNetErr",    "MailImgSvrErr",    "MailDelvLongOK",
    "MailDelvLongNetErr", "MailDelvLongSvrErr", "MailBriefOK", "MailBriefNetErr",
    "MailBriefSvrErr", "StartTime",        "EndTime",          "CrashCount",
};

namespace {

constexpr int kBusyTimeoutMs = 5000;

bool IsTime(size_t i) { return i == kStatStartTime || i == kStatEndTime; }

std::string CreateSql() {
  std::string sql =
      "CREATE TABLE IF NOT EXISTS uploads(seq INTEGER PRIMARY KEY, account TEXT NOT NULL,"
      " uin INTEGER NOT NULL, received INTEGER NOT NULL";
  for (const char* name : kStatNames) sql += std::string(", \"") + name + "\" INTEGER NOT NULL";
  return sql + ")";
}

std::string InsertSql() {
  std::string sql = "INSERT INTO uploads(account, uin, received";
  std::string values = "VALUES(?, ?, ?";
  for (const char* name : kStatNames) {
    sql += std::string(", \"") + name + "\"";
    values += ", ?";
  }
  return sql + ") " + values + ")";
}

// One row per account: its number, the uploads, then each value: a count
// summed, a time as the latest upload carried it.
std::string TotalsSql() {
  std::string sql = "SELECT account, MAX(uin), COUNT(*)";
  for (size_t i = 0; i < kStatValueCount; ++i) {
    const std::string column = std::string("\"") + kStatNames[i] + "\"";
    if (IsTime(i)) {
      sql += ", (SELECT " + column +
             " FROM uploads AS latest WHERE latest.account = uploads.account"
             " ORDER BY seq DESC LIMIT 1)";
    } else {
      sql += ", SUM(" + column + ")";
    }
  }
  return sql + " FROM uploads GROUP BY account ORDER BY account";
}

}  // namespace

StatsStore::~StatsStore() { sqlite3_close(db_); }

bool StatsStore::OpenLocked(bool create) {
  if (db_ != nullptr && (writable_ || !create)) return true;
  sqlite3_close(db_);  // opened for reading: open again to write
  db_ = nullptr;
  const int flags = create ? SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE : SQLITE_OPEN_READONLY;
  if (sqlite3_open_v2(path_.c_str(), &db_, flags, nullptr) != SQLITE_OK) {
    sqlite3_close(db_);
    db_ = nullptr;
    return false;
  }
  sqlite3_busy_timeout(db_, kBusyTimeoutMs);
  writable_ = create;
  if (create && (sqlite3_exec(db_, "PRAGMA synchronous = FULL", nullptr, nullptr, nullptr) != SQLITE_OK ||
                 sqlite3_exec(db_, CreateSql().c_str(), nullptr, nullptr, nullptr) != SQLITE_OK)) {
    sqlite3_close(db_);
    db_ = nullptr;
    return false;
  }
  return true;
}

bool StatsStore::Record(const StatUpload& upload) {
  std::lock_guard<std::mutex> lock(mu_);
  if (!OpenLocked(/*create=*/true)) return false;
  Statement insert(db_, InsertSql().c_str());
  insert.Bind(1, upload.account).Bind(2, upload.uin).Bind(3, upload.received);
  for (size_t i = 0; i < kStatValueCount; ++i) {
    insert.Bind(static_cast<int>(4 + i), static_cast<int64_t>(upload.values[i]));
  }
  return insert.Run();
}

bool StatsStore::Totals(std::vector<StatTotals>* out, std::string* error) {
  std::lock_guard<std::mutex> lock(mu_);
  out->clear();
  if (db_ == nullptr && access(path_.c_str(), F_OK) != 0) return true;  // nothing uploaded yet
  if (!OpenLocked(/*create=*/false)) {
    *error = path_ + ": cannot be opened";
    return false;
  }
  Statement query(db_, TotalsSql().c_str());
  while (query.Next()) {
    StatTotals totals;
    totals.account = query.Text(0);
    totals.uin = static_cast<uint32_t>(query.Int(1));
    totals.uploads = query.Int(2);
    for (size_t i = 0; i < kStatValueCount; ++i) {
      totals.values[i] = static_cast<uint64_t>(query.Int(static_cast<int>(3 + i)));
    }
    out->push_back(std::move(totals));
  }
  if (!query.done()) {
    *error = path_ + ": " + sqlite3_errmsg(db_);
    return false;
  }
  return true;
}

}  // namespace gateway
}  // namespace quill
