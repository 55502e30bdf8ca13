#include "facade/usage_counters.h"

#include <string>

#include "engine/net_job.h"

namespace quill {
namespace facade {
namespace {

constexpr size_t kStartTimeIndex = 21;
constexpr size_t kEndTimeIndex = 22;
static_assert(kStatKeys[kStartTimeIndex][0] == 'S' && kStatKeys[kEndTimeIndex][0] == 'E',
              "the times' places in the upload");

}  // namespace

const char* UsageCounters::Prefix(int job_type) {
  switch (job_type) {
    case engine::kJobLogin: return "Auth";
    case engine::kJobSync: return "Sync";
    case engine::kJobMailBrief: return "MailBrief";
    case engine::kJobMailBody: return "MailBody";
    case engine::kJobAttachDownload:
    case engine::kJobAttachPicture:
    case engine::kJobAttachText: return "MailAttach";
    case engine::kJobMailImage: return "MailImg";
    case engine::kJobLongMail: return "MailDelvLong";
    default: return nullptr;
  }
}

void UsageCounters::Count(int job_type, engine::JobEventKind kind, int32_t code) {
  const char* prefix = Prefix(job_type);
  if (prefix == nullptr || kind == engine::JobEventKind::kProgress) return;
  const char* outcome = kind == engine::JobEventKind::kError ? "NetErr" : code != 0 ? "SvrErr" : "OK";
  const std::string key = std::string(prefix) + outcome;
  store::ConfigFile& file = settings_->file();
  // The values are 32-bit; a full one wraps to 0 like its upload type.
  file.SetUInt(key, file.GetUInt(key, 0) + 1, /*save=*/false);
  dirty_ = true;
}

void UsageCounters::RecordSyncTimes(int64_t run_start, int64_t sync_end) {
  store::ConfigFile& file = settings_->file();
  file.SetUInt("StartTime", static_cast<uint32_t>(run_start), /*save=*/false);
  file.SetUInt("EndTime", static_cast<uint32_t>(sync_end), /*save=*/false);
  dirty_ = true;
}

commands::StatValues UsageCounters::Snapshot() {
  commands::StatValues values{};
  store::ConfigFile& file = settings_->file();
  for (size_t i = 0; i < values.size(); ++i) values[i] = file.GetUInt(kStatKeys[i], 0);
  return values;
}

bool UsageCounters::Settle(const commands::StatValues& uploaded) {
  store::ConfigFile& file = settings_->file();
  for (size_t i = 0; i < uploaded.size(); ++i) {
    const uint32_t now = file.GetUInt(kStatKeys[i], 0);
    const bool time = i == kStartTimeIndex || i == kEndTimeIndex;
    // Counts wrap like their 32-bit upload type, so the difference is the
    // number of counts made since the snapshot.
    const uint32_t left = time ? (now == uploaded[i] ? 0 : now) : now - uploaded[i];
    file.SetUInt(kStatKeys[i], left, /*save=*/false);
  }
  dirty_ = true;
  return Flush();
}

bool UsageCounters::Flush() {
  if (!dirty_) return true;
  if (!settings_->file().Save()) return false;
  dirty_ = false;
  return true;
}

}  // namespace facade
}  // namespace quill
