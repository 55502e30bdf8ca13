// "stats.db" in the state directory: every usage statistics upload a
// client made (account, account number, when it arrived, the 24 values),
// and their totals per account.
//
// Table uploads(seq INTEGER PRIMARY KEY, account, uin, received, then one
// integer column per value, named as in kStatNames). Every commit is
// synchronous=FULL: once Record returns true the upload survives a power
// cut, so the client may be told it was accepted (it then clears what it
// uploaded).
//
// Thread safety: every method may be called from any thread; one mutex
// serialises them. Another process (the stats command) may read the file
// while the gateway writes it.
#ifndef QUILL_GATEWAY_STATS_STORE_H_
#define QUILL_GATEWAY_STATS_STORE_H_

#include <array>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

struct sqlite3;

namespace quill {
namespace gateway {

constexpr size_t kStatValueCount = 24;
// The values in the order of the request's tags 6 to 29.
extern const char* const kStatNames[kStatValueCount];
// The two values that are times, not counts.
constexpr size_t kStatStartTime = 21;
constexpr size_t kStatEndTime = 22;

constexpr char kStatsFileName[] = "stats.db";

struct StatUpload {
  std::string account;                           // the session's account
  uint32_t uin = 0;                              // its number
  int64_t received = 0;                          // seconds since 1970
  std::array<uint32_t, kStatValueCount> values{};  // in kStatNames order
};

struct StatTotals {
  std::string account;
  uint32_t uin = 0;
  int64_t uploads = 0;  // how many were recorded
  // Each count summed over the uploads; the two times as the latest upload
  // carried them.
  std::array<uint64_t, kStatValueCount> values{};
};

class StatsStore {
 public:
  explicit StatsStore(std::string path) : path_(std::move(path)) {}
  ~StatsStore();
  StatsStore(const StatsStore&) = delete;
  StatsStore& operator=(const StatsStore&) = delete;

  // Adds one upload (the database is created on first use); false when it
  // could not be made durable.
  bool Record(const StatUpload& upload);
  // The totals per account, by account name; none when there is no
  // database yet. False with a message when it cannot be read.
  bool Totals(std::vector<StatTotals>* out, std::string* error);

 private:
  // Opens (creating when `create`) the database; false when it cannot be.
  bool OpenLocked(bool create);

  const std::string path_;
  std::mutex mu_;
  sqlite3* db_ = nullptr;  // guarded by mu_; open after the first use
  bool writable_ = false;  // guarded by mu_; db_ was opened to write
};

}  // namespace gateway
}  // namespace quill

#endif  // QUILL_GATEWAY_STATS_STORE_H_
