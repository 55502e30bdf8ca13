#include "protocol/field_reader.h"

namespace quill {
namespace protocol {

int VarintSize(uint32_t value) {
  int n = 1;
  while (value >= 0x80) {
    value >>= 7;
    ++n;
  }
  return n;
}

uint8_t* WriteVarint(uint32_t value, uint8_t* out) {
  while (value >= 0x80) {
    *out++ = static_cast<uint8_t>(value | 0x80);
    value >>= 7;
  }
  *out++ = static_cast<uint8_t>(value);
  return out;
}

}  // namespace protocol
}  // namespace quill
