// ASCII case folding, for the names this program compares without regard
// to case (account names, HTML tag and attribute names, mail addresses).
// Only 'A'..'Z' change; every other byte or UTF-16 unit stays as it is, so
// UTF-8 and non-Latin text pass through unchanged.
#ifndef QUILL_PLATFORM_ASCII_H_
#define QUILL_PLATFORM_ASCII_H_

#include <string>
#include <string_view>

namespace quill {

constexpr char AsciiLower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}
constexpr char16_t AsciiLower(char16_t c) {
  return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c;
}

inline std::string AsciiLowered(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = AsciiLower(c);
  return out;
}

template <typename Char>
bool EqualsIgnoringAsciiCase(std::basic_string_view<Char> a, std::basic_string_view<Char> b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}
inline bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  return EqualsIgnoringAsciiCase<char>(a, b);
}
inline bool EqualsIgnoringAsciiCase(std::u16string_view a, std::u16string_view b) {
  return EqualsIgnoringAsciiCase<char16_t>(a, b);
}

}  // namespace quill

#endif  // QUILL_PLATFORM_ASCII_H_
