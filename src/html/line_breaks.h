// Where flowed text may break: anywhere (there is no word wrapping), except
// that closing punctuation never starts a line, as readers of Chinese text
// expect. A break that would put a closing mark ("。", "，", "）", "」"...)
// first on the next line moves back to the last character that is not one,
// so that character goes down with the marks.
#ifndef QUILL_HTML_LINE_BREAKS_H_
#define QUILL_HTML_LINE_BREAKS_H_

#include <cstddef>
#include <string_view>

namespace quill {
namespace html {

// Full stops, commas, colons, closing brackets and quotes, ASCII and CJK
// (fullwidth and halfwidth forms included), and the ellipsis.
bool IsClosingPunctuation(char16_t c);

// True when text[at] is the second unit of a surrogate pair: no break there.
bool InsidePair(std::u16string_view text, size_t at);

// For a line holding units [begin, begin + taken) of text, followed by more
// text: the largest t in [1, taken] such that a break after begin + t puts
// neither closing punctuation nor the second half of a pair first on the
// next line; 0 when there is none. Requires begin + taken < text.size().
size_t BreakBeforeClosing(std::u16string_view text, size_t begin, size_t taken);

}  // namespace html
}  // namespace quill

#endif  // QUILL_HTML_LINE_BREAKS_H_
