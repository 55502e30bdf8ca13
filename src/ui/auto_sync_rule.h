// The auto-sync rule the main window checks every 5 seconds: once per
// configured interval, once a minute at most while the user is active,
// never with interval 0 and never before the first sync of the run.
#ifndef QUILL_UI_AUTO_SYNC_RULE_H_
#define QUILL_UI_AUTO_SYNC_RULE_H_

#include <cstdint>

namespace quill {
namespace ui {

// Times are seconds since 1970; span_minutes is "AUTOSYNCSPAN". The
// differences are taken unsigned, so a clock set back reads as long ago.
inline bool AutoSyncDue(int64_t now, int64_t last_activity, int64_t last_sync,
                        int32_t span_minutes) {
  uint64_t interval = static_cast<uint64_t>(static_cast<uint32_t>(span_minutes)) * 60;
  if (interval != 0 && static_cast<uint64_t>(now - last_activity) < 60) interval = 60;
  return interval != 0 && last_sync != 0 && static_cast<uint64_t>(now - last_sync) >= interval;
}

}  // namespace ui
}  // namespace quill

#endif  // QUILL_UI_AUTO_SYNC_RULE_H_
