#include "facade/usage_counters.h"

#include <string>

#include "engine/net_job.h"

namespace quill {
namespace facade {

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

bool UsageCounters::Flush() {
  if (!dirty_) return true;
  if (!settings_->file().Save()) return false;
  dirty_ = false;
  return true;
}

}  // namespace facade
}  // namespace quill
