// The usage statistics counters: per kind of exchange, how many succeeded
// ("<prefix>OK"), failed on the network path ("<prefix>NetErr") or were
// answered with a non-zero result ("<prefix>SvrErr"). They live in
// "global.cfg"; counts are kept in the loaded file and written out by
// Flush, once per job rather than once per exchange.
//
// With them the statistics upload carries "StartTime", "EndTime" and
// "CrashCount": kStatKeys lists all 24 values in upload order.
//
// Threading: UI thread only, like the settings it writes.
#ifndef QUILL_FACADE_USAGE_COUNTERS_H_
#define QUILL_FACADE_USAGE_COUNTERS_H_

#include "commands/stat_message.h"
#include "engine/job_listener.h"
#include "store/global_settings.h"

namespace quill {
namespace facade {

// The keys of the statistics values, in the order they are uploaded.
inline constexpr const char* kStatKeys[commands::kStatValueCount] = {
    "AuthOK",         "AuthNetErr",         "AuthSvrErr",         "SyncOK",
    "SyncNetErr",     "SyncSvrErr",         "MailBodyOK",         "MailBodyNetErr",
    "MailBodySvrErr", "MailAttachOK",       "MailAttachNetErr",   "MailAttachSvrErr",
    "MailImgOK",      "MailImgNetErr",      "MailImgSvrErr",      "MailDelvLongOK",
    "MailDelvLongNetErr", "MailDelvLongSvrErr", "MailBriefOK",    "MailBriefNetErr",
    "MailBriefSvrErr", "StartTime",         "EndTime",            "CrashCount",
};

class UsageCounters {
 public:
  // settings must outlive the counters.
  explicit UsageCounters(store::GlobalSettings* settings) : settings_(settings) {}

  // The counter prefix of a job type ("Auth", "Sync", ...); null for types
  // without counters.
  static const char* Prefix(int job_type);

  // Counts one report of a job: data with result `code`, or an error.
  // Progress reports count nothing.
  void Count(int job_type, engine::JobEventKind kind, int32_t code);

  // "StartTime" (the run's start) and "EndTime" (the end of the last sync),
  // seconds since 1970.
  void RecordSyncTimes(int64_t run_start, int64_t sync_end);

  // The 24 statistics values as they are now (absent keys read 0).
  commands::StatValues Snapshot();
  // An upload of `uploaded` was accepted. Each count loses what was
  // uploaded, so counts made while the upload was in flight stay; a time is
  // cleared unless it changed since. Written at once; false when the file
  // could not be written (the values stay pending, as after Count).
  bool Settle(const commands::StatValues& uploaded);

  // Writes the counts since the last flush; false when the file could not
  // be written (the counts stay pending).
  bool Flush();

 private:
  store::GlobalSettings* const settings_;
  bool dirty_ = false;  // counts not yet written
};

}  // namespace facade
}  // namespace quill

#endif  // QUILL_FACADE_USAGE_COUNTERS_H_
