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

void AppendUtf8(char32_t cp, std::string* out) {
  if (cp < 0x80) {
    out->push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

}  // namespace

std::u16string Utf8ToUtf16(std::string_view utf8) {
  std::u16string out;
  out.reserve(utf8.size());
  size_t pos = 0;
  while (pos < utf8.size()) {
    const char32_t cp = DecodeOne(utf8, &pos);
    if (cp >= 0x10000) {
      out.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
  }
  return out;
}

std::string Utf16ToUtf8(std::u16string_view utf16) {
  std::string out;
  out.reserve(utf16.size() * 3);
  for (size_t i = 0; i < utf16.size(); ++i) {
    char32_t cp = utf16[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < utf16.size() &&
        utf16[i + 1] >= 0xDC00 && utf16[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (utf16[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = kReplacement;  // lone surrogate
    }
    AppendUtf8(cp, &out);
  }
  return out;
}

}  // namespace quill
