// The colours an HTML view paints with. The system colours of the window
// theme come with the view; the link and rule colours are fixed.
#ifndef QUILL_HTML_VIEW_COLOURS_H_
#define QUILL_HTML_VIEW_COLOURS_H_

#include "platform/canvas.h"

namespace quill {
namespace html {

// Text colour of a link without a FONT colour of its own.
constexpr gfx::Color kLinkColour = 0x00FF3300;
// The two rows of a horizontal rule, upper and lower.
constexpr gfx::Color kRuleUpperColour = 0x0099A8AC;
constexpr gfx::Color kRuleLowerColour = 0x00D8E9EC;

struct ViewColours {
  gfx::Color window = 0x00FFFFFF;          // background of the view
  gfx::Color window_text = 0x00000000;     // text whose element sets no colour
  gfx::Color highlight = 0x00C56A31;       // behind a focused link or block
  gfx::Color highlight_text = 0x00FFFFFF;  // text of a focused link or block
};

}  // namespace html
}  // namespace quill

#endif  // QUILL_HTML_VIEW_COLOURS_H_
