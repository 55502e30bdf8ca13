// Which commands of menu 128 are enabled each time the menu opens.
#ifndef QUILL_UI_MENU_STATE_H_
#define QUILL_UI_MENU_STATE_H_

#include <cstdint>

namespace quill {
namespace ui {

struct MenuContext {
  bool multi_select = false;  // the list shows check boxes
  int selected = 0;           // selected rows (ticked rows in multi-select mode)
  bool list_empty = true;     // the current view holds no mail
};

// The rule for one command id of menu 128; commands the rule does not
// name are enabled.
bool CommandEnabled(uint32_t command, const MenuContext& context);

}  // namespace ui
}  // namespace quill

#endif  // QUILL_UI_MENU_STATE_H_
