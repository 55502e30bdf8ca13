// What a text or link run asks of the view's font lookup. The lookup may
// answer with no font, in which case the run uses the view's default font.
#ifndef QUILL_HTML_FONT_REQUEST_H_
#define QUILL_HTML_FONT_REQUEST_H_

#include <cstdint>
#include <string>

namespace quill {
namespace html {

struct FontRequest {
  std::u16string face;     // FONT FACE of the run; empty = unset
  int32_t size = -1;       // FONT SIZE of the run; -1 = unset
  bool bold = false;       // inside B or STRONG
  bool italic = false;     // inside I or EM
  bool underline = false;  // inside an open link

  bool operator==(const FontRequest& o) const {
    return face == o.face && size == o.size && bold == o.bold && italic == o.italic &&
           underline == o.underline;
  }
};

}  // namespace html
}  // namespace quill

#endif  // QUILL_HTML_FONT_REQUEST_H_
