// Tag and attribute name tests. All tests are ASCII case-insensitive byte
// comparisons against upper-case literals.
#ifndef QUILL_HTML_HTML_NAMES_H_
#define QUILL_HTML_HTML_NAMES_H_

#include <string_view>

namespace quill {
namespace html {

// True when `name` is exactly `upper` (e.g. NameIs("img", "IMG")).
bool NameIs(std::string_view name, std::string_view upper);

// True when `name` begins with `upper` (e.g. NameBegins("pre", "P")).
bool NameBegins(std::string_view name, std::string_view upper);

// Start tags that make text bold / italic while open.
bool IsBoldTag(std::string_view name);
bool IsItalicTag(std::string_view name);

// How many line ends an end tag gives: one each for a name beginning with
// TABLE, DIV, TR, P, L or LI (so LI gives two).
int BlockEndBreaks(std::string_view end_tag);

// True for text that is empty or only tab, space, LF and CR.
bool IsBlank(std::string_view text);

}  // namespace html
}  // namespace quill

#endif  // QUILL_HTML_HTML_NAMES_H_
