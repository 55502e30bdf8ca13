#include "platform/hex.h"

namespace quill {
namespace {

int DigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }

std::string Encode(ByteView bytes, const char* digits) {
  std::string out;
  out.reserve(bytes.size * 2);
  for (uint8_t b : bytes) {
    out.push_back(digits[b >> 4]);
    out.push_back(digits[b & 15]);
  }
  return out;
}

}  // namespace

std::string HexEncode(ByteView bytes) { return Encode(bytes, "0123456789ABCDEF"); }
std::string HexEncodeLower(ByteView bytes) { return Encode(bytes, "0123456789abcdef"); }

bool HexDecode(std::string_view text, Bytes* out, size_t* bad_offset) {
  Bytes bytes;
  bytes.reserve(text.size() / 2);
  int high = -1;
  size_t high_at = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (IsSpace(text[i])) continue;
    const int v = DigitValue(text[i]);
    if (v < 0) {
      if (bad_offset) *bad_offset = i;
      return false;
    }
    if (high < 0) {
      high = v;
      high_at = i;
    } else {
      bytes.push_back(static_cast<uint8_t>(high << 4 | v));
      high = -1;
    }
  }
  if (high >= 0) {
    if (bad_offset) *bad_offset = high_at;
    return false;
  }
  *out = std::move(bytes);
  return true;
}

}  // namespace quill
