// A prepared SQLite statement that finalises itself, for the gateway's
// databases.
//
// Thread safety: none; used by the one thread that holds its database.
#ifndef QUILL_GATEWAY_SQLITE_STATEMENT_H_
#define QUILL_GATEWAY_SQLITE_STATEMENT_H_

#include <sqlite3.h>

#include <cstdint>
#include <string>

namespace quill {
namespace gateway {

class Statement {
 public:
  Statement(sqlite3* db, const char* sql) {
    if (sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr) != SQLITE_OK) stmt_ = nullptr;
  }
  ~Statement() { sqlite3_finalize(stmt_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

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

}  // namespace gateway
}  // namespace quill

#endif  // QUILL_GATEWAY_SQLITE_STATEMENT_H_
