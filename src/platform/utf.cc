#include "platform/utf.h"

#include <cstdint>

namespace quill {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool IsContinuation(uint8_t b) { return (b & 0xC0) == 0x80; }

// Decodes one code point at s[*pos], advancing *pos past it. An invalid
// sequence consumes its lead byte and the continuation bytes that were valid
// so far (the "maximal subpart"), and yields U+FFFD.
char32_t DecodeOne(std::string_view s, size_t* pos) {
  const uint8_t lead = static_cast<uint8_t>(s[*pos]);
  ++*pos;
  if (lead < 0x80) return lead;
  int extra;
  char32_t cp;
  char32_t min;
  uint8_t lo = 0x80, hi = 0xBF;  // allowed range of the first continuation byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    extra = 1; cp = lead & 0x1F; min = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    extra = 2; cp = lead & 0x0F; min = 0x800;
    if (lead == 0xE0) lo = 0xA0;   // overlong
    if (lead == 0xED) hi = 0x9F;   // surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    extra = 3; cp = lead & 0x07; min = 0x10000;
    if (lead == 0xF0) lo = 0x90;   // overlong
    if (lead == 0xF4) hi = 0x8F;   // above U+10FFFF
  } else {
    return kReplacement;
  }
  for (int i = 0; i < extra; ++i) {
    if (*pos >= s.size()) return kReplacement;
    const uint8_t b = static_cast<uint8_t>(s[*pos]);
    if (i == 0 ? (b < lo || b > hi) : !IsContinuation(b)) return kReplacement;
    cp = (cp << 6) | (b & 0x3F);
    ++*pos;
  }
  return cp >= min ? cp : kReplacement;
}

// Writes cp as UTF-8 at out; returns the end.
char* PutUtf8(char32_t cp, char* out) {
  if (cp < 0x80) {
    *out++ = static_cast<char>(cp);
  } else if (cp < 0x800) {
    *out++ = static_cast<char>(0xC0 | (cp >> 6));
    *out++ = static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    *out++ = static_cast<char>(0xE0 | (cp >> 12));
    *out++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    *out++ = static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    *out++ = static_cast<char>(0xF0 | (cp >> 18));
    *out++ = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    *out++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    *out++ = static_cast<char>(0x80 | (cp & 0x3F));
  }
  return out;
}

}  // namespace

size_t Utf8ToUtf16(std::string_view utf8, char16_t* out) {
  char16_t* to = out;
  size_t pos = 0;
  while (pos < utf8.size()) {
    const uint8_t b = static_cast<uint8_t>(utf8[pos]);
    if (b < 0x80) {  // most of a mail
      *to++ = b;
      ++pos;
      continue;
    }
    const char32_t cp = DecodeOne(utf8, &pos);
    if (cp >= 0x10000) {
      *to++ = static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
      *to++ = static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      *to++ = static_cast<char16_t>(cp);
    }
  }
  return static_cast<size_t>(to - out);
}

size_t Utf16ToUtf8(std::u16string_view utf16, char* out) {
  char* to = out;
  for (size_t i = 0; i < utf16.size(); ++i) {
    char32_t cp = utf16[i];
    if (cp < 0x80) {
      *to++ = static_cast<char>(cp);
      continue;
    }
    if (IsHighSurrogate(cp) && i + 1 < utf16.size() && IsLowSurrogate(utf16[i + 1])) {
      cp = CombineSurrogates(cp, utf16[i + 1]);
      ++i;
    } else if (IsSurrogate(cp)) {
      cp = kReplacement;  // lone surrogate
    }
    to = PutUtf8(cp, to);
  }
  return static_cast<size_t>(to - out);
}

std::u16string Utf8ToUtf16(std::string_view utf8) {
  std::u16string out(utf8.size(), u'\0');
  out.resize(Utf8ToUtf16(utf8, out.data()));
  return out;
}

std::string Utf16ToUtf8(std::u16string_view utf16) {
  std::string out(3 * utf16.size(), '\0');
  out.resize(Utf16ToUtf8(utf16, out.data()));
  return out;
}

}  // namespace quill
