// Cutting UTF-8 text to a byte budget without splitting a character.
#ifndef QUILL_STORE_UTF8_CUT_H_
#define QUILL_STORE_UTF8_CUT_H_

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace quill {
namespace store {

// The length of the longest prefix of utf8 of at most limit bytes that ends
// on a character boundary.
inline size_t Utf8PrefixLength(std::string_view utf8, size_t limit) {
  if (utf8.size() <= limit) return utf8.size();
  size_t end = limit;
  while (end > 0 && (static_cast<uint8_t>(utf8[end]) & 0xC0) == 0x80) --end;
  return end;
}

inline std::string_view CutUtf8(std::string_view utf8, size_t limit) {
  return utf8.substr(0, Utf8PrefixLength(utf8, limit));
}

}  // namespace store
}  // namespace quill

#endif  // QUILL_STORE_UTF8_CUT_H_
