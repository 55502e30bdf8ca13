// FieldReader: walks the fields of a codec image, bounding every tag, length
// and value by the end of the image. Once it fails it stays failed.
#ifndef QUILL_PROTOCOL_FIELD_READER_H_
#define QUILL_PROTOCOL_FIELD_READER_H_

#include <cstddef>
#include <cstdint>

namespace quill {
namespace protocol {

struct FieldInfo {
  uint32_t tag;     // the field's tag
  size_t start;     // offset of the field's first byte in the image
  size_t value;     // offset of the value in the image
  uint32_t length;  // value length, below 2^31
};

class FieldReader {
 public:
  // Reads the body of image[0..size) in `mode` (0 or 1), from offset 12.
  FieldReader(const uint8_t* image, size_t size, uint8_t mode);

  // Parses the next field. False at the end of the image or on a fault;
  // failed() tells which.
  bool Next(FieldInfo* field);

  bool failed() const { return failed_; }
  // Offset of the next field, or of the fault once failed.
  size_t offset() const { return pos_; }

 private:
  bool ReadNumber(uint32_t* out);

  const uint8_t* image_;  // borrowed image
  size_t size_;           // image length
  uint8_t mode_;          // FixedMode or CompactMode
  size_t pos_;            // next byte to read
  bool failed_;           // sticky fault flag
};

// Inline: the walk over every field is the hot loop of validation.
inline FieldReader::FieldReader(const uint8_t* image, size_t size, uint8_t mode)
    : image_(image), size_(size), mode_(mode), pos_(12), failed_(mode > 1 || size < 12) {}

inline bool FieldReader::ReadNumber(uint32_t* out) {
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

inline bool FieldReader::Next(FieldInfo* field) {
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

// Unsigned LEB128: bytes needed for `value`, and writing it at `out`.
int VarintSize(uint32_t value);
uint8_t* WriteVarint(uint32_t value, uint8_t* out);

}  // namespace protocol
}  // namespace quill

#endif  // QUILL_PROTOCOL_FIELD_READER_H_
