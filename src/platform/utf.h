// UTF-8 <-> UTF-16 conversion. The user interface keeps text as UTF-16
// (std::u16string); the wire and the record files carry UTF-8.
//
// Both directions are total: an invalid UTF-8 sequence (stray continuation
// byte, overlong form, encoded surrogate, value above U+10FFFF, truncated
// sequence) and a lone UTF-16 surrogate each become U+FFFD.
#ifndef QUILL_PLATFORM_UTF_H_
#define QUILL_PLATFORM_UTF_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace quill {

std::u16string Utf8ToUtf16(std::string_view utf8);
std::string Utf16ToUtf8(std::u16string_view utf16);

// The same into room the caller keeps: `out` holds at least utf8.size()
// units (no byte gives more), resp. 3 * utf16.size() bytes (no unit takes
// more). Returns what was written.
size_t Utf8ToUtf16(std::string_view utf8, char16_t* out);
size_t Utf16ToUtf8(std::u16string_view utf16, char* out);

// UTF-16 surrogates: a high one followed by a low one is one code point
// above U+FFFF; either alone is no character.
constexpr bool IsHighSurrogate(char32_t u) { return u >= 0xD800 && u <= 0xDBFF; }
constexpr bool IsLowSurrogate(char32_t u) { return u >= 0xDC00 && u <= 0xDFFF; }
constexpr bool IsSurrogate(char32_t u) { return u >= 0xD800 && u <= 0xDFFF; }
// The code point of a high and a low surrogate.
constexpr char32_t CombineSurrogates(char32_t high, char32_t low) {
  return 0x10000 + ((high - 0xD800) << 10) + (low - 0xDC00);
}

// The length of the longest prefix of utf8 of at most limit bytes that ends
// on a character boundary.
inline size_t Utf8PrefixLength(std::string_view utf8, size_t limit) {
  if (utf8.size() <= limit) return utf8.size();
  size_t end = limit;
  while (end > 0 && (static_cast<uint8_t>(utf8[end]) & 0xC0) == 0x80) --end;
  return end;
}

// utf8 cut to at most limit bytes, never inside a character.
inline std::string_view CutUtf8(std::string_view utf8, size_t limit) {
  return utf8.substr(0, Utf8PrefixLength(utf8, limit));
}

}  // namespace quill

#endif  // QUILL_PLATFORM_UTF_H_
