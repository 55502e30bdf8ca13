#include "protocol/wire_message.h"

#include <cstring>

namespace quill {
namespace protocol {

int WireMessage::Pack(Bytes* out) {
  if (out == nullptr) return ErrBadArgument;
  Bytes framed;
  const int status = body_.SaveFramed(&framed);
  if (status != CodecOk) return status;
  header_.Seal(static_cast<uint32_t>(framed.size()));
  Bytes packed(PacketHeader::kSize + framed.size());
  std::memcpy(packed.data(), header_.data(), PacketHeader::kSize);
  std::memcpy(packed.data() + PacketHeader::kSize, framed.data(), framed.size());
  *out = std::move(packed);
  return CodecOk;
}

int WireMessage::Unpack(const uint8_t* bytes, int64_t length) {
  if (bytes == nullptr || length < PacketHeader::kSize) return ErrBadSize;
  if (!PacketHeader::ChecksumMatches(bytes)) return ErrBadArgument;
  PacketHeader header;
  std::memcpy(header.mutable_data(), bytes, PacketHeader::kSize);
  // Compared without a sum that could wrap.
  if (header.BodyLength() > static_cast<uint64_t>(length - PacketHeader::kSize)) return ErrBadSize;
  const int status = body_.LoadFramed(bytes + PacketHeader::kSize, header.BodyLength());
  if (status != CodecOk) return status;
  header_ = header;
  return CodecOk;
}

}  // namespace protocol
}  // namespace quill
