// One entry of the builder's font stack: what an open FONT tag set.
#ifndef QUILL_HTML_FONT_RECORD_H_
#define QUILL_HTML_FONT_RECORD_H_

#include <cstdint>
#include <string>

#include "html/display_element.h"

namespace quill {
namespace html {

struct FontRecord {
  std::string face;             // FACE, UTF-8; empty = unset
  int32_t size = -1;            // SIZE; -1 = unset
  uint32_t colour = kNoColour;  // COLOR as COLORREF 0x00BBGGRR; kNoColour = unset
};

}  // namespace html
}  // namespace quill

#endif  // QUILL_HTML_FONT_RECORD_H_
