#include "ui/menu_state.h"

#include <algorithm>
#include <iterator>

#include "ui/commands.h"

namespace quill {
namespace ui {
namespace {

// Off while the list shows check boxes.
constexpr uint32_t kOffInMultiSelect[] = {
    kCmdCompose,  kCmdDelete,       kCmdFetchMail, kCmdFolders,       kCmdMarkRead,
    kCmdMarkUnread, kCmdMarkAllRead, kCmdSelectMany, kCmdTraffic,     kCmdNetworkCheck,
    kCmdSettings, kCmdSwitchAccount, kCmdCheckUpdate, kCmdFeedback,
};

}  // namespace

bool CommandEnabled(uint32_t command, const MenuContext& c) {
  if (c.multi_select && std::find(std::begin(kOffInMultiSelect), std::end(kOffInMultiSelect),
                                   command) != std::end(kOffInMultiSelect)) {
    return false;
  }
  // The selection rules hold in both modes, so no mail is opened or
  // replied to while several are ticked.
  switch (command) {
    case kCmdDelete:
    case kCmdMarkRead:
    case kCmdMarkUnread:
      return c.selected != 0;
    case kCmdOpenMail:
    case kCmdReply:
    case kCmdReplyAll:
    case kCmdForward:
      return c.selected == 1;
    case kCmdMarkAllRead:
      return !c.list_empty;
    default:
      return true;
  }
}

}  // namespace ui
}  // namespace quill
