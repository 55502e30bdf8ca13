// FramedCodec: a TagCodec saved and loaded between the frame bytes 0xBE and
// 0xED, as the body of a WireMessage travels.
#ifndef QUILL_PROTOCOL_FRAMED_CODEC_H_
#define QUILL_PROTOCOL_FRAMED_CODEC_H_

#include "protocol/tag_codec.h"

namespace quill {
namespace protocol {

class FramedCodec : public TagCodec {
 public:
  static constexpr uint8_t kStart = 0xBE;
  static constexpr uint8_t kEnd = 0xED;

  using TagCodec::TagCodec;

  // 0xBE, the finalised image, 0xED.
  int SaveFramed(Bytes* out);
  // Empty input, or exactly the two frame bytes: an empty codec. A length of
  // 1, or missing frame bytes: ErrBadSize. Otherwise Load of the bytes
  // between the frame bytes (its status on failure; the codec is unchanged).
  int LoadFramed(const uint8_t* bytes, int64_t length);
};

}  // namespace protocol
}  // namespace quill

#endif  // QUILL_PROTOCOL_FRAMED_CODEC_H_
