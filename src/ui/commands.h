// Command ids of the screens' menus (menu 128 of the main window, its
// context menu 222, the reader's menu 207, the folder screen's menu 214).
// Scripts name commands by these numbers.
#ifndef QUILL_UI_COMMANDS_H_
#define QUILL_UI_COMMANDS_H_

#include <cstdint>

namespace quill {
namespace ui {

enum Command : uint32_t {
  kCmdLeftSoftKey = 59403,   // "查看未读" / "返回" / "完成选择"
  kCmdCompose = 32809,
  kCmdDelete = 32808,
  kCmdMarkRead = 32797,
  kCmdMarkUnread = 32798,
  kCmdMarkAllRead = 32787,
  kCmdSelectMany = 59428,
  kCmdFetchMail = 32824,
  kCmdFolders = 32789,
  kCmdTraffic = 32832,
  kCmdNetworkCheck = 59416,
  kCmdSettings = 59412,
  kCmdSwitchAccount = 32822,
  kCmdCheckUpdate = 59414,
  kCmdFeedback = 59405,
  kCmdExit = 32776,
  kCmdOpenMail = 32812,
  kCmdReply = 32794,
  kCmdReplyAll = 32814,
  kCmdForward = 32795,
  // The reader's menu 207 (besides 32794, 32814, 32795 and 32808).
  kCmdCloseReader = 32782,
  kCmdCopyTo = 59434,
  kCmdCopyCc = 59435,
  kCmdCopySubject = 59436,
  kCmdCopyBody = 59437,
  kCmdPreviousMail = 32836,
  kCmdNextMail = 32835,
  kCmdDownloadBody = 32793,
  // The folder screen's menu 214.
  kCmdEnterFolder = 32790,
  kCmdToggleFolderFetch = 32791,
};

// Private messages the reader sends the main window: open the previous /
// next mail of the list.
inline constexpr uint32_t kMsgPreviousMail = 3035;
inline constexpr uint32_t kMsgNextMail = 3036;

}  // namespace ui
}  // namespace quill

#endif  // QUILL_UI_COMMANDS_H_
