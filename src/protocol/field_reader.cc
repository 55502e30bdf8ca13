#include "protocol/field_reader.h"

namespace quill {
namespace protocol {

FieldReader::FieldReader(const uint8_t* image, size_t size, uint8_t mode)
    : image_(image), size_(size), mode_(mode), pos_(12), failed_(mode > 1 || size < 12) {}

bool FieldReader::ReadNumber(uint32_t* out) {
  if (mode_ == 0) {
    if (size_ - pos_ < 4) return false;
    const uint8_t* p = image_ + pos_;
    *out = (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
    pos_ += 4;
    return true;
  }
  // Groups that would land at bit 32 or beyond contribute nothing.
  uint32_t value = 0;
  unsigned shift = 0;
  for (;;) {
    if (pos_ >= size_) return false;
    const uint8_t b = image_[pos_++];
    if (shift < 32) {
      value |= uint32_t{b & 0x7Fu} << shift;
      shift += 7;
    }
    if ((b & 0x80) == 0) break;
  }
  *out = value;
  return true;
}

bool FieldReader::Next(FieldInfo* field) {
  if (failed_ || pos_ >= size_) return false;
  const size_t start = pos_;
  uint32_t tag = 0, length = 0;
  if (!ReadNumber(&tag) || !ReadNumber(&length) || length > 0x7FFFFFFFu ||
      length > size_ - pos_) {
    pos_ = start;
    failed_ = true;
    return false;
  }
  field->tag = tag;
  field->start = start;
  field->value = pos_;
  field->length = length;
  pos_ += length;
  return true;
}

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
