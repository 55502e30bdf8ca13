// PacketHeader: the 32 bytes in front of every message body. All numbers
// are big-endian:
//
//   0  2  zero              8  2  message type      16  4  constant 1234
//   2  1  flag byte        10  2  header checksum   20  4  account number (uin)
//   3  1  header length 32 12  4  zero              24  8  zero
//   4  4  framed body length
#ifndef QUILL_PROTOCOL_PACKET_HEADER_H_
#define QUILL_PROTOCOL_PACKET_HEADER_H_

#include <array>
#include <cstdint>

namespace quill {
namespace protocol {

class PacketHeader {
 public:
  static constexpr int kSize = 32;
  static constexpr uint32_t kMagic = 1234;

  PacketHeader() { bytes_.fill(0); }

  void SetType(uint16_t type) { Put16(8, type); }
  uint16_t GetType() const { return Get16(8); }
  void SetUin(uint32_t uin) { Put32(20, uin); }
  uint32_t GetUin() const { return Get32(20); }
  void SetFlag(uint8_t flag) { bytes_[2] = flag; }
  uint8_t GetFlag() const { return bytes_[2]; }
  uint32_t BodyLength() const { return Get32(4); }
  uint16_t StoredChecksum() const { return Get16(10); }

  // Sets the body length, the header length byte and the constant, then
  // computes and stores the checksum.
  void Seal(uint32_t body_length);

  // Over a header with bytes 10-11 taken as zero: sixteen 16-bit words, the
  // first byte of each pair the LOW byte, summed in 32 bits, folded twice,
  // complemented.
  static uint16_t Checksum(const uint8_t* header);
  // The checksum stored (big-endian) at bytes 10-11 matches.
  static bool ChecksumMatches(const uint8_t* header);

  const uint8_t* data() const { return bytes_.data(); }
  uint8_t* mutable_data() { return bytes_.data(); }

 private:
  void Put16(int at, uint16_t v) {
    bytes_[at] = static_cast<uint8_t>(v >> 8);
    bytes_[at + 1] = static_cast<uint8_t>(v);
  }
  void Put32(int at, uint32_t v) {
    Put16(at, static_cast<uint16_t>(v >> 16));
    Put16(at + 2, static_cast<uint16_t>(v));
  }
  uint16_t Get16(int at) const { return static_cast<uint16_t>((bytes_[at] << 8) | bytes_[at + 1]); }
  uint32_t Get32(int at) const { return (uint32_t{Get16(at)} << 16) | Get16(at + 2); }

  std::array<uint8_t, kSize> bytes_;  // the header as it travels
};

}  // namespace protocol
}  // namespace quill

#endif  // QUILL_PROTOCOL_PACKET_HEADER_H_
