#include "protocol/tag_codec.h"

#include <cstring>
#include <new>

#include "protocol/field_reader.h"

namespace quill {
namespace protocol {
namespace {

// Codecs with more fields than this look tags up through a hash index.
constexpr int kLinearFields = 16;

uint32_t ReadLe32(const uint8_t* p) {
  return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

void WriteLe32(uint32_t v, uint8_t* p) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

void WriteBe32(uint32_t v, uint8_t* p) {
  p[0] = static_cast<uint8_t>(v >> 24);
  p[1] = static_cast<uint8_t>(v >> 16);
  p[2] = static_cast<uint8_t>(v >> 8);
  p[3] = static_cast<uint8_t>(v);
}

// Integers are big-endian in FixedMode and little-endian in CompactMode.
void WriteInt32(uint8_t mode, uint32_t v, uint8_t* p) {
  if (mode == FixedMode) {
    WriteBe32(v, p);
  } else {
    WriteLe32(v, p);
  }
}

bool Overlaps(const uint8_t* p, size_t n, const Bytes& buffer) {
  const uint8_t* b = buffer.data();
  return n > 0 && !buffer.empty() && p < b + buffer.size() && b < p + n;
}

uint32_t HashTag(uint32_t tag, int bits) { return (tag * 2654435761u) >> (32 - bits); }

}  // namespace

const char* CodecStatusName(int status) {
  switch (status) {
    case CodecOk: return "CodecOk";
    case ErrNoMemory: return "ErrNoMemory";
    case ErrNoSpace: return "ErrNoSpace";
    case ErrBadSize: return "ErrBadSize";
    case ErrBadArgument: return "ErrBadArgument";
    case ErrMalformed: return "ErrMalformed";
    case ErrNotPresent: return "ErrNotPresent";
    case ErrTooSmall: return "ErrTooSmall";
    case ErrBadMode: return "ErrBadMode";
    default: return "unknown status";
  }
}

TagCodec::TagCodec(int32_t capacity)
    : configured_capacity_(capacity < kHeaderSize ? kHeaderSize : capacity) {
  ResetTo(kDefaultCodecMode);
}

void TagCodec::ResetTo(uint8_t mode) {
  attached_ = nullptr;
  buffer_.assign(static_cast<size_t>(configured_capacity_), 0);
  buffer_[0] = kMagic;
  buffer_[1] = mode;
  used_ = kHeaderSize;
  fields_.clear();
  Changed();
}

uint16_t TagCodec::Checksum(const uint8_t* body, size_t length) {
  // A signed byte is (b ^ 0x80) - 128, so the sum is the sum of the flipped
  // unsigned bytes minus 128 per byte, modulo 2^16. Eight bytes at a time:
  // 16-bit lanes hold pair sums (at most 510 each) and are flushed before
  // 128 words could overflow them.
  constexpr uint64_t kFlip = 0x8080808080808080ull;
  constexpr uint64_t kLow = 0x00FF00FF00FF00FFull;
  uint64_t total = 0;
  size_t i = 0;
  while (length - i >= 8) {
    uint64_t lanes = 0;
    const size_t stop = i + 8 * 128 < length ? i + 8 * 128 : length - (length - i) % 8;
    for (; i < stop; i += 8) {
      uint64_t w;
      std::memcpy(&w, body + i, 8);
      w ^= kFlip;
      lanes += (w & kLow) + ((w >> 8) & kLow);
    }
    total += (lanes & 0xFFFF) + ((lanes >> 16) & 0xFFFF) + ((lanes >> 32) & 0xFFFF) + (lanes >> 48);
  }
  for (; i < length; ++i) total += body[i] ^ 0x80u;
  const uint16_t sum = static_cast<uint16_t>(total - 128 * static_cast<uint64_t>(length));
  return static_cast<uint16_t>(~sum);
}

int TagCodec::Validate(const uint8_t* bytes, int64_t length, Fault* fault) {
  return ValidateInto(bytes, length, fault, nullptr);
}

int TagCodec::ValidateInto(const uint8_t* bytes, int64_t length, Fault* fault,
                           std::vector<Field>* fields) {
  if (fields != nullptr) fields->clear();
  auto invalid = [fault](const char* what, size_t offset) {
    if (fault != nullptr) *fault = Fault{what, offset};
    return ErrMalformed;
  };
  if (bytes == nullptr || length < kHeaderSize) return invalid("shorter than the 12-byte header", 0);
  if (bytes[0] != kMagic) return invalid("magic byte is not 0x81", 0);
  if (ReadLe32(bytes + 4) != static_cast<uint64_t>(length - kHeaderSize)) {
    return invalid("body length field disagrees with the image length", 4);
  }
  const uint16_t stored = static_cast<uint16_t>(bytes[2] | (bytes[3] << 8));
  if (Checksum(bytes + kHeaderSize, static_cast<size_t>(length - kHeaderSize)) != stored) {
    return invalid("body checksum mismatch", 2);
  }
  if (length == kHeaderSize) return CodecOk;
  if (bytes[1] > CompactMode) return invalid("mode byte is neither 0 nor 1", 1);
  FieldReader reader(bytes, static_cast<size_t>(length), bytes[1]);
  FieldInfo f;
  while (reader.Next(&f)) {
    if (fields != nullptr) {
      fields->push_back(Field{f.tag, static_cast<int32_t>(f.value), static_cast<int32_t>(f.length)});
    }
  }
  if (reader.failed()) return invalid("field does not parse within the image", reader.offset());
  return CodecOk;
}

void TagCodec::Finalize() {
  if (attached_) return;
  const uint16_t sum = Checksum(buffer_.data() + kHeaderSize, static_cast<size_t>(used_ - kHeaderSize));
  buffer_[2] = static_cast<uint8_t>(sum);
  buffer_[3] = static_cast<uint8_t>(sum >> 8);
  WriteLe32(static_cast<uint32_t>(used_ - kHeaderSize), buffer_.data() + 4);
}

// --- Writing -----------------------------------------------------------------

int TagCodec::Reserve(int64_t needed) {
  const int64_t want = int64_t{used_} + needed;
  if (needed < 0 || want > kMaxFieldLength) return ErrBadSize;
  const int64_t capacity = static_cast<int64_t>(buffer_.size());
  if (want <= capacity) return CodecOk;
  // The smallest whole number of 1024-byte steps that covers the need.
  int64_t grown = capacity + kGrowStep * ((used_ - capacity + needed - 1) / kGrowStep + 1);
  if (grown > kMaxFieldLength) grown = kMaxFieldLength;
  try {
    buffer_.resize(static_cast<size_t>(grown));
  } catch (const std::bad_alloc&) {
    return ErrNoMemory;
  }
  return CodecOk;
}

int TagCodec::Append(uint32_t tag, const uint8_t* value, int64_t length) {
  if (attached_) return ErrBadArgument;
  const uint8_t mode = Mode();
  if (mode > CompactMode) return ErrBadMode;
  if (length < 0 || length > kMaxFieldLength) return ErrBadSize;
  const uint32_t len32 = static_cast<uint32_t>(length);
  const int64_t needed = mode == CompactMode ? VarintSize(tag) + VarintSize(len32) + length : length + 8;
  const int status = Reserve(needed);
  if (status != CodecOk) return status == ErrNoMemory ? ErrNoSpace : status;
  uint8_t* p = buffer_.data() + used_;
  if (mode == CompactMode) {
    p = WriteVarint(len32, WriteVarint(tag, p));
  } else {
    WriteBe32(tag, p);
    WriteBe32(len32, p + 4);
    p += 8;
  }
  if (length > 0) std::memcpy(p, value, static_cast<size_t>(length));
  fields_.push_back(Field{tag, static_cast<int32_t>(p - buffer_.data()), static_cast<int32_t>(length)});
  used_ += static_cast<int32_t>(needed);
  Changed();
  return CodecOk;
}

int TagCodec::PutInt(uint32_t tag, int32_t value) { return PutUInt(tag, static_cast<uint32_t>(value)); }

int TagCodec::PutUInt(uint32_t tag, uint32_t value) {
  uint8_t v[4];
  WriteInt32(Mode(), value, v);
  return Append(tag, v, 4);
}

int TagCodec::PutBool(uint32_t tag, bool value) {
  const uint8_t v[4] = {static_cast<uint8_t>(value ? 1 : 0), 0, 0, 0};
  return Append(tag, v, 4);
}

int TagCodec::PutBytes(uint32_t tag, ByteView value) {
  if (value.data == nullptr && value.size > 0) return ErrBadArgument;
  if (value.size > static_cast<size_t>(kMaxFieldLength)) return ErrBadSize;
  if (!attached_ && Overlaps(value.data, value.size, buffer_)) {
    const Bytes copy = value.ToBytes();  // growing would move the source
    return Append(tag, copy.data(), static_cast<int64_t>(copy.size()));
  }
  return Append(tag, value.data, static_cast<int64_t>(value.size));
}

int TagCodec::PutCodec(uint32_t tag, TagCodec* child) {
  if (child == nullptr) return ErrBadArgument;
  child->Finalize();
  return PutBytes(tag, child->Image());
}

// --- Reading -----------------------------------------------------------------

void TagCodec::BuildIndex() const {
  int bits = 4;
  while ((size_t{1} << bits) < 2 * fields_.size()) ++bits;
  index_.assign(size_t{1} << bits, Field{0, -1, 0});
  const size_t mask = index_.size() - 1;
  for (const Field& f : fields_) {
    size_t slot = HashTag(f.tag, bits);
    while (index_[slot].value >= 0 && index_[slot].tag != f.tag) slot = (slot + 1) & mask;
    if (index_[slot].value < 0) index_[slot] = f;  // keep the first occurrence only
  }
}

int TagCodec::FindField(uint32_t tag, Field* field) const {
  if (used_ == kHeaderSize) return ErrNotPresent;
  if (Mode() > CompactMode) return ErrBadMode;
  if (fields_.size() <= kLinearFields) {
    for (const Field& f : fields_) {
      if (f.tag == tag) {
        *field = f;
        return CodecOk;
      }
    }
    return ErrNotPresent;
  }
  if (index_.empty()) BuildIndex();
  const int bits = __builtin_ctzll(index_.size());
  const size_t mask = index_.size() - 1;
  for (size_t slot = HashTag(tag, bits); index_[slot].value >= 0; slot = (slot + 1) & mask) {
    if (index_[slot].tag == tag) {
      *field = index_[slot];
      return CodecOk;
    }
  }
  return ErrNotPresent;
}

int TagCodec::GetFixedWidth(uint32_t tag, int width, uint64_t* out) const {
  *out = 0;
  Field f;
  const int status = FindField(tag, &f);
  if (status != CodecOk) return status;
  if (f.length != width) return ErrMalformed;
  const uint8_t* p = Data() + f.value;
  uint64_t v = 0;
  for (int i = 0; i < width; ++i) {
    const int shift = Mode() == FixedMode ? 8 * (width - 1 - i) : 8 * i;
    v |= uint64_t{p[i]} << shift;
  }
  *out = v;
  return CodecOk;
}

int TagCodec::GetInt(uint32_t tag, int32_t* out) const {
  if (out == nullptr) return ErrBadArgument;
  uint64_t v;
  const int status = GetFixedWidth(tag, 4, &v);
  *out = static_cast<int32_t>(static_cast<uint32_t>(v));
  return status;
}

int TagCodec::GetUInt(uint32_t tag, uint32_t* out) const {
  if (out == nullptr) return ErrBadArgument;
  uint64_t v;
  const int status = GetFixedWidth(tag, 4, &v);
  *out = static_cast<uint32_t>(v);
  return status;
}

int TagCodec::GetInt64(uint32_t tag, int64_t* out) const {
  if (out == nullptr) return ErrBadArgument;
  uint64_t v;
  const int status = GetFixedWidth(tag, 8, &v);
  *out = static_cast<int64_t>(v);
  return status;
}

int TagCodec::GetBytes(uint32_t tag, uint8_t* buffer, int32_t* length) const {
  if (length == nullptr || *length < 0 || (buffer == nullptr && *length != 0)) return ErrBadArgument;
  if (buffer != nullptr) std::memset(buffer, 0, static_cast<size_t>(*length));
  Field f;
  const int status = FindField(tag, &f);
  if (status != CodecOk) return status;
  if (buffer == nullptr || f.length > *length) {
    *length = f.length;
    return ErrTooSmall;
  }
  if (f.length > 0) std::memcpy(buffer, Data() + f.value, static_cast<size_t>(f.length));
  *length = f.length;
  return CodecOk;
}

int TagCodec::GetView(uint32_t tag, ByteView* out) const {
  if (out == nullptr) return ErrBadArgument;
  *out = ByteView();
  Field f;
  const int status = FindField(tag, &f);
  if (status == CodecOk) *out = ByteView(Data() + f.value, static_cast<size_t>(f.length));
  return status;
}

int TagCodec::GetString(uint32_t tag, std::string* out) const {
  if (out == nullptr) return ErrBadArgument;
  ByteView v;
  const int status = GetView(tag, &v);
  out->assign(reinterpret_cast<const char*>(v.data), v.size);
  return status;
}

int TagCodec::GetCodec(uint32_t tag, TagCodec* out) const {
  if (out == nullptr) return ErrBadArgument;
  Field f;
  const int status = FindField(tag, &f);
  if (status != CodecOk) return status;
  if (f.length == 0) {
    out->ResetTo(kDefaultCodecMode);
    return CodecOk;
  }
  const int loaded = out->Load(Data() + f.value, f.length);
  return loaded == ErrBadArgument ? ErrMalformed : loaded;
}

// --- Whole images ------------------------------------------------------------

int TagCodec::Load(const uint8_t* bytes, int32_t length, int32_t capacity) {
  if (bytes == nullptr || length <= 0 || capacity < 0 || (capacity != 0 && capacity < length)) {
    return ErrBadArgument;
  }
  if (ValidateInto(bytes, length, nullptr, &spare_fields_) != CodecOk) return ErrMalformed;
  const size_t room = static_cast<size_t>(capacity != 0 ? capacity : length);
  try {
    if (!attached_ && Overlaps(bytes, static_cast<size_t>(length), buffer_)) {
      Bytes copy(room, 0);
      std::memcpy(copy.data(), bytes, static_cast<size_t>(length));
      buffer_ = std::move(copy);
    } else {
      buffer_.resize(room);
      std::memcpy(buffer_.data(), bytes, static_cast<size_t>(length));
    }
  } catch (const std::bad_alloc&) {
    return ErrNoMemory;
  }
  attached_ = nullptr;
  used_ = length;
  fields_.swap(spare_fields_);
  Changed();
  return CodecOk;
}

int TagCodec::Attach(const uint8_t* bytes, int32_t length) {
  if (bytes == nullptr || length <= 0) return ErrBadArgument;
  if (ValidateInto(bytes, length, nullptr, &spare_fields_) != CodecOk) return ErrMalformed;
  attached_ = bytes;
  used_ = length;
  fields_.swap(spare_fields_);
  Changed();
  return CodecOk;
}

int TagCodec::Detach(Bytes* image) {
  Finalize();
  const uint8_t mode = Mode();
  if (image != nullptr) {
    if (attached_) {
      image->assign(attached_, attached_ + used_);
    } else {
      buffer_.resize(static_cast<size_t>(used_));
      *image = std::move(buffer_);
    }
  }
  ResetTo(mode);
  return CodecOk;
}

int TagCodec::CopyTo(uint8_t* buffer, int32_t* length) {
  if (length == nullptr) return ErrBadArgument;
  Finalize();
  if (*length < used_) {
    *length = used_;
    return ErrTooSmall;
  }
  if (buffer == nullptr) return ErrBadArgument;
  std::memcpy(buffer, Data(), static_cast<size_t>(used_));
  *length = used_;
  return CodecOk;
}

int TagCodec::Reset() {
  if (attached_) return ErrBadArgument;
  ResetTo(Mode());
  return CodecOk;
}

int TagCodec::SetMode(uint8_t mode) {
  if (attached_) return ErrBadArgument;
  if (mode > CompactMode) return ErrBadMode;
  if (mode != Mode()) ResetTo(mode);
  return CodecOk;
}

}  // namespace protocol
}  // namespace quill
