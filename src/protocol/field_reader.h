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

// Unsigned LEB128: bytes needed for `value`, and writing it at `out`.
int VarintSize(uint32_t value);
uint8_t* WriteVarint(uint32_t value, uint8_t* out);

}  // namespace protocol
}  // namespace quill

#endif  // QUILL_PROTOCOL_FIELD_READER_H_
