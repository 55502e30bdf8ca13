#include "html/html_number.h"

#include "html/display_element.h"

namespace quill {
namespace html {
namespace {

int DigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'z') return c - 'a' + 10;
  if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
  return 99;
}

bool IsCSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// strtol with a 32-bit long.
int32_t StrToL32(std::string_view s, int base) {
  size_t i = 0;
  while (i < s.size() && IsCSpace(s[i])) ++i;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
    negative = s[i] == '-';
    ++i;
  }
  if (base == 16 && i + 2 < s.size() && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X') &&
      DigitValue(s[i + 2]) < 16) {
    i += 2;  // strtol's optional "0x" prefix in base 16
  }
  const int64_t limit = negative ? -static_cast<int64_t>(INT32_MIN) : INT32_MAX;
  int64_t value = 0;
  bool saturated = false;
  for (; i < s.size(); ++i) {
    const int d = DigitValue(s[i]);
    if (d >= base) break;
    if (!saturated) {
      value = value * base + d;
      if (value > limit) saturated = true;
    }
  }
  if (saturated) return negative ? INT32_MIN : INT32_MAX;
  return static_cast<int32_t>(negative ? -value : value);
}

bool OnlyZeros(std::string_view s) {
  for (char c : s) {
    if (c != '0') return false;
  }
  return true;
}

}  // namespace

bool ParseHtmlNumber(std::string_view text, int32_t* value) {
  int base = 10;
  const size_t hash = text.find('#');
  if (hash != std::string_view::npos) {
    text.remove_prefix(hash + 1);
    base = 16;
  }
  if (OnlyZeros(text)) {
    *value = 0;
    return true;
  }
  const int32_t v = StrToL32(text, base);
  if (v == 0 || v == INT32_MAX || v == INT32_MIN) return false;
  *value = v;
  return true;
}

uint32_t ParseHtmlColour(std::string_view text) {
  int32_t rgb;
  if (!ParseHtmlNumber(text, &rgb)) return kNoColour;
  const uint32_t v = static_cast<uint32_t>(rgb);
  return ((v & 0xFF) << 16) | (v & 0xFF00) | ((v >> 16) & 0xFF);
}

}  // namespace html
}  // namespace quill
