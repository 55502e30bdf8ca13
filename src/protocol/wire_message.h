// WireMessage: one protocol message, a PacketHeader followed by the framed
// body codec. Packed form: 32 header bytes, then 0xBE, the body image, 0xED.
//
// Encoders set the type and uin and put the body fields; decoders check the
// type (see DecodeResponseHead) before they read any field.
#ifndef QUILL_PROTOCOL_WIRE_MESSAGE_H_
#define QUILL_PROTOCOL_WIRE_MESSAGE_H_

#include <cstdint>

#include "platform/bytes.h"
#include "protocol/framed_codec.h"
#include "protocol/message_type.h"
#include "protocol/packet_header.h"

namespace quill {
namespace protocol {

class WireMessage {
 public:
  WireMessage() = default;

  PacketHeader& Header() { return header_; }
  const PacketHeader& Header() const { return header_; }
  FramedCodec& Body() { return body_; }
  const FramedCodec& Body() const { return body_; }

  void SetType(MessageType type) { header_.SetType(static_cast<uint16_t>(type)); }
  uint16_t GetType() const { return header_.GetType(); }
  void SetUin(uint32_t uin) { header_.SetUin(uin); }
  void SetFlag(uint8_t flag) { header_.SetFlag(flag); }

  // The packed message. Seals the header (body length, constants, checksum).
  int Pack(Bytes* out);

  // Reads a packed message. Fewer than 32 bytes: ErrBadSize; a header
  // checksum mismatch: ErrBadArgument; fewer body bytes than the header
  // says: ErrBadSize; then LoadFramed of the body. Bytes after the body are
  // ignored. On failure the message is unchanged.
  int Unpack(const uint8_t* bytes, int64_t length);

 private:
  PacketHeader header_;  // as sent or as received
  FramedCodec body_;     // the message fields
};

}  // namespace protocol
}  // namespace quill

#endif  // QUILL_PROTOCOL_WIRE_MESSAGE_H_
