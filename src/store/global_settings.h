// "global.cfg": the settings of the device and the program, one getter and
// one setter per key through the key descriptors below. Every set saves the
// whole file (atomically, see ConfigFile).
//
// Thread safety: none; UI thread only.
#ifndef QUILL_STORE_GLOBAL_SETTINGS_H_
#define QUILL_STORE_GLOBAL_SETTINGS_H_

#include <cstdint>
#include <string>

#include "store/config_file.h"

namespace quill {
namespace store {

// A signed integer key and the value a reader gets when it is absent.
struct IntKey {
  const char* name;  // the key text in the file
  int32_t def;       // default
};
// An unsigned key, read and written in full 64 bits.
struct CountKey {
  const char* name;  // the key text in the file
};
// A text key; absent reads as "".
struct TextKey {
  const char* name;  // the key text in the file
};

namespace global_keys {
inline constexpr TextKey kUinName{"UINNAME"};          // account name last signed in
inline constexpr TextKey kPwd{"PWD"};                  // password digest while auto sign-in is on
inline constexpr CountKey kUinNum{"UINNUM"};           // account number last signed in
inline constexpr IntKey kNet{"NET", -1};               // chosen network destination; -1 none
inline constexpr IntKey kHaveLogon{"HAVELOGON", 0};    // 1 = sign in automatically
inline constexpr IntKey kHaveLogonProbe{"HAVELOGON", -1};  // -1 tells that the key is absent
inline constexpr IntKey kAutoSyncSpan{"AUTOSYNCSPAN", 10};     // minutes; 0 = no auto sync
inline constexpr IntKey kAutoDeleteSpan{"AUTODELETESPAN", 30}; // days kept on the device
inline constexpr IntKey kPicShow{"PICSHOW", 3};        // 1 none, 2 thumbnails, 3 fit
inline constexpr IntKey kMailRemind{"MAILREMIND", 3};  // 0 none, 1 sound, 2 notice, 3 both
inline constexpr IntKey kAutoRun{"AUTORUN", 0};        // 1 = start with the device
inline constexpr CountKey kLastUpdateTime{"LASTUPDATETIME"};        // seconds since 1970
inline constexpr CountKey kLastUpdateVersion{"LASTUPDATEVERSION"};  // version offered then
inline constexpr TextKey kFileDialogPath{"FILEDIALOGPATH"};  // last folder of the file chooser
inline constexpr IntKey kNoAddrEditTip{"NOADDREDITTIP", 0};  // 1 = tip not shown again
inline constexpr CountKey kTotalRecvNetFlow{"TotalRecvNetFlow"};  // bytes received, all runs
inline constexpr CountKey kTotalSendNetFlow{"TotalSendNetFlow"};  // bytes sent, all runs
inline constexpr IntKey kAbnormalOutFlag{"AbnormalOutFlag", 0};   // 1 while running
inline constexpr IntKey kCrashCount{"CrashCount", 0};  // starts after an unorderly end
inline constexpr CountKey kSyncNetFlowLimit{"SyncNetFlowLimit"};  // sync bytes per day; absent: the default
}  // namespace global_keys

namespace account_keys {
inline constexpr CountKey kSyncKey{"SYNC_KEY_V1"};           // sync key of the mailbox
inline constexpr CountKey kLastFolder{"LAST_FOLDER_KEY"};    // FolderID shown last
inline constexpr TextKey kAccountDataId{"ACCOUNT_DATA_ID"};  // 32 hex digits
inline constexpr char16_t kAccountDataIdAbsent[] = u"INVLIAD";  // what an absent id reads as
inline constexpr TextKey kEmailAddr{"EmailAddr"};            // address from the login answer
inline constexpr TextKey kNickName{"NickName"};              // nickname from the login answer
}  // namespace account_keys

// What start-up hands on to the connection manager and the facade.
struct StartupSettings {
  int32_t net;         // "NET": the remembered destination
  uint64_t recv_total; // "TotalRecvNetFlow"
  uint64_t send_total; // "TotalSendNetFlow"
};

class GlobalSettings {
 public:
  // fs must outlive this object.
  explicit GlobalSettings(FileSystem* fs) : file_(fs) {}

  // Uses data_dir + "/global.cfg". Only before the first get or set.
  bool SetDataDir(const std::string& data_dir);

  int32_t Get(const IntKey& key) { return file_.GetInt(key.name, key.def); }
  bool Set(const IntKey& key, int32_t value) { return file_.SetInt(key.name, value); }
  uint64_t Get(const CountKey& key) { return file_.GetUInt64(key.name, 0); }
  bool Set(const CountKey& key, uint64_t value) { return file_.SetUInt64(key.name, value); }
  std::u16string Get(const TextKey& key) { return file_.GetText(key.name, u""); }
  bool Set(const TextKey& key, std::u16string_view value) { return file_.SetText(key.name, value); }

  // Start-up bookkeeping: an unorderly last run adds 1 to "CrashCount",
  // otherwise "AbnormalOutFlag" becomes 1. Returns what start-up needs.
  StartupSettings LoadAtStartup();
  // Orderly exit: the traffic totals, then "AbnormalOutFlag" 0.
  bool SaveTrafficTotals(uint64_t recv_total, uint64_t send_total);

  ConfigFile& file() { return file_; }

 private:
  ConfigFile file_;
};

// Positions of the settings screen's lists and the stored values.
int AutoSyncSpanFromPosition(int position);
int AutoSyncSpanToPosition(int value);
int AutoDeleteSpanFromPosition(int position);
int AutoDeleteSpanToPosition(int value);
int PicShowFromPosition(int position);
int PicShowToPosition(int value);
int MailRemindFromPosition(int position);
int MailRemindToPosition(int value);

}  // namespace store
}  // namespace quill

#endif  // QUILL_STORE_GLOBAL_SETTINGS_H_
