// TagCodec: the message container of the wire protocol.
//
// An image is a 12-byte header followed by fields (tag, length, value):
//
//   offset 0  magic 0x81
//          1  mode: 0 = FixedMode (4-byte big-endian tags, lengths, integers)
//                   1 = CompactMode (LEB128 varint tags and lengths,
//                                    little-endian integers)
//          2  checksum of the body, 16 bits little-endian
//          4  body length = image length - 12, 32 bits little-endian
//          8  reserved, zero
//
// A value may itself be a complete image (nested record); a list is a
// nested record whose items are tagged 1..N.
//
// Every length read from an image is untrusted: Load and Attach validate the
// whole image (checksum and a walk over every field) before anything is
// read, and each get bounds the field it parses again.
//
// Lookups return the FIRST field with the asked tag. The codec keeps the
// position of every field (recorded by the validating walk, or by the put
// that wrote it), so lookups never parse again; codecs with many fields add
// a tag index on first use, so reading all N items of a list costs O(N).
//
// An image taken with Attach is borrowed and read-only: every operation that
// would write it fails with ErrBadArgument.
//
// Thread safety: none. A codec is built and read by one thread.
#ifndef QUILL_PROTOCOL_TAG_CODEC_H_
#define QUILL_PROTOCOL_TAG_CODEC_H_

#include <cstdint>
#include <string>
#include <vector>

#include "platform/bytes.h"
#include "protocol/codec_status.h"

namespace quill {
namespace protocol {

enum CodecMode : uint8_t {
  FixedMode = 0,
  CompactMode = 1,
};

// The mode of every new codec. Message bodies and their records use it; the
// envelope layers switch to CompactMode.
constexpr CodecMode kDefaultCodecMode = FixedMode;

class TagCodec {
 public:
  static constexpr int32_t kHeaderSize = 12;
  static constexpr int32_t kDefaultCapacity = 1024;
  static constexpr int32_t kGrowStep = 1024;
  static constexpr uint8_t kMagic = 0x81;
  // Largest value length a field may carry (2^31 - 1).
  static constexpr int64_t kMaxFieldLength = 0x7FFFFFFF;

  // An empty codec in the default mode with room for `capacity` bytes
  // (at least the header).
  explicit TagCodec(int32_t capacity = kDefaultCapacity);
  TagCodec(const TagCodec&) = delete;
  TagCodec& operator=(const TagCodec&) = delete;
  TagCodec(TagCodec&&) = default;
  TagCodec& operator=(TagCodec&&) = default;

  // --- Writing. Each put appends one field; on failure the earlier fields
  // are intact and the used length is unchanged.
  int PutInt(uint32_t tag, int32_t value);
  int PutUInt(uint32_t tag, uint32_t value);
  // 01 00 00 00 or 00 00 00 00 in both modes: no byte-order conversion.
  int PutBool(uint32_t tag, bool value);
  // A view with a null pointer and a non-zero size is ErrBadArgument.
  int PutBytes(uint32_t tag, ByteView value);
  // Finalises `child` and appends its whole image as the value.
  int PutCodec(uint32_t tag, TagCodec* child);

  // --- Reading. Outputs are set to 0 / emptied first.
  // A value that is not exactly 4 (8) bytes wide is ErrMalformed.
  int GetInt(uint32_t tag, int32_t* out) const;
  int GetUInt(uint32_t tag, uint32_t* out) const;
  int GetInt64(uint32_t tag, int64_t* out) const;
  // `*length` is the capacity of `buffer` on entry and the value length on
  // exit. No buffer, or a value longer than the capacity: ErrTooSmall with
  // the needed length. The buffer is zeroed first.
  int GetBytes(uint32_t tag, uint8_t* buffer, int32_t* length) const;
  // The value as 8-bit text (embedded NUL bytes kept). CodecOk when the
  // field exists; else the lookup's negative status and an empty text.
  int GetString(uint32_t tag, std::string* out) const;
  // Replaces `*out` with a validated private copy of the nested image (in
  // the mode that image declares; an empty value gives an empty codec in the
  // default mode). On failure `*out` is unchanged.
  int GetCodec(uint32_t tag, TagCodec* out) const;
  // The value in place. Valid until the codec is next changed.
  int GetView(uint32_t tag, ByteView* out) const;

  // --- Whole images.
  // Validates bytes[0..length) and takes a private copy with room for
  // `capacity` bytes (0: exactly length). On failure the codec is unchanged.
  int Load(const uint8_t* bytes, int32_t length, int32_t capacity = 0);
  // Validates and borrows the caller's bytes, which must stay alive and
  // unchanged until the codec lets go of them (Detach, Load, destruction).
  int Attach(const uint8_t* bytes, int32_t length);
  // Finalises the header and moves the image into `*image` (sized to the
  // image), leaving an empty codec in the same mode. A borrowed image is
  // copied out. With no output, only lets go of the image.
  int Detach(Bytes* image);
  // Finalises the header and copies the image; `*length` is the capacity on
  // entry and the image length on exit (ErrTooSmall when it does not fit).
  int CopyTo(uint8_t* buffer, int32_t* length);
  // Drops every field (mode kept).
  int Reset();
  // Resets the codec when `mode` differs from the current one.
  int SetMode(uint8_t mode);

  // Writes the checksum and the body length into the header. A borrowed
  // image is valid already and is left untouched.
  void Finalize();

  int32_t Size() const { return used_; }
  int32_t Capacity() const { return static_cast<int32_t>(attached_ ? used_ : buffer_.size()); }
  uint8_t Mode() const { return Data()[1]; }
  bool IsAttached() const { return attached_ != nullptr; }
  bool IsEmpty() const { return used_ == kHeaderSize; }
  // Number of fields in the image.
  size_t FieldCount() const { return fields_.size(); }
  // The image bytes; the header is current only after Finalize.
  const uint8_t* Data() const { return attached_ ? attached_ : buffer_.data(); }
  ByteView Image() const { return ByteView(Data(), static_cast<size_t>(used_)); }

  // Ones' complement of the 16-bit wrapping sum of the body bytes taken as
  // signed 8-bit numbers. An empty body gives 0xFFFF.
  static uint16_t Checksum(const uint8_t* body, size_t length);
  // Why an image is invalid, for diagnostics.
  struct Fault {
    const char* what = "";  // a short English phrase
    size_t offset = 0;      // the offending byte of the image
  };
  // CodecOk when bytes[0..length) is a valid image, else ErrMalformed with
  // the first fault found in `*fault` (if given).
  static int Validate(const uint8_t* bytes, int64_t length, Fault* fault = nullptr);

 private:
  // One field: value at [value, value + length) of the image. In the index,
  // value < 0 marks a free slot.
  struct Field {
    uint32_t tag;
    int32_t value;
    int32_t length;
  };

  // Validate, recording the fields of a valid image in *fields (if given).
  static int ValidateInto(const uint8_t* bytes, int64_t length, Fault* fault,
                          std::vector<Field>* fields);
  int FindField(uint32_t tag, Field* field) const;
  void BuildIndex() const;
  int GetFixedWidth(uint32_t tag, int width, uint64_t* out) const;
  // Appends a field whose value is value[0..length), after the checks that
  // every put shares.
  int Append(uint32_t tag, const uint8_t* value, int64_t length);
  int Reserve(int64_t needed);
  void ResetTo(uint8_t mode);
  void Changed() { index_.clear(); }

  Bytes buffer_;                       // owned image; size() is the capacity
  const uint8_t* attached_ = nullptr;  // borrowed image, or null
  int32_t used_ = kHeaderSize;         // image length, at least the header
  int32_t configured_capacity_;        // capacity of a fresh buffer
  std::vector<Field> fields_;          // every field of the image, in order
  std::vector<Field> spare_fields_;    // scratch for Load/Attach, kept for its capacity
  mutable std::vector<Field> index_;   // first-occurrence hash of fields_, built lazily
};

}  // namespace protocol
}  // namespace quill

#endif  // QUILL_PROTOCOL_TAG_CODEC_H_
