#include "html/html_utf.h"

#include <algorithm>
#include <cstdint>
#include <string>

#include "platform/utf.h"

namespace quill {
namespace html {
namespace {

bool IsSurrogate(char16_t u) { return u >= 0xD800 && u <= 0xDFFF; }
bool IsContinuation(uint8_t b) { return (b & 0xC0) == 0x80; }

}  // namespace

size_t ToUtf8(std::u16string_view utf16, char* out) {
  char* to = out;
  size_t i = 0;
  while (i < utf16.size()) {
    const char16_t u = utf16[i];
    if (u < 0x80) {
      *to++ = static_cast<char>(u);
      ++i;
    } else if (u < 0x800) {
      *to++ = static_cast<char>(0xC0 | (u >> 6));
      *to++ = static_cast<char>(0x80 | (u & 0x3F));
      ++i;
    } else if (!IsSurrogate(u)) {
      *to++ = static_cast<char>(0xE0 | (u >> 12));
      *to++ = static_cast<char>(0x80 | ((u >> 6) & 0x3F));
      *to++ = static_cast<char>(0x80 | (u & 0x3F));
      ++i;
    } else {
      // No pair crosses the ends of a run of surrogates.
      size_t end = i;
      while (end < utf16.size() && IsSurrogate(utf16[end])) ++end;
      const std::string run = Utf16ToUtf8(utf16.substr(i, end - i));
      to = std::copy(run.begin(), run.end(), to);
      i = end;
    }
  }
  return to - out;
}

size_t ToUtf16(std::string_view utf8, char16_t* out) {
  char16_t* to = out;
  const size_t n = utf8.size();
  size_t i = 0;
  while (i < n) {
    const uint8_t b0 = static_cast<uint8_t>(utf8[i]);
    if (b0 < 0x80) {
      *to++ = b0;
      ++i;
      continue;
    }
    const uint8_t b1 = i + 1 < n ? static_cast<uint8_t>(utf8[i + 1]) : 0;
    if (b0 >= 0xC2 && b0 <= 0xDF && IsContinuation(b1)) {
      *to++ = static_cast<char16_t>(((b0 & 0x1F) << 6) | (b1 & 0x3F));
      i += 2;
      continue;
    }
    const uint8_t b2 = i + 2 < n ? static_cast<uint8_t>(utf8[i + 2]) : 0;
    if (b0 >= 0xE0 && b0 <= 0xEF && IsContinuation(b1) && IsContinuation(b2)) {
      const char16_t u =
          static_cast<char16_t>(((b0 & 0x0F) << 12) | ((b1 & 0x3F) << 6) | (b2 & 0x3F));
      if (u >= 0x800 && !IsSurrogate(u)) {
        *to++ = u;
        i += 3;
        continue;
      }
    }
    // The rest of the run of non-ASCII bytes. It starts where a sequence
    // starts and ends at an ASCII byte, which no sequence holds, so its
    // invalid sequences become the same U+FFFD as in one whole conversion.
    size_t end = i;
    while (end < n && static_cast<uint8_t>(utf8[end]) >= 0x80) ++end;
    const std::u16string run = Utf8ToUtf16(utf8.substr(i, end - i));
    to = std::copy(run.begin(), run.end(), to);
    i = end;
  }
  return to - out;
}

}  // namespace html
}  // namespace quill
