#include "protocol/framed_codec.h"

namespace quill {
namespace protocol {

int FramedCodec::SaveFramed(Bytes* out) {
  if (out == nullptr) return ErrBadArgument;
  Finalize();
  Bytes framed;
  framed.reserve(static_cast<size_t>(Size()) + 2);
  framed.push_back(kStart);
  framed.insert(framed.end(), Data(), Data() + Size());
  framed.push_back(kEnd);
  *out = std::move(framed);
  return CodecOk;
}

int FramedCodec::LoadFramed(const uint8_t* bytes, int64_t length) {
  if (length < 0 || length == 1) return ErrBadSize;
  if (bytes == nullptr || length == 0) {
    Detach(nullptr);
    return SetMode(kDefaultCodecMode);
  }
  if (bytes[0] != kStart || bytes[length - 1] != kEnd) return ErrBadSize;
  if (length == 2) {
    Detach(nullptr);
    return SetMode(kDefaultCodecMode);
  }
  if (length - 2 > kMaxFieldLength) return ErrBadSize;
  return Load(bytes + 1, static_cast<int32_t>(length - 2));
}

}  // namespace protocol
}  // namespace quill
