// Numbers and colours of tag attributes.
#ifndef QUILL_HTML_HTML_NUMBER_H_
#define QUILL_HTML_HTML_NUMBER_H_

#include <cstdint>
#include <string_view>

namespace quill {
namespace html {

// Parses an attribute number. With a "#" the text after the first "#" is read
// in base 16, otherwise the whole text in base 10, the way strtol reads it
// with a 32-bit long (leading whitespace and a sign allowed, stops at the
// first non-digit, saturates on overflow). A text that is empty or only "0"
// characters gives 0 and is accepted; otherwise a result of 0 (nothing read),
// INT32_MAX or INT32_MIN (overflow) is rejected: returns false.
bool ParseHtmlNumber(std::string_view text, int32_t* value);

// A FONT COLOR: "#RRGGBB" as COLORREF 0x00BBGGRR; kNoColour when rejected
// (a colour name, for one).
uint32_t ParseHtmlColour(std::string_view text);

}  // namespace html
}  // namespace quill

#endif  // QUILL_HTML_HTML_NUMBER_H_
