#include "protocol/packet_header.h"

namespace quill {
namespace protocol {

uint16_t PacketHeader::Checksum(const uint8_t* header) {
  uint32_t sum = 0;
  for (int i = 0; i < kSize; i += 2) {
    if (i == 10) continue;  // the checksum itself counts as zero
    sum += uint32_t{header[i]} | (uint32_t{header[i + 1]} << 8);
  }
  sum = (sum & 0xFFFF) + (sum >> 16);
  sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<uint16_t>(~sum);
}

bool PacketHeader::ChecksumMatches(const uint8_t* header) {
  const uint16_t stored = static_cast<uint16_t>((header[10] << 8) | header[11]);
  return stored == Checksum(header);
}

void PacketHeader::Seal(uint32_t body_length) {
  Put32(4, body_length);
  bytes_[3] = kSize;
  Put32(16, kMagic);
  Put16(10, Checksum(bytes_.data()));
}

}  // namespace protocol
}  // namespace quill
