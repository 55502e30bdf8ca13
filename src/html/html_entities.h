// Character references in text and attribute values.
#ifndef QUILL_HTML_HTML_ENTITIES_H_
#define QUILL_HTML_HTML_ENTITIES_H_

#include <string>
#include <string_view>

namespace quill {
namespace html {

enum class LineEnds {
  kKeep,     // attribute values: CR and LF stay as they are
  kToSpace,  // character data: CR LF, a lone CR and a lone LF each become one space
};

// Appends `in` to `out` (both UTF-8) with references decoded in one left-to-
// right pass; decoded output is never scanned again. Named references are the
// case-sensitive "&lt;", "&gt;", "&amp;", "&nbsp;" (a space), "&quot;",
// "&apos;" and "&bull;" ("*"). Numeric references "&#D;" and "&#xH;" (the ";"
// may be missing) become their character, except that 0, surrogates and
// values above U+10FFFF become U+FFFD. Anything else stays as it is.
void DecodeReferences(std::string_view in, LineEnds line_ends, std::string* out);

}  // namespace html
}  // namespace quill

#endif  // QUILL_HTML_HTML_ENTITIES_H_
