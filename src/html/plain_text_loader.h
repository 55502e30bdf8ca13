// Turns a text (non-HTML) mail body into display elements: one text element
// per line, trimmed of tab, space, CR and LF at both ends, each line but the
// last followed by a line break. Blank lines give only their break.
//
// The body may come in chunks of any size: a line cut by a chunk end is held
// until its end arrives, so it is trimmed only at its real ends and every
// split gives the same elements. A copyable value. Not thread-safe.
#ifndef QUILL_HTML_PLAIN_TEXT_LOADER_H_
#define QUILL_HTML_PLAIN_TEXT_LOADER_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "html/display_element.h"

namespace quill {
namespace html {

class PlainTextLoader {
 public:
  // Appends the elements of the complete lines in `chunk` to `out`.
  void Append(std::u16string_view chunk, ElementList* out);
  // Ends the body: the last line, when not blank, becomes a text element
  // without a break.
  void Finish(ElementList* out);

  // Elements dropped because the body reached kMaxDocumentElements.
  uint32_t dropped_elements() const { return dropped_; }

 private:
  void AddLine(std::u16string_view line, ElementList* out);
  bool HasRoom();

  std::u16string line_;         // the current line so far, untrimmed
  uint32_t elements_made_ = 0;  // elements of this body so far
  uint32_t dropped_ = 0;        // elements not made because of the cap
};

// Builds the elements of a whole text body.
void LoadPlainText(std::u16string_view text, ElementList* out);

}  // namespace html
}  // namespace quill

#endif  // QUILL_HTML_PLAIN_TEXT_LOADER_H_
