#include "store/global_settings.h"

namespace quill {
namespace store {
namespace {

// One list of the settings screen: values[i] is stored for position i.
struct PositionTable {
  const int* values;    // stored value per position
  int count;            // number of positions
  int default_value;    // stored for an unknown position
  int default_position; // shown for an unknown value
};

int FromPosition(const PositionTable& t, int position) {
  return position >= 0 && position < t.count ? t.values[position] : t.default_value;
}

int ToPosition(const PositionTable& t, int value) {
  for (int i = 0; i < t.count; ++i) {
    if (t.values[i] == value) return i;
  }
  return t.default_position;
}

constexpr int kSyncSpans[] = {5, 10, 20, 30, 60, 0};
constexpr int kDeleteSpans[] = {10, 20, 30, 60};
constexpr int kPicShows[] = {1, 2, 3};
constexpr int kReminds[] = {0, 1, 2, 3};
constexpr PositionTable kSyncTable{kSyncSpans, 6, 10, 1};
constexpr PositionTable kDeleteTable{kDeleteSpans, 4, 30, 2};
constexpr PositionTable kPicTable{kPicShows, 3, 2, 2};
constexpr PositionTable kRemindTable{kReminds, 4, 1, 0};

}  // namespace

bool GlobalSettings::SetDataDir(const std::string& data_dir) {
  std::string path = data_dir;
  if (!path.empty() && path.back() != '/') path += '/';
  return file_.SetPath(path + "global.cfg");
}

StartupSettings GlobalSettings::LoadAtStartup() {
  if (Get(global_keys::kAbnormalOutFlag) != 0) {
    Set(global_keys::kCrashCount, Get(global_keys::kCrashCount) + 1);
  } else {
    Set(global_keys::kAbnormalOutFlag, 1);
  }
  return StartupSettings{Get(global_keys::kNet), Get(global_keys::kTotalRecvNetFlow),
                         Get(global_keys::kTotalSendNetFlow)};
}

bool GlobalSettings::SaveTrafficTotals(uint64_t recv_total, uint64_t send_total) {
  // One save for the three values, so the flag never claims an orderly end
  // whose totals were not written.
  ConfigFile& f = file_;
  f.SetUInt64(global_keys::kTotalRecvNetFlow.name, recv_total, false);
  f.SetUInt64(global_keys::kTotalSendNetFlow.name, send_total, false);
  f.SetInt(global_keys::kAbnormalOutFlag.name, 0, false);
  return f.Save();
}

int AutoSyncSpanFromPosition(int position) { return FromPosition(kSyncTable, position); }
int AutoSyncSpanToPosition(int value) { return ToPosition(kSyncTable, value); }
int AutoDeleteSpanFromPosition(int position) { return FromPosition(kDeleteTable, position); }
int AutoDeleteSpanToPosition(int value) { return ToPosition(kDeleteTable, value); }
int PicShowFromPosition(int position) { return FromPosition(kPicTable, position); }
int PicShowToPosition(int value) { return ToPosition(kPicTable, value); }
int MailRemindFromPosition(int position) { return FromPosition(kRemindTable, position); }
int MailRemindToPosition(int value) { return ToPosition(kRemindTable, value); }

}  // namespace store
}  // namespace quill
