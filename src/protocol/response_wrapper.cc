#include "protocol/response_wrapper.h"

#include "protocol/tag_codec.h"

namespace quill {
namespace protocol {
namespace {

enum : uint32_t {
  kTagResult = 1,
  kTagPayload = 2,
};

}  // namespace

int ReadWrapper(ByteView body, int32_t* result, Bytes* payload) {
  if (result == nullptr || payload == nullptr || body.data == nullptr) return kEnvBadArgument;
  TagCodec wrapper;
  if (body.size > static_cast<size_t>(TagCodec::kMaxFieldLength) ||
      wrapper.Attach(body.data, static_cast<int32_t>(body.size)) != CodecOk) {
    return kEnvMalformed;
  }
  int32_t r = 0;
  if (wrapper.GetInt(kTagResult, &r) != CodecOk) return kEnvMalformed;
  ByteView value;
  if (r == 0 && wrapper.GetView(kTagPayload, &value) != CodecOk) return kEnvMalformed;
  *result = r;
  *payload = value.ToBytes();
  return kEnvOk;
}

int WriteWrapper(int32_t result, ByteView payload, Bytes* out) {
  if (out == nullptr || (payload.data == nullptr && payload.size > 0)) return kEnvBadArgument;
  TagCodec wrapper;
  wrapper.SetMode(CompactMode);
  if (wrapper.PutInt(kTagResult, result) != CodecOk) return kEnvWriteFailed;
  if (result == 0 && wrapper.PutBytes(kTagPayload, payload) != CodecOk) return kEnvWriteFailed;
  wrapper.Detach(out);
  return kEnvOk;
}

}  // namespace protocol
}  // namespace quill
