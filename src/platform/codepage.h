// Code page 936 (simplified Chinese, GBK) conversion through iconv. The
// program needs it where a path goes into a digest and for the start-up
// entry. Both directions are total.
#ifndef QUILL_PLATFORM_CODEPAGE_H_
#define QUILL_PLATFORM_CODEPAGE_H_

#include <string>
#include <string_view>

namespace quill {

// Characters without a code page 936 form, and lone surrogates, become "?".
std::string Utf16ToCp936(std::u16string_view text);

// Byte sequences that are not code page 936 become U+FFFD, one per byte.
std::u16string Cp936ToUtf16(std::string_view bytes);

}  // namespace quill

#endif  // QUILL_PLATFORM_CODEPAGE_H_
