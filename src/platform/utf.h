// UTF-8 <-> UTF-16 conversion. The user interface keeps text as UTF-16
// (std::u16string); the wire and the record files carry UTF-8.
//
// Both directions are total: an invalid UTF-8 sequence (stray continuation
// byte, overlong form, encoded surrogate, value above U+10FFFF, truncated
// sequence) and a lone UTF-16 surrogate each become U+FFFD.
#ifndef QUILL_PLATFORM_UTF_H_
#define QUILL_PLATFORM_UTF_H_

#include <string>
#include <string_view>

namespace quill {

std::u16string Utf8ToUtf16(std::string_view utf8);
std::string Utf16ToUtf8(std::u16string_view utf16);

}  // namespace quill

#endif  // QUILL_PLATFORM_UTF_H_
