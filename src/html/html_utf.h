// The builder's conversions between the view's UTF-16 and the tokenizer's
// UTF-8. Each gives exactly what Utf16ToUtf8 / Utf8ToUtf16 (platform/utf.h)
// give, but writes into room the caller keeps from call to call. ASCII and
// the two- and three-byte forms of other BMP characters, nearly all of a
// mail, are converted here; surrogates (UTF-16) and four-byte or invalid
// sequences (UTF-8) go to the platform conversion, one run at a time.
#ifndef QUILL_HTML_HTML_UTF_H_
#define QUILL_HTML_HTML_UTF_H_

#include <cstddef>
#include <string_view>

namespace quill {
namespace html {

// Writes `utf16` as UTF-8 to `out`, which has room for 3 * utf16.size()
// bytes (no unit takes more); returns the bytes written.
size_t ToUtf8(std::u16string_view utf16, char* out);

// Writes `utf8` as UTF-16 to `out`, which has room for utf8.size() units (no
// byte gives more); returns the units written.
size_t ToUtf16(std::string_view utf8, char16_t* out);

}  // namespace html
}  // namespace quill

#endif  // QUILL_HTML_HTML_UTF_H_
